// The zsh completion script.
#include "completion_scripts.hpp"
#include "strings.hpp"

namespace qcli {
namespace completion {

namespace {

// "name:description" for _describe, with colons in the name escaped.
std::string describeItem(const std::string &name, const std::string &help) {
    std::string item;
    for (char c : name) {
        if (c == ':') item.push_back('\\');
        item.push_back(c);
    }
    if (!help.empty()) item += cat({":", help});
    return shellQuoted(item);
}

}  // namespace

std::string zshScript(const Tree &t) {
    static const ShellSyntax kZsh = {
        .locals = "  local qpath= qroot= word i skip=0\n",
        .unit = "  ", .parenthesised = true, .loop = "for ((i = 2; i < CURRENT; i++)); do", .word = "word=${words[i]}",
        .path = "qpath", .previous = "${words[CURRENT-1]}", .directory = "_files -/; return ;;",
        .file = "_files; return ;;", .choicesBefore = "compadd -- ", .choicesAfter = "; return ;;",
        .free = "_message 'a value'; return ;;", .itemsBefore = "compadd -- ${(f)\"", .itemsAfter = "\"}; return ;;",
        .toolWord = "\"${words[1]}\"", .nextWord = "${words[i+1]}"};
    // After the start, which offers the value of an option, come the
    // options or the words of the command the line has reached, for _describe.
    std::string s = cat({"#compdef quorlina\n"
                         "# zsh completion for quorlina(1), written by 'quorlina completion zsh'.\n",
                         scriptStart(t, kZsh)});
    s += "  local -a cmds opts\n  case $qpath in\n";
    for (const CommandInfo &cmd : t.commands) {
        std::vector<std::string> cmds;
        for (const auto &w : t.wordsAt(cmd)) cmds.push_back(describeItem(w.first, w.second));
        std::vector<std::string> opts;
        for (const OptionInfo *o : t.optionsAt(cmd)) {
            for (const std::string &n : o->names) opts.push_back(describeItem(n, o->help));
        }
        s += cat({"    (", shellQuoted(pathKey(cmd.path)), ")\n      cmds=(", joined(cmds, " "), ")\n      opts=(",
                  joined(opts, " "), ") ;;\n"});
    }
    s += "  esac\n"
         "  if [[ $PREFIX != -* ]]; then\n"
         "    case $qpath in\n";
    for (const CommandInfo &cmd : t.commands) {
        if (Tree::takesDirectory(cmd)) s += cat({"      (", shellQuoted(pathKey(cmd.path)), ") _files -/; return ;;\n"});
        const std::string items = Tree::positionalItems(cmd);
        if (!items.empty()) {
            s += cat({"      (", shellQuoted(pathKey(cmd.path)), ") ", kZsh.itemsBefore, itemsCommand(kZsh, items),
                      kZsh.itemsAfter, "\n"});
        }
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

}  // namespace completion
}  // namespace qcli
