// The front matter of a snippet file: a "+++" block holding `description`
// and an optional `filename`, followed by the code.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/result.hpp"

namespace quorlina {

struct SnippetFrontmatter {
    std::string description;
    std::optional<std::string> filename;  // absent when the file has no usable key
};

// The file text of a new snippet: the block with `description` and, when
// given, `filename` as TOML strings, an empty line, then the code.
std::string buildSnippetBody(std::string_view description, std::optional<std::string_view> filename,
                             std::string_view code);

namespace snippet_frontmatter {

struct Parsed {
    SnippetFrontmatter frontmatter;
    std::size_t codeOffset;  // where the code starts in the parsed text
};

// Splits a snippet file into its front matter and code. Fails with
// MissingFrontmatter, UnclosedFrontmatter or MissingDescription. The block
// is read as TOML (see core/frontmatter.hpp); a value that is not TOML
// loses one pair of quotes (or of \" quotes), then \" stands for " and a
// doubled backslash for one, and a bare value is taken as it is. Keys after a table header
// ("[params]") are not the snippet's.
Result<Parsed> parse(std::string_view content);

// The text of a parsed snippet file after an update: only the values of
// the keys given change (see frontmatter::BlockEditor); the rest of the
// block stays byte for byte. With `code`, the block is followed by an empty
// line and the code; without, by what followed it before.
std::string rewrite(std::string_view content, std::optional<std::string_view> description,
                    std::optional<std::string_view> filename, std::optional<std::string_view> code);

}  // namespace snippet_frontmatter
}  // namespace quorlina
