// How many terminal columns text takes. The tool decodes UTF-8 itself and
// looks code points up in its own table, so a table lines up the same way
// whatever the user's locale is (wcwidth would need a UTF-8 locale).
#pragma once

#include <cstddef>
#include <string_view>

namespace qcli {

// Columns of one code point: 0 for combining marks, zero-width characters
// and emoji modifiers, 2 for East Asian wide and fullwidth characters and
// emoji, 1 for everything else.
int codePointWidth(char32_t cp) noexcept;

// Columns of a UTF-8 text. A byte that does not start a valid UTF-8
// sequence counts as one column (terminals show one replacement mark).
std::size_t displayWidth(std::string_view text) noexcept;

// The longest prefix of `text` that fits in `columns`, cut only between
// characters. A zero-width character right after the cut stays with the
// character it belongs to.
std::string_view clipToWidth(std::string_view text, std::size_t columns) noexcept;

}  // namespace qcli
