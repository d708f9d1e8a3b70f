// UTF-8 encoding and decoding of single code points.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qcli {

// Decodes the UTF-8 sequence at the start of a non-empty `text`. Returns
// its length and sets `cp`, or returns 0 when the first byte does not begin
// a valid, shortest-form sequence of a code point outside the surrogates.
std::size_t decodeUtf8(std::string_view text, char32_t &cp) noexcept;

// Appends the UTF-8 form of `cp` (at most U+10FFFF) to `out`.
void appendUtf8(std::string &out, char32_t cp);

}  // namespace qcli
