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
    // Read only when parse is asked for the record keys (full records):
    // whether the top-level `draft` is the boolean true, and the top-level
    // `date` value: a string's value, any other value's TOML text as
    // written (2024-05-01, 2024-05-01T10:00:00Z); absent without one.
    bool draft = false;
    std::optional<std::string> dateKey;
};

// The whole block a new post gets, every line ending in LF (a new post has
// no slug key: its slug is its file name):
//   +++
//   title = "..."
//   description = "..."
//   tags = ["a", "b"]         (only with at least one tag)
//   +++
// Values are TOML strings: '"' and '\' escaped, every other byte as it is.
std::string buildPostFrontmatter(std::string_view title, std::string_view description,
                                 const std::vector<std::string> &tags);

// The same block with, between the description and the tags, a `date` line
// holding `dateKey` as a TOML local date (date = 2024-05-01) when it is not
// empty, and `draft = true` when `draft`.
std::string buildPostFrontmatter(std::string_view title, std::string_view description,
                                 const std::vector<std::string> &tags, std::string_view dateKey, bool draft);

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
// start with "+++", UnclosedFrontmatter when the block does not close,
// InvalidSlug for an empty or malformed "slug" value, and MissingTitle or
// MissingDescription when either key is absent (an empty value is present).
//
// The block is read as TOML (see core/frontmatter.hpp): strings of all four
// kinds with their escapes, comments, quoted keys, and tags from an array
// over any number of lines (a non-string item reads as its TOML text). A
// value that is not TOML keeps the line rules: one pair of quotes dropped,
// \" and \\ read as " and \, a bare value taken as it is; tags from
// "[...]" on one line or from a "[" whose items follow one per line up to
// a line starting with "]". Keys after a table header ("[params]") belong
// to that table and are not the post's.
//
// With `recordKeys`, the top-level `draft` and `date` are read too (see
// PostFrontmatter); a list without full records is spared that work.
Result<Parsed> parse(std::string_view content, bool recordKeys = false);

// parse into `fm`, whose strings keep their room from one file to the next
// (a scan reads many), giving the text after the closing "+++" (`rest`);
// after a failure `fm` holds a partial record.
Result<std::string_view> parseInto(std::string_view content, bool recordKeys, PostFrontmatter &fm);

// Whether the start `head` of a post file settles where its block closes
// (frontmatter::closeSettled with the posts' rules), so that a scan needs
// read no more of it.
bool headSettled(std::string_view head) noexcept;

// Appends `tags = ["a", "b"]` (without a line break).
void appendTagsLine(std::string &out, const std::vector<std::string> &tags);

// The values an update changes; absent ones stay as they are.
struct Changes {
    std::optional<std::string_view> title;
    std::optional<std::string_view> description;
    std::optional<std::vector<std::string>> tags;  // empty: the tags line goes
    // true sets `draft` (added after the last top-level key when missing),
    // false sets an existing `draft` to false; a value that already reads
    // so is left as written.
    std::optional<bool> draft;
    // A new body. The block, its closing line and the blank lines before
    // the old body stay; a closing "+++" without a line break gets one.
    std::optional<std::string_view> body;
};

// The text of a parsed post file after an update, made with
// frontmatter::BlockEditor: only the values of the changed keys change,
// tags item by item; comments, other keys, tables and (unless it is
// replaced) the body stay byte for byte.
std::string rewrite(std::string_view content, const Changes &changes);

}  // namespace post_frontmatter
}  // namespace quorlina
