// The note store: one Markdown file per note in the notes directory, named
// after a Unix timestamp with ".md", addressed by an id (the note's slug, or
// its file stem when it has none).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/note_frontmatter.hpp"
#include "core/result.hpp"

namespace quorlina {

// The front-matter block for `slug`: "+++\nslug = \"...\"\n+++\n" with
// double quotes and backslashes escaped, or an empty string without a slug.
// The slug is not validated here.
std::string buildNoteFrontmatter(std::optional<std::string_view> slug);

// The whole text of a note file. With a slug: the front matter, then a blank
// line and the body when the body is not empty. Without a slug: the body
// alone, unless the body starts with "+++"; then an empty front-matter block
// and a blank line come first, so the body is not read back as front matter.
std::string composeNoteFile(std::optional<std::string_view> slug, std::string_view body);

struct Note {
    std::string path;  // notes directory joined with the file name
    std::string id;    // the slug, else the file stem
    std::string date;  // YYYY-MM-DD, UTC date of the stem's timestamp
    NoteFrontmatter frontmatter;
    std::string raw;   // the whole file as read
    std::size_t bodyOffset = 0;

    // The body: the tail of `raw` after the front matter.
    std::string_view body() const noexcept { return std::string_view(raw).substr(bodyOffset); }
    // The last component of `path`.
    std::string_view fileName() const noexcept;
};

// Loads every note of `notesDir`, newest date first; notes of the same date
// keep the directory's order. Only regular files named "*.md" (but not
// "index.md" or "_index.md") count. A missing directory is an empty list.
// One file that fails to load fails the whole load; a file stem that is not
// a signed decimal number writes a warning line and fails with
// InvalidTimestamp.
Result<std::vector<Note>> loadNotes(std::string_view notesDir);

// The first note in list order whose id or file stem equals `id`.
const Note *findNoteById(const std::vector<Note> &notes, std::string_view id) noexcept;

// Creates a new note file named after `timestamp` (0 means now) and returns
// its full path. Nothing is written when an argument is refused; an existing
// entry of that name fails with DuplicateNote.
Result<std::string> createNote(std::string_view notesDir, std::int64_t timestamp,
                               std::optional<std::string_view> slug, std::string_view content);

// Rewrites the note `id` in place with a new slug (or none when `clearSlug`)
// and/or a new body; absent values keep the current ones.
Status updateNote(std::string_view notesDir, std::string_view id, std::optional<std::string_view> slug,
                  bool clearSlug, std::optional<std::string_view> content);

// Removes the note `id`.
Status deleteNote(std::string_view notesDir, std::string_view id);

}  // namespace quorlina
