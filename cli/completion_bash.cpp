// The bash completion script.
#include "completion_scripts.hpp"
#include "strings.hpp"

namespace qcli {
namespace completion {

namespace {

constexpr const char *kDirectories = "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- \"$cur\")); return ;;";

}  // namespace

std::string bashScript(const Tree &t) {
    static const ShellSyntax kBash = {
        .locals = "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
                  "    local path= qroot= word skip=0 i\n",
        .unit = "    ", .parenthesised = false, .loop = "for ((i = 1; i < COMP_CWORD; i++)); do",
        .word = "word=${COMP_WORDS[i]}", .path = "path", .previous = "$prev", .directory = kDirectories,
        .file = "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- \"$cur\")); return ;;",
        .choicesBefore = "COMPREPLY=($(compgen -W \"", .choicesAfter = "\" -- \"$cur\")); return ;;",
        .free = "return ;;", .itemsBefore = "COMPREPLY=($(compgen -W \"", .itemsAfter = "\" -- \"$cur\")); return ;;",
        .toolWord = "\"${COMP_WORDS[0]}\"", .nextWord = "${COMP_WORDS[i+1]}"};
    // After the start, which offers the value of an option, come the
    // options or the words of the command the line has reached.
    std::string s =
        cat({"# bash completion for quorlina(1), written by 'quorlina completion bash'.\n", scriptStart(t, kBash)});
    s += "    local words=\n    if [[ $cur == -* ]]; then\n        case $path in\n";
    for (const CommandInfo &cmd : t.commands) {
        s += cat({"            \"", pathKey(cmd.path), "\") words=\"", optionNames(t.optionsAt(cmd)), "\" ;;\n"});
    }
    s += "        esac\n    else\n        case $path in\n";
    for (const CommandInfo &cmd : t.commands) {
        if (Tree::takesDirectory(cmd)) s += cat({"            \"", pathKey(cmd.path), "\") ", kDirectories, "\n"});
        const std::string items = Tree::positionalItems(cmd);
        if (!items.empty()) s += cat({"            \"", pathKey(cmd.path), "\") words=\"", itemsCommand(kBash, items), "\" ;;\n"});
        std::vector<std::string> words;
        for (const auto &w : t.wordsAt(cmd)) words.push_back(w.first);
        if (!words.empty()) s += cat({"            \"", pathKey(cmd.path), "\") words=\"", joined(words, " "), "\" ;;\n"});
    }
    s += "        esac\n"
         "    fi\n"
         "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
         "}\n"
         "complete -F _quorlina quorlina\n";
    return s;
}

}  // namespace completion
}  // namespace qcli
