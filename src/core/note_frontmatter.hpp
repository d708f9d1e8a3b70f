// The front matter of a note file: an optional slug in a TOML block between
// two "+++" lines. A note file may also be its body alone.
#pragma once

#include <optional>
#include <vector>
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
// block does not close, and with InvalidSlug for an empty or malformed
// `slug` value. The block is read as TOML, a value that is not TOML by the
// line rules (see core/frontmatter.hpp). Keys after a table header
// ("[params]") are not the note's.
Result<Parsed> parse(std::string_view text);

// The text of a parsed note file after an update. `slug`, when present,
// sets the slug (or, holding nothing, removes it); `body`, when present,
// replaces the body; otherwise the bytes after the block stay exactly
// (`oldBody` is the body as read). Only the slug's value (or its lines, when
// it goes) changes in the block. A block left with no line but blanks goes
// when the note can be its body alone without losing more than the break
// and blank line after the block; a file without a block is composed as
// composeNoteFile does.
std::string rewrite(std::string_view text, std::optional<std::optional<std::string_view>> slug,
                    std::optional<std::string_view> body, std::string_view oldBody);

}  // namespace note_frontmatter

// The front-matter block for `slug`: "+++\nslug = \"...\"\n+++\n" with
// double quotes and backslashes escaped, or an empty string without a slug.
// The slug is not validated here.
std::string buildNoteFrontmatter(std::optional<std::string_view> slug);

// The whole text of a note file. With a slug: the front matter, then a blank
// line and the body when the body is not empty. Without a slug: the body
// alone, unless the body starts with "+++"; then an empty front-matter block
// and a blank line come first, so the body is not read back as front matter.
std::string composeNoteFile(std::optional<std::string_view> slug, std::string_view body);
}  // namespace quorlina
