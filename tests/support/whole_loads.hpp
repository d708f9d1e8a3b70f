// Whole-file loads of a family for tests: every item with the whole text of
// its file, in list order. The library lists and reads with front-matter
// scans; these loads read each listed file again in full and parse it
// whole, so that tests can hold the scans to what whole reads give.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/notes.hpp"
#include "core/posts.hpp"
#include "core/result.hpp"

namespace qtest {

// Every post below `blogDir` in list order, read whole (`raw` and the body
// set from the whole file). Fails as the post scan fails, or with
// InputOutput when a listed file cannot be read again.
quorlina::Result<std::vector<quorlina::Post>> loadPosts(std::string_view blogDir);

// The first post in list order whose slug is `slug`, or nullptr.
const quorlina::Post *findPostBySlug(const std::vector<quorlina::Post> &posts, std::string_view slug) noexcept;

// Every note of `notesDir` in list order, read whole. Fails as the note
// scan fails, or with InputOutput when a listed file cannot be read again.
quorlina::Result<std::vector<quorlina::Note>> loadNotes(std::string_view notesDir);

// The first note in list order that answers to `id`: its id (the slug, else
// the stem), or its file stem.
const quorlina::Note *findNoteById(const std::vector<quorlina::Note> &notes, std::string_view id) noexcept;

// The JSON string escaping of the library (without the quotes) as a string.
std::string escapeJson(std::string_view in);

}  // namespace qtest
