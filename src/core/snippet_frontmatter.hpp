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

// The value of a front-matter string: one pair of surrounding quotes (or of
// \" quotes) is dropped, then \" becomes " and \\ becomes \. Any other
// backslash stays with the byte after it. An unquoted value is literal.
std::string parseTomlString(std::string_view value);

namespace snippet_frontmatter {

struct Parsed {
    SnippetFrontmatter frontmatter;
    std::size_t codeOffset;  // where the code starts in the parsed text
};

// Splits a snippet file into its front matter and code. Fails with
// MissingFrontmatter, UnclosedFrontmatter or MissingDescription.
Result<Parsed> parse(std::string_view content);

}  // namespace snippet_frontmatter
}  // namespace quorlina
