// The tool's command tree as data: every command with its options and
// arguments, read from the same CLI11 tree that parses the command line.
// The completion scripts and the manual page are written from it, so they
// always match the options the tool accepts.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "cli11_fwd.hpp"

namespace qcli {

// One option or positional argument.
struct OptionInfo {
    std::vector<std::string> names;    // "--root", "-r"; for a positional its name
    bool positional = false;
    bool takesValue = false;
    std::string valueName;             // "DIR", "FILE", "SECONDS", ...; empty for a flag
    std::vector<std::string> choices;  // the allowed values, when the option lists them
    std::string help;
    // When the value names existing items of the site: "post", "note" or
    // "snippet" (their keys) or "tag". Completion asks the tool for them.
    std::string items;
};

// One command: the tool itself (empty path), a family, or a verb.
struct CommandInfo {
    std::vector<std::string> path;  // {}, {"post"}, {"post", "list"}
    std::string help;
    std::vector<OptionInfo> options;  // its own options and positionals, in declaration order
    std::vector<std::string> subcommands;
    bool takesToolOptions = true;  // the tool's options may follow it
};

// Marks the value of `option`, an option or positional of `command`, as
// naming existing items of `kind` (see OptionInfo::items).
void offerItems(const CLI::App &command, const CLI::Option &option, const char *kind);

// Every visible command of `top`, parents before their subcommands.
std::vector<CommandInfo> describeCommands(const CLI::App &top);

}  // namespace qcli
