#include "man_page.hpp"

#include "strings.hpp"

namespace qcli {

namespace {

// Text for a roff line: backslashes escaped, and a line that would start
// with a control character protected.
std::string roff(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\e";
        else out.push_back(c);
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

// An option name or command word in roff: its hyphens are minus signs.
std::string roffWord(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '-') out += "\\-";
        else if (c == '\\') out += "\\e";
        else out.push_back(c);
    }
    return out;
}

std::string optionTerm(const OptionInfo &o) {
    std::string term;
    for (const std::string &n : o.names) {
        if (!term.empty()) term += ", ";
        term += cat({"\\fB", roffWord(n), "\\fR"});
    }
    if (o.takesValue) {
        const std::string value = o.choices.empty() ? o.valueName : joined(o.choices, "|");
        if (!value.empty()) term += cat({" \\fI", roffWord(value), "\\fR"});
    }
    return term;
}

std::string synopsis(const CommandInfo &cmd) {
    std::string line = cat({"\\fBquorlina ", roffWord(joined(cmd.path, " ")), "\\fR"});
    bool hasOptions = false;
    for (const OptionInfo &o : cmd.options) {
        if (o.positional) line += cat({" \\fI", roffWord(o.names.front()), "\\fR"});
        else if (o.names.front() != "--help") hasOptions = true;
    }
    if (hasOptions) line += " [\\fIOPTIONS\\fR]";
    return line;
}

}  // namespace

std::string manPage(const std::vector<CommandInfo> &commands, const std::vector<ExitStatus> &statuses,
                    std::string_view version) {
    std::string s = cat({".TH QUORLINA 1 \"\" \"quorlina ", roff(version), "\" \"User Commands\"\n"
                         ".SH NAME\n"
                         "quorlina \\- manage the snippets, posts and notes of a static site\n"
                         ".SH SYNOPSIS\n"
                         ".B quorlina\n"
                         "[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGUMENTS\\fR]\n"
                         ".SH DESCRIPTION\n"});
    for (const CommandInfo &cmd : commands) {
        if (!cmd.path.empty()) continue;
        s += cat({roff(cmd.help), "\n"
                  ".PP\n"
                  "Without \\fB\\-\\-root\\fR the site root is the nearest directory, from the current "
                  "directory upwards, that has a \\fIcontent/\\fR directory or a site configuration file "
                  "(\\fIhugo.toml\\fR, \\fIconfig.toml\\fR, \\fIhugo.yaml\\fR or \\fIconfig.yaml\\fR). "
                  "A root that has neither is refused.\n"
                  ".SH OPTIONS\n"
                  "These options may also follow the command.\n"});
        for (const OptionInfo &o : cmd.options) {
            if (o.positional) continue;
            s += cat({".TP\n", optionTerm(o), "\n", roff(o.help), "\n"});
        }
    }
    s += ".SH COMMANDS\n";
    for (const CommandInfo &cmd : commands) {
        if (cmd.path.empty()) continue;
        if (!cmd.subcommands.empty()) {
            s += cat({".SS ", roffWord(joined(cmd.path, " ")), "\n", roff(cmd.help), "\n"});
            continue;
        }
        s += cat({".TP\n", synopsis(cmd), "\n", roff(cmd.help), "\n"});
        bool any = false;
        for (const OptionInfo &o : cmd.options) {
            if (o.names.front() == "--help") continue;
            s += cat({any ? "" : ".RS\n", ".TP\n", optionTerm(o), "\n", roff(o.help), "\n"});
            any = true;
        }
        if (any) s += ".RE\n";
    }
    s += ".SH ENVIRONMENT\n"
         ".TP\n.B VISUAL\n.TQ\n.B EDITOR\n"
         "The editor that \\fBpost edit\\fR and \\fBnote edit\\fR run on a copy of the file: "
         "\\fBVISUAL\\fR, else \\fBEDITOR\\fR, else \\fBvi\\fR; a command run by \\fI/bin/sh\\fR "
         "with the copy's path as its argument.\n"
         ".TP\n.B TMPDIR\n"
         "Where that copy is made (default \\fI/tmp\\fR). A copy the library refuses is kept there.\n";
    s += ".SH \"EXIT STATUS\"\n";
    for (const ExitStatus &e : statuses) s += cat({".TP\n.B ", roff(e.status), "\n", roff(e.meaning), "\n"});
    s += ".SH \"SEE ALSO\"\n"
         "\\fBquorlina help\\fR [\\fICOMMAND\\fR [\\fIVERB\\fR]] and \\fBquorlina\\fR \\fICOMMAND\\fR "
         "\\fB\\-\\-help\\fR describe each command; \\fBquorlina completion\\fR \\fIbash\\fR|\\fIzsh\\fR|\\fIfish\\fR "
         "prints a completion script.\n";
    return s;
}

}  // namespace qcli
