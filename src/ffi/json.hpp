// JSON text pieces. Every JSON text the library returns is assembled from
// fixed literal pieces and escaped string values, with no whitespace.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ffi/c_heap_text.hpp"

namespace quorlina::ffi {

// Appends the escaped form of `in` to `out`, for use inside a JSON string
// (without the quotes). '"' '\\' LF CR TAB get their two-byte escapes;
// every other byte below 0x20 becomes \u00XX with lowercase hex digits; all
// other bytes (0x7F and everything from 0x80 up) pass through unchanged.
void appendEscapedJson(std::string &out, std::string_view in);
void appendEscapedJson(CHeapText &out, std::string_view in);

// Appends `"` + escaped `in` + `"`.
void appendJsonString(std::string &out, std::string_view in);

// Appends `[` + escaped strings separated by `,` + `]`.
void appendJsonStringArray(std::string &out, const std::vector<std::string> &items);

}  // namespace quorlina::ffi
