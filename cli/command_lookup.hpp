// Finding a command of the tool's command tree by its words, as help and
// the usage errors do, with the nearest valid word for a mistyped one.
#pragma once

#include <string>
#include <vector>

#include "cli11_fwd.hpp"

namespace qcli {

// The subcommands of `app` shown in its help, in declaration order.
std::vector<const CLI::App *> visibleSubcommands(const CLI::App &app);

// The names of `apps`, in their order.
std::vector<std::string> commandNames(const std::vector<const CLI::App *> &apps);

// Whether an option takes a value (it is not a flag).
bool takesValue(const CLI::Option &option);

// What following words down the subcommands of the tool gave.
struct CommandMatch {
    const CLI::App *command = nullptr;  // the command reached, when every word named one
    bool guessed = false;               // otherwise: whether each unknown word had a near one
    std::string error;                  // otherwise: the line that explains the mistake
};

// Follows `words` (such as {"post", "list"}) down the subcommands of
// `top`, stopping at a command without subcommands. An unknown word is
// explained with a suggestion for the whole command ("unknown command
// 'pots list' (did you mean 'post list'?)"), or with the valid choices
// when nothing is near.
CommandMatch matchCommand(const CLI::App &top, const std::vector<std::string> &words);

}  // namespace qcli
