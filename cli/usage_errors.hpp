// Explaining a command line the parser refused: an unknown command or
// option gets the nearest valid one as a suggestion.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli11_fwd.hpp"

namespace qcli {

// The error line for a command line that the parser refused, when the
// reason is an unknown command or option or a missing subcommand; nothing
// for other reasons, whose explanation the parser's own message gives.
std::optional<std::string> explainUsage(const CLI::App &top, const std::vector<std::string> &args);

}  // namespace qcli
