// Code snippets: one file per snippet in the snippets directory, named after
// a Unix timestamp with the extension of the user's file name.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "core/snippet_frontmatter.hpp"

namespace quorlina {

struct Snippet {
    std::string path;       // the snippets directory joined with the file name
    std::string id;         // the file-name stem (the timestamp's digits)
    std::string date;       // UTC date of the timestamp, YYYY-MM-DD
    std::string filename;   // the front matter's file name, else the file's own name
    std::string extension;  // the file's own extension, ASCII-lowercased
    std::string language;   // extension of `filename`, lowercased (else `extension`)
    SnippetFrontmatter frontmatter;
    std::string raw;        // the whole file as read
    std::size_t codeOffset = 0;
    // The code: the text after the closing "+++" less one line break.
    std::string_view code() const noexcept { return std::string_view(raw).substr(codeOffset); }
};

// InvalidDescription: empty, or holding '"', "+++" or a control byte other
// than tab.
Status ensureDescriptionValid(std::string_view description) noexcept;

// InvalidFilename: empty, or holding '"', '/', '\', "+++" or a control byte
// other than tab.
Status ensureFilenameValid(std::string_view filename) noexcept;

// InvalidExtension unless the name has a '.' that is not its last byte and
// every byte after the last '.' is an ASCII letter, digit, '_' or '-'.
Status ensureExtensionValid(std::string_view filename) noexcept;

// Calls `visit` with every snippet of the directory, newest date first and
// ties in file-system order, holding one file in memory at a time. Only
// regular files "<stem>.<ext>" count (stem not "index" or "_index"). A
// missing directory is an empty list. One file that fails to load fails
// the whole list: the first such file in file-system order decides (its
// failure names the file, and a name that is not a timestamp asks for the
// warning line). `visit` may have
// been called for some snippets before a failure. `expect`, when given, is
// told before the first visit how many files will be read.
//
// The records carry no text (`raw`, and so code(), are empty): `code` is
// the snippet's code, a view of the file as read, valid during the call.
Status visitSnippets(std::string_view dirPath,
                     const std::function<void(const Snippet &, std::string_view code)> &visit,
                     const std::function<void(std::size_t count)> &expect = {});

// Goes over every snippet file as visitSnippets does, but on past broken
// files: the failure of each file that the list or a read would fail on
// goes to `broken`, in list order, a name that is not a timestamp included
// (its failure asks for the warning line; a check does not print it).
// Fails only when the directory itself cannot be read (or memory runs
// out).
Status checkSnippets(std::string_view dirPath, const BrokenSink &broken);

// Loads the snippet stored under `timestamp`; SnippetNotFound when none.
Result<Snippet> readSnippet(std::string_view dirPath, std::int64_t timestamp);

// Writes a new snippet and returns its full path. Any entry whose stem is
// the timestamp fails with DuplicateSnippet.
Result<std::string> createSnippet(std::string_view dirPath, std::int64_t timestamp, std::string_view description,
                                  std::string_view code, std::string_view filename);

// Rewrites a snippet; each absent value keeps the stored one. A file name
// with another extension renames the file, never over another file
// (DuplicateSnippet).
Status updateSnippet(std::string_view dirPath, std::int64_t timestamp, std::optional<std::string_view> description,
                     std::optional<std::string_view> code, std::optional<std::string_view> filename);

// Removes the snippet stored under `timestamp`.
Status deleteSnippet(std::string_view dirPath, std::int64_t timestamp);

}  // namespace quorlina
