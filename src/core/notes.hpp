// The note store: one Markdown file per note in the notes directory, named
// after a Unix timestamp with ".md", addressed by an id (the note's slug, or
// its file stem when it has none).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/note_frontmatter.hpp"
#include "core/result.hpp"

namespace quorlina {

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

// Calls `visit` with every note of `notesDir`, newest date first; notes of
// the same date keep the directory's order. Only regular files named
// "*.md" (but not "index.md" or "_index.md") count, and only the front
// matter of each file is read and held, one file at a time: the records
// carry no text (`raw` and so the body are empty). A missing directory is
// an empty list. One file that fails to load fails the whole scan with its
// failure: the first such file in directory order decides, and a file stem
// that is not a signed decimal number fails with InvalidTimestamp (asking
// for the warning line). `visit` may have been called for some notes
// before a failure.
// `expect`, when given, is told before the first visit how many files will
// be read (files gone since the directory listed them are skipped).
Status visitNotes(std::string_view notesDir, const std::function<void(const Note &)> &visit,
                  const std::function<void(std::size_t count)> &expect = {});

// A visit of a note with its body: a view of the file as read, valid
// during the call; empty when the scan reads no bodies.
using NoteVisit = std::function<void(const Note &, std::string_view body)>;

// visitNotes, with each note's body when `bodies` is set (each file is then
// read whole, in the same scan).
Status visitNoteRecords(std::string_view notesDir, bool bodies, const NoteVisit &visit,
                        const std::function<void(std::size_t count)> &expect = {});

// Goes over every note file as visitNotes does, but on past broken files:
// the failure of each file that the list or a read would fail on goes to
// `broken`, in list order. Fails only when the directory itself cannot be
// read (or memory runs out).
Status checkNotes(std::string_view notesDir, const BrokenSink &broken);

// The first note in list order that answers to `id` (its slug, or its file
// stem), read whole. Every note's front matter is read first, so one broken
// file fails the call. NoteNotFound when no note answers.
Result<Note> readNote(std::string_view notesDir, std::string_view id);

// Creates a new note file named after `timestamp` (0 means now) and returns
// its full path. Nothing is written when an argument is refused; an existing
// entry of that name fails with DuplicateNote.
Result<std::string> createNote(std::string_view notesDir, std::int64_t timestamp,
                               std::optional<std::string_view> slug, std::string_view content);

struct NoteUpdate {
    std::optional<std::string_view> slug;  // absent: keep
    bool clearSlug = false;                // removes the slug (then `slug` must be absent)
    std::optional<std::string_view> content;  // absent: keep the body
    // Present: the whole new text of the file, which cannot come with any
    // other field (InvalidOptions).
    std::optional<std::string_view> text;
};

// Rewrites the note `id` in place with a new slug (or none when `clearSlug`)
// and/or a new body; absent values keep the current ones. A new whole
// `text` replaces the file when it reads as a note (else the reader's
// failure, naming the file) and a slug it gives, when it changes, is not
// one another note answers to (DuplicateNote). No field is NoUpdates.
Status updateNote(std::string_view notesDir, std::string_view id, const NoteUpdate &update);

inline Status updateNote(std::string_view notesDir, std::string_view id, std::optional<std::string_view> slug,
                         bool clearSlug, std::optional<std::string_view> content) {
    return updateNote(notesDir, id, NoteUpdate{slug, clearSlug, content, std::nullopt});
}

// Removes the note `id`.
Status deleteNote(std::string_view notesDir, std::string_view id);

}  // namespace quorlina
