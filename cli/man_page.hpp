// The manual page quorlina(1), written from the tool's command tree (see
// command_tree.hpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "command_tree.hpp"
#include "messages.hpp"

namespace qcli {

// The manual page in roff (man macros).
std::string manPage(const std::vector<CommandInfo> &commands, const std::vector<ExitStatus> &statuses,
                    std::string_view version);

}  // namespace qcli
