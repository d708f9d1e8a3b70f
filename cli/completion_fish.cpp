// The fish completion script.
#include "completion_scripts.hpp"
#include "strings.hpp"

namespace qcli {
namespace completion {

namespace {

// A word in fish's single quotes.
std::string fishQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out += "'";
    return out;
}

}  // namespace

std::string fishScript(const Tree &t) {
    // __quorlina_path walks the words before the cursor to the command they
    // name, stepping over option values; each completion is offered at the
    // command it belongs to.
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
        "            case ", joined(t.valueNames, " "), "\n"
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
        "function __quorlina_items\n"
        "    # The site's items of a kind, from the site named on the line.\n"
        "    set -l words (commandline -opc)\n"
        "    set -l root\n"
        "    for i in (seq 2 (count $words))\n"
        "        switch $words[$i]\n"
        "            case ", joined(t.rootNames(), " "), "\n"
        "                set root --root=$words[(math $i + 1)]\n"
        "            case '--root=*'\n"
        "                set root $words[$i]\n"
        "        end\n"
        "    end\n"
        "    $words[1] $root ", kCandidatesCommand, " $argv[1] 2>/dev/null\n"
        "end\n"
        "function __quorlina_at\n"
        "    set -l path (__quorlina_path)\n"
        "    test \"$path\" = \"$argv[1]\"\n"
        "end\n"
        "complete -c quorlina -f\n"});
    for (const CommandInfo &cmd : t.commands) {
        const std::string at = cat({"-n ", fishQuoted(cat({"__quorlina_at ", shellQuoted(pathKey(cmd.path))}))});
        if (Tree::takesDirectory(cmd)) s += cat({"complete -c quorlina ", at, " -a '(__fish_complete_directories)'\n"});
        const std::string items = Tree::positionalItems(cmd);
        if (!items.empty()) s += cat({"complete -c quorlina ", at, " -a ", fishQuoted(cat({"(__quorlina_items ", items, ")"})), "\n"});
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
            for (const std::string &n : o.names) {
                line += n.size() > 2 && n[1] == '-' ? cat({" -l ", n.substr(2)}) : cat({" -s ", n.substr(1)});
            }
            switch (o.takesValue ? kindOf(o) : ValueKind::Free) {
                case ValueKind::Directory: line += " -x -a '(__fish_complete_directories)'"; break;
                case ValueKind::File: line += " -r -F"; break;
                case ValueKind::Choices: line += cat({" -x -a ", fishQuoted(joined(o.choices, " "))}); break;
                case ValueKind::Items: line += cat({" -x -a ", fishQuoted(cat({"(__quorlina_items ", o.items, ")"}))}); break;
                case ValueKind::Free:
                    if (o.takesValue) line += " -x";
                    break;
            }
            line += cat({" -d ", fishQuoted(o.help), "\n"});
            s += line;
        }
    }
    return s;
}

}  // namespace completion
}  // namespace qcli
