// The front matter of a post file: a TOML-like block between two "+++"
// delimiters holding `title`, `description`, an optional `slug` and `tags`,
// followed by the post's Markdown body.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"

namespace quorlina {

struct PostFrontmatter {
    std::string title;
    std::string description;
    std::vector<std::string> tags;    // in file order
    std::optional<std::string> slug;  // absent when the file has no "slug" key
};

namespace post_frontmatter {

struct Parsed {
    PostFrontmatter frontmatter;
    // Views into the parsed text, both running to its end: `rest` is
    // everything after the closing "+++", `body` the same with leading
    // spaces, tabs, CR and LF removed.
    std::string_view rest;
    std::string_view body;
};

// Reads a post file. Fails with MissingFrontmatter when the text does not
// start with "+++", UnclosedFrontmatter when no later "+++" follows,
// InvalidSlug for an empty or malformed "slug" value, and MissingTitle or
// MissingDescription when either key is absent (an empty value is present).
//
// Values may be quoted ("..." with \" and \\ escapes) or bare. Tags come from
// "tags = [...]" on one line or from a bracket opened on one line and closed
// by a line starting with "]", one item per line. A quoted tag item is read
// as a string, so "," and "]" inside it belong to the tag.
Result<Parsed> parse(std::string_view content);

}  // namespace post_frontmatter
}  // namespace quorlina
