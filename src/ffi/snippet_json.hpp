// JSON records of snippets.
#pragma once

#include <string>

#include "core/snippets.hpp"
#include "ffi/c_heap_text.hpp"

namespace quorlina::ffi {

// {"id":..,"date":..,"description":..,"filename":..,"code":..}; id and date
// are the library's own digits and dashes and are not escaped.
std::string buildSnippetJson(const Snippet &s);

// Appends the record of `s`, whose code is `code`, to `out`.
void appendSnippetJson(CHeapText &out, const Snippet &s, std::string_view code);

}  // namespace quorlina::ffi
