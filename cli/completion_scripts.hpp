// The shell completion scripts, written from the tool's command tree (see
// command_tree.hpp), and the pieces the scripts of the three shells share.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "command_tree.hpp"

namespace qcli {

// The completion script for "bash", "zsh" or "fish"; empty for another.
std::string completionScript(const std::vector<CommandInfo> &commands, std::string_view shell);

namespace completion {

// The hidden command that prints the site's items of a kind, one a line
// ("quorlina __complete post"), which the scripts run.
inline constexpr const char *kCandidatesCommand = "__complete";

// What a completer offers for the value of an option.
enum class ValueKind { Free, Directory, File, Choices, Items };

ValueKind kindOf(const OptionInfo &o);

// A command's path as the scripts track it: "post/list"; "" for the tool.
std::string pathKey(const std::vector<std::string> &path);

// A word in single quotes for sh-like shells (zsh here).
std::string shellQuoted(std::string_view text);

// Facts every script needs, gathered once.
struct Tree {
    const std::vector<CommandInfo> &commands;
    std::vector<const OptionInfo *> valueOptions;  // named options that take a value, each name once
    std::vector<std::string> valueNames;           // every name of those options
    std::vector<std::string> transitions;          // "parent/word" for each command below the top
    std::vector<std::string> topCommands;
    std::vector<const OptionInfo *> globals;  // the tool's options accepted after any command

    explicit Tree(const std::vector<CommandInfo> &c);

    // The named options offered at a command: its own, then the tool's.
    std::vector<const OptionInfo *> optionsAt(const CommandInfo &cmd) const;

    // Whether the command's first positional argument is a directory.
    static bool takesDirectory(const CommandInfo &cmd);

    // The kind of site items the command's first positional argument
    // names ("post", "tag"); empty when it names none.
    static std::string positionalItems(const CommandInfo &cmd);

    // The names of the tool's --root option.
    std::vector<std::string> rootNames() const;

    // The words offered at a command where no option is being typed:
    // subcommands (with their help), or the choices of its first
    // positional argument.
    std::vector<std::pair<std::string, std::string>> wordsAt(const CommandInfo &cmd) const;
};

// The names of `options`, separated by spaces.
std::string optionNames(const std::vector<const OptionInfo *> &options);

// What the bash and zsh scripts differ in where they do the same things.
struct ShellSyntax {
    const char *locals;     // the local variables of the completion function
    std::string_view unit;  // one step of indentation
    bool parenthesised;     // case patterns as "(pattern)" rather than "pattern)"
    const char *loop;       // the loop over the words before the cursor
    const char *word;       // the statement that sets $word to the next of them
    const char *path;       // the variable that gets the command's path
    const char *previous;   // the word before the cursor
    // What the case of an option value does: for a directory, a file, an
    // option with choices (its choices, separated by spaces, stand between
    // the two texts) and any other value.
    const char *directory;
    const char *file;
    const char *choicesBefore;
    const char *choicesAfter;
    const char *free;
    // The items of a kind offered: the command that prints them stands
    // between the two texts.
    const char *itemsBefore;
    const char *itemsAfter;
    const char *toolWord;  // the word that ran the tool, as typed
    const char *nextWord;  // the word after the current one of the walk
};

// The command substitution that prints the site's items of `kind` for a
// script: the tool as typed, with the --root given on the line (kept in
// $qroot by the walk), its errors dropped.
std::string itemsCommand(const ShellSyntax &sh, std::string_view kind);

// The start of the completion function _quorlina, which bash and zsh
// share: its locals, the walk over the words before the cursor to the
// command they name (stepping over option values), and the values offered
// when the word before the cursor is an option that takes one.
std::string scriptStart(const Tree &t, const ShellSyntax &sh);

std::string bashScript(const Tree &t);  // completion_bash.cpp
std::string zshScript(const Tree &t);   // completion_zsh.cpp
std::string fishScript(const Tree &t);  // completion_fish.cpp

}  // namespace completion
}  // namespace qcli
