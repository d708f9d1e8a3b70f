// The nearest valid word to a mistyped one, for the suggestions of the
// tool's usage errors.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qcli {

// The optimal-string-alignment distance: insertions, deletions,
// substitutions and swaps of two neighbouring characters each count one.
std::size_t editDistance(std::string_view a, std::string_view b);

// The candidate nearest to `word`, when one is near enough to be a likely
// typing mistake: at most one edit for words under five characters, two
// for longer ones, or `word` being the start of exactly one candidate. On a
// tie the earlier candidate wins.
std::optional<std::string> nearest(std::string_view word, const std::vector<std::string> &candidates);

}  // namespace qcli
