#include "core/notes.hpp"

#include <algorithm>
#include <cstdint>

#include "core/civil_date.hpp"
#include "core/content.hpp"
#include "core/dated_scan.hpp"
#include "core/frontmatter.hpp"
#include "core/paths.hpp"
#include "core/platform.hpp"
#include "core/text.hpp"
#include "core/toml_lexer.hpp"

namespace quorlina {

using platform::Dir;

namespace {

constexpr std::string_view kExtension = ".md";

// Regular files named "*.md" are notes, except the section index pages.
bool isNoteFileName(std::string_view name) noexcept {
    return name.size() >= kExtension.size() && name.ends_with(kExtension) && name != "index.md" &&
           name != "_index.md";
}

std::string_view stemOf(std::string_view name) noexcept {
    return name.substr(0, name.size() - kExtension.size());
}

// Fills `note` (reusing the storage of its strings: a scan fills one record
// file after file) for the note file `name` from its text: the whole file
// (the caller then keeps it in `raw`, to which `bodyOffset` refers), or the
// start of it up to the end of its front matter for a record without text.
// The front matter is examined before the file name; a stem that is not a
// timestamp asks for the warning line. `date`, when not empty, is the date
// of the stem, already read as a timestamp. `note` is unspecified after a
// failure.
Status fillNote(Note &note, std::string_view notesDir, std::string_view name, std::string_view text,
                std::string_view date = {}) {
    joinPathInto(note.path, {notesDir, name});
    auto parsed = note_frontmatter::parse(text);
    if (!parsed) return concerning(note.path, std::move(parsed).failure());
    std::string_view stem = stemOf(name);
    note.id.assign(parsed->frontmatter.slug ? std::string_view(*parsed->frontmatter.slug) : stem);
    if (date.empty()) {
        auto timestamp = parseSigned(stem);
        if (!timestamp) return content::badTimestampName(note.path, timestamp.error());
        note.date = dateFromTimestamp(*timestamp);
    } else {
        note.date.assign(date);
    }
    // The body is a suffix of the text; keep its offset, which stays valid
    // when the text moves.
    note.bodyOffset = static_cast<std::size_t>(parsed->body.data() - text.data());
    note.frontmatter = std::move(parsed->frontmatter);
    return {};
}

// How a scan goes over the notes.
struct NoteScan {
    bool bodies = false;                  // read each file whole and hand on its body
    const BrokenSink *broken = nullptr;  // go on past broken files (see loadInOrder)
};

// Calls `visit` with every note of the open notes directory `dir` in list
// order. The order follows from the file names alone (the date is the
// stem's), so the names are sorted first and the files read one at a time
// in that order, each only up to the end of its front matter (a record
// without text) unless `how` asks for bodies. A stem that is not a
// timestamp is an entry that fails when it is read; the first failing file
// in directory order decides.
Status scanNotes(Dir &dir, std::string_view notesDir, const NoteScan &how, const NoteVisit &visit,
                 const std::function<void(std::size_t count)> &expect) {
    DatedEntries entries;
    QL_TRY(listDated(dir, entries, [](const platform::DirEntry &e) -> std::optional<std::string> {
        // Symbolic links and everything but regular files are never notes.
        if (e.kind != platform::EntryKind::File || !isNoteFileName(e.name)) return std::nullopt;
        auto timestamp = parseSigned(stemOf(e.name));
        return timestamp ? dateFromTimestamp(*timestamp) : std::string();
    }));
    if (expect) expect(entries.size());

    platform::FileReader reader;
    const platform::FileReader::Settled settled = how.bodies ? nullptr : text::frontMatterSettled;
    Note current;
    std::string_view body;
    return loadInOrder(
        entries, reader, [&](std::uint32_t i) { platform::FileReader::fetchMetadata(dir, entries.name(i)); },
        [&](std::uint32_t i) { reader.openAhead(dir, entries.name(i), i, settled); },
        [&](std::uint32_t i) -> Status {
            std::string_view name = entries.name(i);
            auto text = reader.read(dir, name, settled, i);
            if (!text) return concerning(joinPath({notesDir, name}), std::move(text).failure());
            QL_TRY(fillNote(current, notesDir, name, *text, entries.key(i)));
            body = how.bodies ? text->substr(current.bodyOffset) : std::string_view();
            current.bodyOffset = 0;  // no text, so no body
            return {};
        },
        [&](std::uint32_t) { visit(current, body); }, how.broken);
}

// Whether `note` answers to `id`: its id, or its file stem.
bool matchesId(const Note &note, std::string_view id) noexcept {
    if (note.id == id) return true;
    std::string_view name = note.fileName();
    return name.ends_with(kExtension) && stemOf(name) == id;
}

// The first note of `dir` in list order that answers to `id`, found through
// a handle of its own, as a record without text.
Result<Note> findIn(const Dir &dir, std::string_view notesDir, std::string_view id) {
    auto scan = dir.reopen();
    if (!scan) return std::move(scan).failure();
    std::optional<Note> found;
    QL_TRY(scanNotes(*scan, notesDir, {}, [&](const Note &note, std::string_view) {
        if (!found && matchesId(note, id)) found = note;
    }, {}));
    if (!found) return Error::NoteNotFound;
    return std::move(*found);
}

// The note file `name` of `dir`, read whole; NoteNotFound when it is gone
// (or no longer a regular file) since a scan listed it.
Result<Note> loadNoteIn(const Dir &dir, std::string_view notesDir, std::string_view name) {
    auto raw = dir.readFile(name);
    if (!raw) {
        if (content::changedSinceListed(raw.error())) return Error::NoteNotFound;
        return concerning(joinPath({notesDir, name}), std::move(raw).failure());
    }
    Note note;
    QL_TRY(fillNote(note, notesDir, name, *raw));
    note.raw = std::move(*raw);
    return note;
}

}  // namespace

std::string_view Note::fileName() const noexcept { return content::baseName(path); }

Status visitNotes(std::string_view notesDir, const std::function<void(const Note &)> &visit,
                  const std::function<void(std::size_t count)> &expect) {
    return content::scanIfPresent(notesDir, [&](Dir &dir) {
        return scanNotes(dir, notesDir, {}, [&](const Note &note, std::string_view) { visit(note); }, expect);
    });
}

Status visitNoteRecords(std::string_view notesDir, bool bodies, const NoteVisit &visit,
                        const std::function<void(std::size_t count)> &expect) {
    return content::scanIfPresent(notesDir,
                                  [&](Dir &dir) { return scanNotes(dir, notesDir, {bodies, nullptr}, visit, expect); });
}

Status checkNotes(std::string_view notesDir, const BrokenSink &broken) {
    return content::scanIfPresent(notesDir, [&](Dir &dir) {
        return scanNotes(dir, notesDir, {false, &broken}, [](const Note &, std::string_view) {}, {});
    });
}

Result<Note> readNote(std::string_view notesDir, std::string_view id) {
    auto dir = content::openIfPresent(notesDir);
    if (!dir) return std::move(dir).failure();
    if (!*dir) return Error::NoteNotFound;
    auto found = findIn(**dir, notesDir, id);
    if (!found) return std::move(found).failure();
    return loadNoteIn(**dir, notesDir, found->fileName());
}

namespace {

// Whether a note of the open notes directory `dir` other than the file
// `self` answers to `slug`, by its file stem or by its slug. A file whose
// front matter cannot be read answers only by its stem (every lookup fails
// while it is broken); a file that cannot be read at all fails the check.
Result<bool> slugTakenIn(const Dir &dir, std::string_view slug, std::string_view self) {
    return content::anyFileAnswers(
        dir, text::frontMatterSettled, [&](std::string_view name) { return isNoteFileName(name) && name != self; },
        [&](std::string_view name, std::string_view head) {
            if (stemOf(name) == slug) return true;
            auto parsed = note_frontmatter::parse(head);
            return parsed && parsed->frontmatter.slug && *parsed->frontmatter.slug == slug;
        });
}

}  // namespace

Result<std::string> createNote(std::string_view notesDir, std::int64_t timestamp,
                               std::optional<std::string_view> slug, std::string_view content) {
    if (timestamp == 0) timestamp = platform::nowSeconds();
    if (timestamp < 0) return Error::InvalidTimestamp;
    std::string stamp = timestampText(timestamp);
    if (stamp.empty() || !std::all_of(stamp.begin(), stamp.end(), text::isAsciiDigit))
        return Error::InvalidTimestamp;
    if (slug && !text::isValidSlug(*slug)) return Error::InvalidSlug;

    std::string name = stamp;
    name += kExtension;
    std::string path = joinPath({notesDir, name});
    // Refuse an unusable path or an unreadable file before anything is made.
    QL_TRY(platform::checkPathLength(path));
    std::string text = composeNoteFile(slug, content);
    QL_TRY(platform::checkWriteSize(text.size()));
    auto dir = content::openLockedMaking(notesDir);
    if (!dir) return std::move(dir).failure();
    // One answer per id: a slug that another note answers to is refused.
    if (slug) {
        auto taken = slugTakenIn(*dir, *slug, name);
        if (!taken) return std::move(taken).failure();
        if (*taken) return Error::DuplicateNote;
    }
    Status written = dir->writeExclusive(name, text);
    if (!written) {
        return written.error() == Error::PathAlreadyExists ? Failure(Error::DuplicateNote)
                                                           : std::move(written).failure();
    }
    return path;
}

namespace {

// Replaces the file of `note` (read whole, in the locked notes directory
// `dir`) with `text` when that reads as a note and a slug it gives, when
// the slug changes, is no other note's answer.
Status replaceNoteText(const Dir &dir, const Note &note, std::string_view text) {
    if (text == note.raw) return {};
    QL_TRY(platform::checkWriteSize(text.size()));
    auto parsed = note_frontmatter::parse(text);
    if (!parsed) return concerning(note.path, std::move(parsed).failure());
    // A block is written as given, so it must be what TOML allows: UTF-8.
    // (The body, after it, may hold any bytes.)
    if (text.starts_with(frontmatter::kDelimiter) &&
        !toml::isValidUtf8(text.substr(0, text.size() - parsed->body.size())))
        return concerning(note.path, Error::InvalidFrontmatterValue);
    const auto &slug = parsed->frontmatter.slug;
    if (slug && slug != note.frontmatter.slug) {
        auto taken = slugTakenIn(dir, *slug, note.fileName());
        if (!taken) return std::move(taken).failure();
        if (*taken) return Error::DuplicateNote;
    }
    // The file keeps its name (and so its timestamp and date).
    return dir.writeReplace(note.fileName(), text);
}

}  // namespace

Status updateNote(std::string_view notesDir, std::string_view id, const NoteUpdate &u) {
    const std::optional<std::string_view> &slug = u.slug;
    const std::optional<std::string_view> &content = u.content;
    const bool clearSlug = u.clearSlug;
    // The request is checked before the disk is looked at.
    if (u.text && (slug || clearSlug || content)) return Error::InvalidOptions;
    if (slug && clearSlug) return Error::InvalidSlug;
    if (slug && !text::isValidSlug(*slug)) return Error::InvalidSlug;
    if (!slug && !clearSlug && !content && !u.text) return Error::NoUpdates;

    // The lookup, the read and the write are one step for every caller
    // that changes notes. Every note's front matter is read (one broken
    // file fails the update), then the found one whole.
    auto dir = content::openLocked(notesDir, Error::NoteNotFound);
    if (!dir) return std::move(dir).failure();
    auto found = findIn(*dir, notesDir, id);
    if (!found) return std::move(found).failure();
    auto note = loadNoteIn(*dir, notesDir, found->fileName());
    if (!note) return std::move(note).failure();

    QL_TRY(platform::checkPathLength(note->path));
    if (u.text) return replaceNoteText(*dir, *note, *u.text);
    // One answer per id: a new slug that another note answers to is refused
    // (the note's own stem and slug are its own).
    if (slug && (!note->frontmatter.slug || *slug != *note->frontmatter.slug)) {
        auto taken = slugTakenIn(*dir, *slug, note->fileName());
        if (!taken) return std::move(taken).failure();
        if (*taken) return Error::DuplicateNote;
    }
    // Only what changes is written: the rest of the block, and the body when
    // none is given, stay byte for byte.
    std::optional<std::optional<std::string_view>> newSlug;
    if (clearSlug) {
        if (note->frontmatter.slug) newSlug.emplace();
    } else if (slug && (!note->frontmatter.slug || *slug != *note->frontmatter.slug)) {
        newSlug.emplace(*slug);
    }
    std::string text = note_frontmatter::rewrite(note->raw, newSlug, content, note->body());
    // A result equal to the file, byte for byte, is not written.
    if (text == note->raw) return {};
    QL_TRY(platform::checkWriteSize(text.size()));
    // The file keeps its name (and so its timestamp and date).
    return dir->writeReplace(note->fileName(), text);
}

Status deleteNote(std::string_view notesDir, std::string_view id) {
    auto dir = content::openLocked(notesDir, Error::NoteNotFound);
    auto found = dir ? findIn(*dir, notesDir, id) : Result<Note>(std::move(dir).failure());
    if (!found) return std::move(found).failure();
    QL_TRY(platform::checkPathLength(found->path));
    return content::removeContentFile(*dir, found->fileName(), Error::NoteNotFound);
}

}  // namespace quorlina
