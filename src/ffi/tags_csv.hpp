// Comma-separated tag lists taken from C callers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorlina::ffi {

// Splits at every ","; trims space, tab, CR and LF from each piece; drops
// empty pieces. No quoting: a double quote is an ordinary byte.
std::vector<std::string> parseTagsCsv(std::string_view text);

}  // namespace quorlina::ffi
