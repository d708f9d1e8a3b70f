#include "shell.hpp"

#include <algorithm>
#include <set>

#include <CLI/CLI.hpp>

#include "render.hpp"
#include "suggest.hpp"

namespace qcli {

namespace {

// The parts of a type name such as "FORMAT:{table,json}": the value's name
// and the choices that a membership check lists in braces.
void splitTypeName(const std::string &typeName, OptionInfo &info) {
    const std::size_t colon = typeName.find(':');
    info.valueName = typeName.substr(0, colon);
    const std::size_t open = typeName.find('{');
    const std::size_t close = typeName.find('}', open);
    if (open == std::string::npos || close == std::string::npos) return;
    std::string item;
    for (std::size_t i = open + 1; i <= close; ++i) {
        if (typeName[i] == ',' || typeName[i] == '}') {
            if (!item.empty()) info.choices.push_back(item);
            item.clear();
        } else {
            item.push_back(typeName[i]);
        }
    }
}

void describe(const CLI::App &app, std::vector<std::string> path, std::vector<CommandInfo> &out) {
    CommandInfo info;
    info.path = path;
    info.help = app.get_description();
    info.takesToolOptions = app.get_parent() == nullptr || app.get_fallthrough();
    for (const CLI::Option *opt : app.get_options()) {
        if (opt->get_group().empty()) continue;  // hidden
        OptionInfo o;
        o.positional = !opt->nonpositional();
        if (o.positional) {
            o.names.push_back(opt->get_name(true));
        } else {
            for (const std::string &l : opt->get_lnames()) o.names.push_back(cat({"--", l}));
            for (const std::string &s : opt->get_snames()) o.names.push_back(cat({"-", s}));
        }
        o.takesValue = opt->get_type_size_max() > 0 && opt->get_expected_max() > 0;
        if (o.takesValue) splitTypeName(opt->get_type_name(), o);
        o.help = opt->get_description();
        info.options.push_back(std::move(o));
    }
    const std::vector<const CLI::App *> subs = visibleSubcommands(app);
    for (const CLI::App *sub : subs) info.subcommands.push_back(sub->get_name());
    out.push_back(std::move(info));
    for (const CLI::App *sub : subs) {
        std::vector<std::string> subPath = path;
        subPath.push_back(sub->get_name());
        describe(*sub, std::move(subPath), out);
    }
}

std::string joined(const std::vector<std::string> &words, std::string_view separator) {
    std::string out;
    for (const std::string &w : words) {
        if (!out.empty()) out += separator;
        out += w;
    }
    return out;
}

std::string key(const std::vector<std::string> &path) { return joined(path, "/"); }

// What a completer offers for the value of an option.
enum class ValueKind { Free, Directory, File, Choices };

ValueKind kindOf(const OptionInfo &o) {
    if (!o.choices.empty()) return ValueKind::Choices;
    if (o.valueName == "DIR") return ValueKind::Directory;
    if (o.valueName == "FILE") return ValueKind::File;
    return ValueKind::Free;
}

// Facts every generator needs, gathered once.
struct Tree {
    const std::vector<CommandInfo> &commands;
    std::vector<const OptionInfo *> valueOptions;  // named options that take a value, each name once
    std::vector<std::string> transitions;          // "parent/word" for each command below the top
    std::vector<std::string> topCommands;
    std::vector<const OptionInfo *> globals;        // the tool's options accepted after any command

    explicit Tree(const std::vector<CommandInfo> &c) : commands(c) {
        std::set<std::string> seen;
        for (const CommandInfo &cmd : commands) {
            if (!cmd.path.empty()) {
                std::vector<std::string> parent(cmd.path.begin(), cmd.path.end() - 1);
                transitions.push_back(cat({key(parent), "/", cmd.path.back()}));
            }
            for (const OptionInfo &o : cmd.options) {
                if (o.positional || !o.takesValue || seen.count(o.names.front())) continue;
                seen.insert(o.names.front());
                valueOptions.push_back(&o);
            }
        }
        for (const CommandInfo &cmd : commands) {
            if (!cmd.path.empty()) continue;
            topCommands = cmd.subcommands;
            for (const OptionInfo &o : cmd.options) {
                if (!o.positional && o.names.front() != "--help" && o.names.front() != "--version") {
                    globals.push_back(&o);
                }
            }
        }
    }

    // The named options offered at a command: its own, then the tool's.
    std::vector<const OptionInfo *> optionsAt(const CommandInfo &cmd) const {
        std::vector<const OptionInfo *> out;
        std::set<std::string> names;
        for (const OptionInfo &o : cmd.options) {
            if (o.positional) continue;
            out.push_back(&o);
            names.insert(o.names.front());
        }
        if (!cmd.path.empty() && cmd.takesToolOptions) {
            for (const OptionInfo *g : globals) {
                if (!names.count(g->names.front())) out.push_back(g);
            }
        }
        return out;
    }

    // Whether the command's first positional argument is a directory.
    static bool takesDirectory(const CommandInfo &cmd) {
        for (const OptionInfo &o : cmd.options) {
            if (o.positional) return o.valueName == "DIR";
        }
        return false;
    }

    // The words offered at a command where no option is being typed:
    // subcommands, or the choices of its first positional argument.
    std::vector<std::pair<std::string, std::string>> wordsAt(const CommandInfo &cmd) const {
        std::vector<std::pair<std::string, std::string>> out;
        for (const CommandInfo &sub : commands) {
            if (sub.path.size() == cmd.path.size() + 1 && std::equal(cmd.path.begin(), cmd.path.end(), sub.path.begin())) {
                out.emplace_back(sub.path.back(), sub.help);
            }
        }
        for (const OptionInfo &o : cmd.options) {
            if (!o.positional) continue;
            // The help command takes command names.
            const std::vector<std::string> &choices = o.valueName == "COMMAND" ? topCommands : o.choices;
            for (const std::string &c : choices) out.emplace_back(c, "");
            break;
        }
        return out;
    }
};

std::string optionNames(const std::vector<const OptionInfo *> &options) {
    std::vector<std::string> names;
    for (const OptionInfo *o : options) names.insert(names.end(), o->names.begin(), o->names.end());
    return joined(names, " ");
}

std::string allNames(const std::vector<const OptionInfo *> &options, ValueKind kind) {
    std::vector<std::string> names;
    for (const OptionInfo *o : options) {
        if (kindOf(*o) == kind) names.insert(names.end(), o->names.begin(), o->names.end());
    }
    return joined(names, "|");
}

std::string bashScript(const Tree &t) {
    std::string s =
        "# bash completion for quorlina(1), written by 'quorlina completion bash'.\n"
        "_quorlina() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    local path= word skip=0 i\n"
        "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        "        word=${COMP_WORDS[i]}\n"
        "        if ((skip)); then skip=0; continue; fi\n"
        "        case $word in\n"
        "            --) break ;;\n";
    std::vector<std::string> valueNames;
    for (const OptionInfo *o : t.valueOptions) valueNames.insert(valueNames.end(), o->names.begin(), o->names.end());
    s += cat({"            ", joined(valueNames, "|"), ") skip=1 ;;\n"
              "            -*) ;;\n"
              "            *) case $path/$word in\n"
              "                   ", joined(t.transitions, "|"), ") path=${path:+$path/}$word ;;\n"
              "               esac ;;\n"
              "        esac\n"
              "    done\n"
              "    case $prev in\n"});
    if (std::string dirs = allNames(t.valueOptions, ValueKind::Directory); !dirs.empty()) {
        s += cat({"        ", dirs, ") compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n"});
    }
    if (std::string files = allNames(t.valueOptions, ValueKind::File); !files.empty()) {
        s += cat({"        ", files, ") compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"});
    }
    for (const OptionInfo *o : t.valueOptions) {
        if (kindOf(*o) != ValueKind::Choices) continue;
        s += cat({"        ", joined(o->names, "|"), ") COMPREPLY=($(compgen -W \"", joined(o->choices, " "),
                  "\" -- \"$cur\")); return ;;\n"});
    }
    if (std::string free = allNames(t.valueOptions, ValueKind::Free); !free.empty()) {
        s += cat({"        ", free, ") return ;;\n"});
    }
    s += "    esac\n    local words=\n    if [[ $cur == -* ]]; then\n        case $path in\n";
    for (const CommandInfo &cmd : t.commands) {
        s += cat({"            \"", key(cmd.path), "\") words=\"", optionNames(t.optionsAt(cmd)), "\" ;;\n"});
    }
    s += "        esac\n    else\n        case $path in\n";
    for (const CommandInfo &cmd : t.commands) {
        if (Tree::takesDirectory(cmd)) {
            s += cat({"            \"", key(cmd.path),
                      "\") compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n"});
        }
        std::vector<std::string> words;
        for (const auto &w : t.wordsAt(cmd)) words.push_back(w.first);
        if (!words.empty()) s += cat({"            \"", key(cmd.path), "\") words=\"", joined(words, " "), "\" ;;\n"});
    }
    s += "        esac\n"
         "    fi\n"
         "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
         "}\n"
         "complete -F _quorlina quorlina\n";
    return s;
}

// A zsh or fish single-quoted word.
std::string zshQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out.push_back(c);
    }
    out += "'";
    return out;
}

std::string fishQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out += "'";
    return out;
}

// "name:description" for _describe, with colons in the name escaped.
std::string describeItem(const std::string &name, const std::string &help) {
    std::string item;
    for (char c : name) {
        if (c == ':') item.push_back('\\');
        item.push_back(c);
    }
    if (!help.empty()) item += cat({":", help});
    return zshQuoted(item);
}

std::string zshScript(const Tree &t) {
    std::string s =
        "#compdef quorlina\n"
        "# zsh completion for quorlina(1), written by 'quorlina completion zsh'.\n"
        "_quorlina() {\n"
        "  local qpath= word i skip=0\n"
        "  for ((i = 2; i < CURRENT; i++)); do\n"
        "    word=${words[i]}\n"
        "    if ((skip)); then skip=0; continue; fi\n"
        "    case $word in\n"
        "      (--) break ;;\n";
    std::vector<std::string> valueNames;
    for (const OptionInfo *o : t.valueOptions) valueNames.insert(valueNames.end(), o->names.begin(), o->names.end());
    s += cat({"      (", joined(valueNames, "|"), ") skip=1 ;;\n"
              "      (-*) ;;\n"
              "      (*) case $qpath/$word in\n"
              "            (", joined(t.transitions, "|"), ") qpath=${qpath:+$qpath/}$word ;;\n"
              "          esac ;;\n"
              "    esac\n"
              "  done\n"
              "  case ${words[CURRENT-1]} in\n"});
    if (std::string dirs = allNames(t.valueOptions, ValueKind::Directory); !dirs.empty()) {
        s += cat({"    (", dirs, ") _files -/; return ;;\n"});
    }
    if (std::string files = allNames(t.valueOptions, ValueKind::File); !files.empty()) {
        s += cat({"    (", files, ") _files; return ;;\n"});
    }
    for (const OptionInfo *o : t.valueOptions) {
        if (kindOf(*o) != ValueKind::Choices) continue;
        s += cat({"    (", joined(o->names, "|"), ") compadd -- ", joined(o->choices, " "), "; return ;;\n"});
    }
    if (std::string free = allNames(t.valueOptions, ValueKind::Free); !free.empty()) {
        s += cat({"    (", free, ") _message 'a value'; return ;;\n"});
    }
    s += "  esac\n  local -a cmds opts\n  case $qpath in\n";
    for (const CommandInfo &cmd : t.commands) {
        std::vector<std::string> cmds;
        for (const auto &w : t.wordsAt(cmd)) cmds.push_back(describeItem(w.first, w.second));
        std::vector<std::string> opts;
        for (const OptionInfo *o : t.optionsAt(cmd)) {
            for (const std::string &n : o->names) opts.push_back(describeItem(n, o->help));
        }
        s += cat({"    (", zshQuoted(key(cmd.path)), ")\n      cmds=(", joined(cmds, " "), ")\n      opts=(",
                  joined(opts, " "), ") ;;\n"});
    }
    s += "  esac\n"
         "  if [[ $PREFIX != -* ]]; then\n"
         "    case $qpath in\n";
    for (const CommandInfo &cmd : t.commands) {
        if (Tree::takesDirectory(cmd)) s += cat({"      (", zshQuoted(key(cmd.path)), ") _files -/; return ;;\n"});
    }
    s += "    esac\n"
         "  fi\n"
         "  if [[ $PREFIX == -* ]]; then\n"
         "    _describe -t options 'option' opts\n"
         "  else\n"
         "    _describe -t commands 'command' cmds\n"
         "  fi\n"
         "}\n"
         "if [[ $zsh_eval_context[-1] == loadautofunc ]]; then\n"
         "  _quorlina \"$@\"\n"
         "else\n"
         "  compdef _quorlina quorlina\n"
         "fi\n";
    return s;
}

std::string fishScript(const Tree &t) {
    std::vector<std::string> valueNames;
    for (const OptionInfo *o : t.valueOptions) valueNames.insert(valueNames.end(), o->names.begin(), o->names.end());
    std::vector<std::string> transitions;
    for (const std::string &tr : t.transitions) transitions.push_back(tr[0] == '/' ? tr.substr(1) : tr);
    std::string s = cat({
        "# fish completion for quorlina(1), written by 'quorlina completion fish'.\n"
        "function __quorlina_path\n"
        "    set -l path\n"
        "    set -l skip 0\n"
        "    for word in (commandline -opc)[2..-1]\n"
        "        if test $skip = 1\n"
        "            set skip 0\n"
        "            continue\n"
        "        end\n"
        "        switch $word\n"
        "            case --\n"
        "                break\n"
        "            case ", joined(valueNames, " "), "\n"
        "                set skip 1\n"
        "            case '-*'\n"
        "            case '*'\n"
        "                set -l next (string join / $path $word)\n"
        "                if contains -- $next ", joined(transitions, " "), "\n"
        "                    set path $path $word\n"
        "                end\n"
        "        end\n"
        "    end\n"
        "    string join / $path\n"
        "end\n"
        "function __quorlina_at\n"
        "    set -l path (__quorlina_path)\n"
        "    test \"$path\" = \"$argv[1]\"\n"
        "end\n"
        "complete -c quorlina -f\n"});
    for (const CommandInfo &cmd : t.commands) {
        const std::string at = cat({"-n ", fishQuoted(cat({"__quorlina_at ", zshQuoted(key(cmd.path))}))});
        if (Tree::takesDirectory(cmd)) s += cat({"complete -c quorlina ", at, " -a '(__fish_complete_directories)'\n"});
        for (const auto &w : t.wordsAt(cmd)) {
            s += cat({"complete -c quorlina ", at, " -a ", fishQuoted(w.first)});
            if (!w.second.empty()) s += cat({" -d ", fishQuoted(w.second)});
            s += "\n";
        }
        // The tool's options are offered everywhere: only its own here.
        for (const OptionInfo &o : cmd.options) {
            if (o.positional || (!cmd.path.empty() && o.names.front() == "--help")) continue;
            const bool global = cmd.path.empty() && o.names.front() != "--version";
            std::string line = "complete -c quorlina";
            if (!global) line += cat({" ", at});
            for (const std::string &n : o.names) line += n.size() > 2 && n[1] == '-' ? cat({" -l ", n.substr(2)}) : cat({" -s ", n.substr(1)});
            switch (o.takesValue ? kindOf(o) : ValueKind::Free) {
                case ValueKind::Directory: line += " -x -a '(__fish_complete_directories)'"; break;
                case ValueKind::File: line += " -r -F"; break;
                case ValueKind::Choices: line += cat({" -x -a ", fishQuoted(joined(o.choices, " "))}); break;
                case ValueKind::Free: if (o.takesValue) line += " -x"; break;
            }
            line += cat({" -d ", fishQuoted(o.help), "\n"});
            s += line;
        }
    }
    return s;
}

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

std::vector<CommandInfo> describeCommands(const CLI::App &top) {
    std::vector<CommandInfo> out;
    describe(top, {}, out);
    return out;
}

std::string completionScript(const std::vector<CommandInfo> &commands, std::string_view shell) {
    const Tree tree(commands);
    if (shell == "bash") return bashScript(tree);
    if (shell == "zsh") return zshScript(tree);
    if (shell == "fish") return fishScript(tree);
    return {};
}

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
    s += ".SH \"EXIT STATUS\"\n";
    for (const ExitStatus &e : statuses) s += cat({".TP\n.B ", roff(e.status), "\n", roff(e.meaning), "\n"});
    s += ".SH \"SEE ALSO\"\n"
         "\\fBquorlina help\\fR [\\fICOMMAND\\fR [\\fIVERB\\fR]] and \\fBquorlina\\fR \\fICOMMAND\\fR "
         "\\fB\\-\\-help\\fR describe each command; \\fBquorlina completion\\fR \\fIbash\\fR|\\fIzsh\\fR|\\fIfish\\fR "
         "prints a completion script.\n";
    return s;
}

}  // namespace qcli
