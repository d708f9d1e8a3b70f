#include "core/notes.hpp"

#include <algorithm>

#include "core/civil_date.hpp"
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

// Builds the record for the note file `name` holding `raw`.
Result<Note> makeNote(std::string_view notesDir, std::string_view name, std::string &&raw) {
    Note note;
    note.path = joinPath({notesDir, name});
    auto parsed = note_frontmatter::parse(raw);
    if (!parsed) return parsed.error();
    std::string_view stem = stemOf(name);
    note.id = parsed->frontmatter.slug ? *parsed->frontmatter.slug : std::string(stem);
    auto timestamp = parseSigned(stem);
    if (!timestamp) {
        warnInvalidTimestamp(name, timestamp.error());
        return Error::InvalidTimestamp;
    }
    note.date = dateFromTimestamp(*timestamp);
    // The body is a suffix of the text; keep its offset, which stays valid
    // when the text moves.
    note.bodyOffset = static_cast<std::size_t>(parsed->body.data() - raw.data());
    note.frontmatter = std::move(parsed->frontmatter);
    note.raw = std::move(raw);
    return note;
}

}  // namespace

std::string buildNoteFrontmatter(std::optional<std::string_view> slug) {
    if (!slug) return {};
    std::string out;
    out.reserve(slug->size() + 20);
    out += "+++\nslug = \"";
    for (char c : *slug) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += "\"\n+++\n";
    return out;
}

std::string composeNoteFile(std::optional<std::string_view> slug, std::string_view body) {
    std::string out = buildNoteFrontmatter(slug);
    // A bare body that starts with the delimiter would be taken for front
    // matter when read back; an empty block in front keeps it a body.
    if (!slug && body.starts_with("+++")) out = "+++\n+++\n";
    if (!body.empty()) {
        out.reserve(out.size() + 1 + body.size());
        if (!out.empty()) out += '\n';
        out += body;
    }
    return out;
}

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
            return raw.error();
        }
        auto note = makeNote(notesDir, name, std::move(*raw));
        if (!note) return note.error();
        notes.push_back(std::move(*note));
    }
    // Newest date first; the same date keeps the directory's order.
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note &a, const Note &b) { return a.date > b.date; });
    return notes;
}

const Note *findNoteById(const std::vector<Note> &notes, std::string_view id) noexcept {
    for (const Note &note : notes) {
        if (note.id == id) return &note;
        std::string_view name = note.fileName();
        if (name.ends_with(kExtension) && stemOf(name) == id) return &note;
    }
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
    // Refuse an unusable path before anything is created.
    QL_TRY(platform::checkPathLength(path));
    QL_TRY(platform::makeDirPath(notesDir));
    auto dir = platform::Dir::open(notesDir);
    if (!dir) return dir.error();
    Status written = dir->writeExclusive(name, composeNoteFile(slug, content));
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

    auto notes = loadNotes(notesDir);
    if (!notes) return notes.error();
    const Note *note = findNoteById(*notes, id);
    if (note == nullptr) return Error::NoteNotFound;

    std::optional<std::string_view> newSlug;
    if (!clearSlug) {
        if (slug) newSlug = slug;
        else if (note->frontmatter.slug) newSlug = std::string_view(*note->frontmatter.slug);
    }
    std::string_view newBody = content ? *content : note->body();

    QL_TRY(platform::checkPathLength(note->path));
    auto dir = platform::Dir::open(notesDir);
    if (!dir) return dir.error();
    // The file keeps its name (and so its timestamp and date).
    return dir->writeReplace(note->fileName(), composeNoteFile(newSlug, newBody));
}

Status deleteNote(std::string_view notesDir, std::string_view id) {
    auto notes = loadNotes(notesDir);
    if (!notes) return notes.error();
    const Note *note = findNoteById(*notes, id);
    if (note == nullptr) return Error::NoteNotFound;
    Status removed = platform::removeFile(note->path);
    // Some systems refuse to unlink a directory with EPERM; report what the
    // path is instead.
    if (!removed && removed.error() == Error::PermissionDenied && platform::isDirectory(note->path))
        return Error::IsDir;
    return removed;
}

}  // namespace quorlina
