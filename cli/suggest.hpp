// Explaining a command line the parser refused: an unknown command or
// option gets the nearest valid one as a suggestion.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace qcli {

// The optimal-string-alignment distance: insertions, deletions,
// substitutions and swaps of two neighbouring characters each count one.
std::size_t editDistance(std::string_view a, std::string_view b);

// The candidate nearest to `word`, when one is near enough to be a likely
// typing mistake: at most one edit for words under five characters, two
// for longer ones, or `word` being the start of exactly one candidate. On a
// tie the earlier candidate wins.
std::optional<std::string> nearest(std::string_view word, const std::vector<std::string> &candidates);

// The subcommands of `app` shown in its help, in declaration order.
std::vector<const CLI::App *> visibleSubcommands(const CLI::App &app);

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

// The error line for a command line that the parser refused, when the
// reason is an unknown command or option or a missing subcommand; nothing
// for other reasons, whose explanation the parser's own message gives.
std::optional<std::string> explainUsage(const CLI::App &top, const std::vector<std::string> &args);

}  // namespace qcli
