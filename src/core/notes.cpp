#include "core/notes.hpp"

#include <algorithm>
#include <cstdint>

#include "core/civil_date.hpp"
#include "core/dated_scan.hpp"
#include "core/last_error.hpp"
#include "core/paths.hpp"
#include "core/platform.hpp"
#include "core/text.hpp"

namespace quorlina {

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

void warnInvalidTimestamp(std::string_view name, Error e) {
    std::string line = "warning: Invalid timestamp in filename '";
    line += name;
    line += "': error.";
    line += errorName(e);
    line += '\n';
    platform::writeErrorLine(line);
}

// Builds the record for the note file `name` from its text: the whole file
// (the caller then moves it into `raw`, to which `bodyOffset` refers), or
// the start of it up to the end of its front matter for a record without
// text.
Result<Note> makeNote(std::string_view notesDir, std::string_view name, std::string_view text) {
    Note note;
    note.path = joinPath({notesDir, name});
    auto parsed = note_frontmatter::parse(text);
    if (!parsed) {
        last_error::setForFile(note.path, parsed.error());
        return parsed.error();
    }
    std::string_view stem = stemOf(name);
    note.id = parsed->frontmatter.slug ? *parsed->frontmatter.slug : std::string(stem);
    auto timestamp = parseSigned(stem);
    if (!timestamp) {
        warnInvalidTimestamp(name, timestamp.error());
        last_error::setForFile(note.path, Error::InvalidTimestamp);
        return Error::InvalidTimestamp;
    }
    note.date = dateFromTimestamp(*timestamp);
    // The body is a suffix of the text; keep its offset, which stays valid
    // when the text moves.
    note.bodyOffset = static_cast<std::size_t>(parsed->body.data() - text.data());
    note.frontmatter = std::move(parsed->frontmatter);
    return note;
}


}  // namespace

std::string_view Note::fileName() const noexcept {
    std::string_view p = path;
    std::size_t slash = p.rfind('/');
    return slash == std::string_view::npos ? p : p.substr(slash + 1);
}

Result<std::vector<Note>> loadNotes(std::string_view notesDir) {
    auto dir = platform::Dir::open(notesDir);
    if (!dir) {
        // A site without notes is an empty store.
        if (dir.error() == Error::FileNotFound) return std::vector<Note>{};
        return dir.error();
    }
    std::vector<Note> notes;
    std::string name;
    for (;;) {
        auto entry = dir->next();
        if (!entry) return entry.error();
        if (!*entry) break;
        // Symbolic links and everything but regular files are never notes.
        if ((*entry)->kind != platform::EntryKind::File || !isNoteFileName((*entry)->name)) continue;
        name.assign((*entry)->name);
        auto raw = dir->readFile(name);
        if (!raw) {
            if (platform::changedSinceListed(raw.error())) continue;
            last_error::setForFile(joinPath({notesDir, name}), raw.error());
            return raw.error();
        }
        auto note = makeNote(notesDir, name, *raw);
        if (!note) return note.error();
        note->raw = std::move(*raw);
        notes.push_back(std::move(*note));
    }
    // Newest date first; the same date keeps the directory's order.
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note &a, const Note &b) { return a.date > b.date; });
    return notes;
}

// The order of the store follows from the file names alone (the date is the
// stem's), so the names are sorted first and the files read one at a time
// in that order, each only up to the end of its front matter. A failure is
// reported as loadNotes reports it, for the first failing file in
// directory order: when a file fails, the files before it in directory
// order that were not read yet are read first. A stem that is not a
// timestamp (which loadNotes reports with a warning line once the file's
// front matter has been read) leaves the whole job to loadNotes, before any
// file is read.
namespace {

Status visitNotesIn(platform::Dir &dir, std::string_view notesDir, const std::function<void(const Note &)> &visit,
                    const std::function<void(std::size_t count)> &expect) {
    auto viaFullLoad = [&]() -> Status {
        auto all = loadNotes(notesDir);
        if (!all) return all.error();
        if (expect) expect(all->size());
        for (Note &note : *all) {
            note.raw.clear();
            note.bodyOffset = 0;
            visit(note);
        }
        return {};
    };
    DatedEntries entries;
    for (;;) {
        auto entry = dir.next();
        if (!entry) return viaFullLoad();
        if (!*entry) break;
        if ((*entry)->kind != platform::EntryKind::File || !isNoteFileName((*entry)->name)) continue;
        std::string_view name = (*entry)->name;
        auto timestamp = parseSigned(stemOf(name));
        if (!timestamp || !entries.add(dateFromTimestamp(*timestamp), name)) return viaFullLoad();
    }
    entries.sortNewestFirst();
    if (expect) expect(entries.size());

    std::string head;
    std::optional<Note> current;
    return loadInOrder(
        entries,
        [&](std::uint32_t i) -> Status {
            std::string_view name = entries.name(i);
            auto text = dir.readFileHead(name, head, text::frontMatterSettled);
            if (!text) {
                last_error::setForFile(joinPath({notesDir, name}), text.error());
                return text.error();
            }
            auto note = makeNote(notesDir, name, *text);
            if (!note) return note.error();
            note->bodyOffset = 0;  // no text, so no body
            current = std::move(*note);
            return {};
        },
        [&](std::uint32_t) { visit(*current); });
}

}  // namespace

Status visitNotes(std::string_view notesDir, const std::function<void(const Note &)> &visit,
                  const std::function<void(std::size_t count)> &expect) {
    auto dir = platform::Dir::open(notesDir);
    if (!dir) {
        if (dir.error() == Error::FileNotFound) return {};
        return dir.error();
    }
    return visitNotesIn(*dir, notesDir, visit, expect);
}

namespace {

Result<Note> loadNoteIn(const platform::Dir &dir, std::string_view notesDir, std::string_view name) {
    // A note removed or replaced since it was found is not there any more.
    auto raw = dir.readFile(name);
    if (!raw) last_error::setForFile(joinPath({notesDir, name}), raw.error());
    if (!raw) return platform::changedSinceListed(raw.error()) ? Error::NoteNotFound : raw.error();
    auto note = makeNote(notesDir, name, *raw);
    if (!note) return note.error();
    note->raw = std::move(*raw);
    return note;
}

}  // namespace

Result<Note> loadNote(std::string_view notesDir, std::string_view name) {
    auto dir = platform::Dir::open(notesDir);
    if (!dir) return platform::changedSinceListed(dir.error()) ? Error::NoteNotFound : dir.error();
    return loadNoteIn(*dir, notesDir, name);
}

namespace {

// Whether `note` answers to `id`: its id, or its file stem.
bool matchesId(const Note &note, std::string_view id) noexcept {
    if (note.id == id) return true;
    std::string_view name = note.fileName();
    return name.ends_with(kExtension) && stemOf(name) == id;
}

// The notes directory opened and locked for a change to an existing note;
// a missing one holds no note.
Result<platform::Dir> lockNotesDir(std::string_view notesDir) {
    auto dir = platform::Dir::open(notesDir);
    if (!dir) return dir.error() == Error::FileNotFound ? Error::NoteNotFound : dir.error();
    QL_TRY(dir->lockExclusive());
    return dir;
}

// The note `id` in the locked `dir` (found through a handle of its own), as
// a record without text.
Result<Note> findInLocked(const platform::Dir &dir, std::string_view notesDir, std::string_view id) {
    auto scan = dir.reopen();
    if (!scan) return scan.error();
    std::optional<Note> found;
    QL_TRY(visitNotesIn(*scan, notesDir, [&](const Note &note) {
        if (!found && matchesId(note, id)) found = note;
    }, {}));
    if (!found) return Error::NoteNotFound;
    return std::move(*found);
}

}  // namespace

Result<std::optional<Note>> findNote(std::string_view notesDir, std::string_view id) {
    std::optional<Note> found;
    QL_TRY(visitNotes(notesDir, [&](const Note &note) {
        if (!found && matchesId(note, id)) found = note;
    }));
    return found;
}

const Note *findNoteById(const std::vector<Note> &notes, std::string_view id) noexcept {
    for (const Note &note : notes)
        if (matchesId(note, id)) return &note;
    return nullptr;
}

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
    auto dir = platform::Dir::openMaking(notesDir);
    if (!dir) return dir.error();
    QL_TRY(dir->lockExclusive());
    Status written = dir->writeExclusive(name, text);
    if (!written) {
        return written.error() == Error::PathAlreadyExists ? Error::DuplicateNote : written.error();
    }
    return path;
}

Status updateNote(std::string_view notesDir, std::string_view id, std::optional<std::string_view> slug,
                  bool clearSlug, std::optional<std::string_view> content) {
    // The request is checked before the disk is looked at.
    if (slug && clearSlug) return Error::InvalidSlug;
    if (slug && !text::isValidSlug(*slug)) return Error::InvalidSlug;
    if (!slug && !clearSlug && !content) return Error::NoUpdates;

    // The lookup, the read and the write are one step for every caller
    // that changes notes. Every note's front matter is read (one broken
    // file fails the update), then the found one whole.
    auto dir = lockNotesDir(notesDir);
    if (!dir) return dir.error();
    auto found = findInLocked(*dir, notesDir, id);
    if (!found) return found.error();
    auto whole = loadNoteIn(*dir, notesDir, found->fileName());
    if (!whole) return whole.error();
    const Note *note = &*whole;

    QL_TRY(platform::checkPathLength(note->path));
    // Only what changes is written: the rest of the block, and the body when
    // none is given, stay byte for byte.
    std::optional<std::optional<std::string_view>> newSlug;
    if (clearSlug) {
        if (note->frontmatter.slug) newSlug.emplace();
    } else if (slug && (!note->frontmatter.slug || *slug != *note->frontmatter.slug)) {
        newSlug.emplace(*slug);
    }
    std::string text = note_frontmatter::rewrite(note->raw, newSlug, content, note->body());
    QL_TRY(platform::checkWriteSize(text.size()));
    // The file keeps its name (and so its timestamp and date).
    return dir->writeReplace(note->fileName(), text);
}

Status deleteNote(std::string_view notesDir, std::string_view id) {
    auto dir = lockNotesDir(notesDir);
    if (!dir) return dir.error();
    auto found = findInLocked(*dir, notesDir, id);
    if (!found) return found.error();
    QL_TRY(platform::checkPathLength(found->path));
    std::string_view name = found->fileName();
    Status removed = dir->removeFile(name);
    // Some systems refuse to unlink a directory with EPERM or EACCES; report
    // what the entry is instead.
    if (!removed && (removed.error() == Error::PermissionDenied || removed.error() == Error::AccessDenied) &&
        dir->isChildDirectory(name))
        return Error::IsDir;
    // Removed by someone else since the store was loaded.
    if (!removed && removed.error() == Error::FileNotFound) return Error::NoteNotFound;
    return removed;
}

}  // namespace quorlina
