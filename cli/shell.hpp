// Shell completion scripts and the manual page, written from the tool's own
// command tree so that they always match the options the tool accepts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "messages.hpp"

namespace CLI {
class App;
}

namespace qcli {

// One option or positional argument as the generators see it.
struct OptionInfo {
    std::vector<std::string> names;    // "--root", "-r"; for a positional its name
    bool positional = false;
    bool takesValue = false;
    std::string valueName;             // "DIR", "FILE", "SECONDS", ...; empty for a flag
    std::vector<std::string> choices;  // the allowed values, when the option lists them
    std::string help;
};

// One command: the tool itself (empty path), a family, or a verb.
struct CommandInfo {
    std::vector<std::string> path;  // {}, {"post"}, {"post", "list"}
    std::string help;
    std::vector<OptionInfo> options;  // its own options and positionals, in declaration order
    std::vector<std::string> subcommands;
    bool takesToolOptions = true;  // the tool's options may follow it
};

// Every visible command of `top`, parents before their subcommands.
std::vector<CommandInfo> describeCommands(const CLI::App &top);

// The completion script for "bash", "zsh" or "fish".
std::string completionScript(const std::vector<CommandInfo> &commands, std::string_view shell);

// The manual page quorlina(1) in roff (man macros).
std::string manPage(const std::vector<CommandInfo> &commands, const std::vector<ExitStatus> &statuses,
                    std::string_view version);

}  // namespace qcli
