// Code snippets: one file per snippet in content/snippets, named after a
// Unix timestamp with the extension of the user's file name.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform.hpp"
#include "core/result.hpp"
#include "core/snippet_frontmatter.hpp"

namespace quorlina {

struct Snippet {
    std::string path;       // full path, or the bare file name when none was given
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

// The file text of a snippet. Backslashes of the description are doubled so
// that the reader's unescaping gives back exactly what was written.
std::string buildSnippetBody(std::string_view description, std::optional<std::string_view> filename,
                             std::string_view code);

// InvalidDescription: empty, or holding LF, CR, '"' or "+++".
Status ensureDescriptionValid(std::string_view description) noexcept;

// InvalidFilename: empty, or holding LF, CR, '"', '/', '\' or "+++".
Status ensureFilenameValid(std::string_view filename) noexcept;

// InvalidExtension unless the name has a '.' that is not its last byte and
// every byte after the last '.' is an ASCII letter, digit, '_' or '-'.
Status ensureExtensionValid(std::string_view filename) noexcept;

// Whether a directory entry can be a snippet: a regular file whose last '.'
// is neither its first nor its last byte, and whose stem is not "index" or
// "_index".
bool isSnippetCandidate(const platform::DirEntry &entry) noexcept;

// Loads the snippet file `name` of the open snippets directory. Writes the
// warning line when the name is not a timestamp.
Result<Snippet> loadSnippetFromFile(const platform::Dir &dir, std::string_view name,
                                    std::optional<std::string_view> fullPath);

// The whole name of the first candidate whose stem equals `timestampText`,
// or nothing (also when the directory does not exist).
Result<std::optional<std::string>> findSnippetFilenameByTimestamp(std::string_view dirPath,
                                                                  std::string_view timestampText);

// Every snippet of the directory, newest date first, ties in file-system order.
Result<std::vector<Snippet>> loadSnippets(std::string_view dirPath);

// Calls `visit` with every snippet of the directory in the order of
// loadSnippets, holding one file in memory at a time, and fails exactly
// when and as loadSnippets fails (same error, same warning line). `visit`
// may have been called for some snippets before a failure.
// `expect`, when given, is told before the first visit how many files will
// be read (files gone since the directory listed them are skipped).
Status visitSnippets(std::string_view dirPath, const std::function<void(const Snippet &)> &visit,
                     const std::function<void(std::size_t count)> &expect = {});

// Loads the snippet stored under `timestamp`; SnippetNotFound when none.
Result<Snippet> readSnippet(std::string_view root, std::int64_t timestamp);

// Writes a new snippet and returns its full path.
Result<std::string> createSnippet(std::string_view root, std::int64_t timestamp, std::string_view description,
                                  std::string_view code, std::string_view filename);

// Rewrites a snippet; each absent value keeps the stored one.
Status updateSnippet(std::string_view root, std::int64_t timestamp, std::optional<std::string_view> description,
                     std::optional<std::string_view> code, std::optional<std::string_view> filename);

Status deleteSnippet(std::string_view root, std::int64_t timestamp);

}  // namespace quorlina
