// The front matter of a note file: an optional slug in a TOML block between
// two "+++" lines. A note file may also be its body alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/result.hpp"

namespace quorlina {

struct NoteFrontmatter {
    // Non-empty and made of ASCII letters, digits, "_" and "-" when present.
    std::optional<std::string> slug;
};

namespace note_frontmatter {

struct Parsed {
    NoteFrontmatter frontmatter;
    // A view into the parsed text. It always runs to the end of that text,
    // so it is a suffix of it (an empty body points at the text's end).
    std::string_view body;
};

// Reads a note file's text. A text that does not start with "+++" has no
// front matter and is all body. Fails with UnclosedFrontmatter when the
// opening "+++" has no closing one, and with InvalidSlug for an empty or
// malformed `slug` value.
Result<Parsed> parse(std::string_view text);

}  // namespace note_frontmatter
}  // namespace quorlina
