#include "completion_scripts.hpp"

#include <algorithm>
#include <set>

#include "strings.hpp"

namespace qcli {
namespace completion {

ValueKind kindOf(const OptionInfo &o) {
    if (!o.choices.empty()) return ValueKind::Choices;
    if (!o.items.empty()) return ValueKind::Items;
    if (o.valueName == "DIR") return ValueKind::Directory;
    if (o.valueName == "FILE") return ValueKind::File;
    return ValueKind::Free;
}

std::string pathKey(const std::vector<std::string> &path) { return joined(path, "/"); }

std::string shellQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out.push_back(c);
    }
    out += "'";
    return out;
}

Tree::Tree(const std::vector<CommandInfo> &c) : commands(c) {
    std::set<std::string> seen;
    for (const CommandInfo &cmd : commands) {
        if (!cmd.path.empty()) {
            std::vector<std::string> parent(cmd.path.begin(), cmd.path.end() - 1);
            transitions.push_back(cat({pathKey(parent), "/", cmd.path.back()}));
        }
        for (const OptionInfo &o : cmd.options) {
            if (o.positional || !o.takesValue || seen.count(o.names.front())) continue;
            seen.insert(o.names.front());
            valueOptions.push_back(&o);
            valueNames.insert(valueNames.end(), o.names.begin(), o.names.end());
        }
    }
    for (const CommandInfo &cmd : commands) {
        if (!cmd.path.empty()) continue;
        topCommands = cmd.subcommands;
        for (const OptionInfo &o : cmd.options) {
            if (!o.positional && o.names.front() != "--help" && o.names.front() != "--version") globals.push_back(&o);
        }
    }
}

std::vector<const OptionInfo *> Tree::optionsAt(const CommandInfo &cmd) const {
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

bool Tree::takesDirectory(const CommandInfo &cmd) {
    for (const OptionInfo &o : cmd.options) {
        if (o.positional) return o.valueName == "DIR";
    }
    return false;
}

std::string Tree::positionalItems(const CommandInfo &cmd) {
    for (const OptionInfo &o : cmd.options) {
        if (o.positional) return o.items;
    }
    return {};
}

std::vector<std::string> Tree::rootNames() const {
    for (const OptionInfo *g : globals) {
        if (g->names.front() == "--root") return g->names;
    }
    return {};
}

std::string itemsCommand(const ShellSyntax &sh, std::string_view kind) {
    return cat({"$(", sh.toolWord, " ${qroot:+\"--root=$qroot\"} ", kCandidatesCommand, " ", kind, " 2>/dev/null)"});
}

std::vector<std::pair<std::string, std::string>> Tree::wordsAt(const CommandInfo &cmd) const {
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

std::string optionNames(const std::vector<const OptionInfo *> &options) {
    std::vector<std::string> names;
    for (const OptionInfo *o : options) names.insert(names.end(), o->names.begin(), o->names.end());
    return joined(names, " ");
}

namespace {

std::string pattern(const ShellSyntax &sh, std::string_view words) {
    return sh.parenthesised ? cat({"(", words, ")"}) : cat({words, ")"});
}

// The walk over the words before the cursor, at one step of indentation.
std::string wordWalk(const Tree &t, const ShellSyntax &sh) {
    const std::string one(sh.unit), two = cat({one, one}), three = cat({two, one});
    const std::string other = cat({pattern(sh, "*"), " "});
    // The inner case lines up with the "case" after the last pattern.
    const std::string inner = cat({three, std::string(other.size(), ' ')});
    const std::string_view path = sh.path;
    return cat({one, sh.loop, "\n",
                two, sh.word, "\n",
                two, "if ((skip)); then skip=0; continue; fi\n",
                two, "case $word in\n",
                three, pattern(sh, "--"), " break ;;\n",
                // The site named on the line is the one whose items are offered.
                three, pattern(sh, joined(t.rootNames(), "|")), " skip=1; qroot=", sh.nextWord, " ;;\n",
                three, pattern(sh, "--root=*"), " qroot=${word#--root=} ;;\n",
                three, pattern(sh, joined(t.valueNames, "|")), " skip=1 ;;\n",
                three, pattern(sh, "-*"), " ;;\n",
                three, other, "case $", path, "/$word in\n",
                inner, one, pattern(sh, joined(t.transitions, "|")), " ", path, "=${", path, ":+$", path, "/}$word ;;\n",
                inner, "esac ;;\n",
                two, "esac\n",
                one, "done\n"});
}

// The `case` over the word before the cursor, at one step of indentation,
// with a case for the options of each kind of value.
std::string valueCases(const Tree &t, const ShellSyntax &sh) {
    const std::string indent = cat({sh.unit, sh.unit});
    std::string s = cat({sh.unit, "case ", sh.previous, " in\n"});
    const auto add = [&](const std::string &names, std::string_view action) {
        if (!names.empty()) s += cat({indent, pattern(sh, names), " ", action, "\n"});
    };
    // The names of the options of one kind, as one pattern.
    const auto namesOf = [&t](ValueKind kind) {
        std::vector<std::string> names;
        for (const OptionInfo *o : t.valueOptions) {
            if (kindOf(*o) == kind) names.insert(names.end(), o->names.begin(), o->names.end());
        }
        return joined(names, "|");
    };
    add(namesOf(ValueKind::Directory), sh.directory);
    add(namesOf(ValueKind::File), sh.file);
    for (const OptionInfo *o : t.valueOptions) {
        if (kindOf(*o) == ValueKind::Choices) add(joined(o->names, "|"), cat({sh.choicesBefore, joined(o->choices, " "), sh.choicesAfter}));
        if (kindOf(*o) == ValueKind::Items) add(joined(o->names, "|"), cat({sh.itemsBefore, itemsCommand(sh, o->items), sh.itemsAfter}));
    }
    add(namesOf(ValueKind::Free), sh.free);
    s += cat({sh.unit, "esac\n"});
    return s;
}

}  // namespace

std::string scriptStart(const Tree &t, const ShellSyntax &sh) {
    return cat({"_quorlina() {\n", sh.locals, wordWalk(t, sh), valueCases(t, sh)});
}

}  // namespace completion

std::string completionScript(const std::vector<CommandInfo> &commands, std::string_view shell) {
    const completion::Tree tree(commands);
    if (shell == "bash") return completion::bashScript(tree);
    if (shell == "zsh") return completion::zshScript(tree);
    if (shell == "fish") return completion::fishScript(tree);
    return {};
}

}  // namespace qcli
