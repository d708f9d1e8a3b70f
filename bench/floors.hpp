// The floors: the least work any implementation must do for the answer of
// a library call, done with plain system calls and nothing else. A floor
// walks the same directories, and opens, reads to the end and closes every
// file the answer depends on; the durable floors write a temporary file,
// fsync it, rename or link it into place and fsync the directory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qbench::floor {

struct Stats {
    std::size_t files = 0;    // files read
    std::size_t bytes = 0;    // bytes read
    std::size_t largest = 0;  // largest file read
};

// Reads every snippet candidate of `dir` (regular files "<stem>.<ext>",
// stem not "index" or "_index").
Stats readSnippets(const std::string &dir);

// Walks `dir` until the first candidate whose stem is `stem` and reads that
// file only; with an empty `stem` the walk goes to the end and reads nothing.
Stats findSnippet(const std::string &dir, std::string_view stem);

// Reads every post file of the blog tree (YYYY/MM/DD/<name>.md, depth first).
Stats readPosts(const std::string &blogDir);

// Reads every note file ("*.md" but not "index.md" or "_index.md").
Stats readNotes(const std::string &dir);

// Durable replace: `content` into a new temporary file in `dir`, fsync,
// close, rename over `name`, fsync the directory.
void replaceFile(const std::string &dir, const std::string &name, std::string_view content);

// Durable publish: `content` into a new temporary file in `dir`, fsync,
// close, link to `name` (which must not exist), unlink the temporary, fsync
// the directory.
void publishFile(const std::string &dir, const std::string &name, std::string_view content);

}  // namespace qbench::floor
