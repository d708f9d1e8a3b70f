// String helpers the tool's pieces share: joining texts and making a value
// printable on one line.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace qcli {

// The pieces joined into one string (appended in order, one allocation).
std::string cat(std::initializer_list<std::string_view> parts);

// The words with `separator` between each two.
std::string joined(const std::vector<std::string> &words, std::string_view separator);

// A value made printable on one line: control bytes become escapes such as
// "\t" or "\x01"; other bytes (UTF-8 included) stay as they are.
std::string oneLine(std::string_view text);

}  // namespace qcli
