// The note exports: create, list, read, update and delete notes, with the
// note records as JSON.
#include <optional>
#include <string>

#include "core/notes.hpp"
#include "core/paths.hpp"
#include "ffi/frame.hpp"
#include "ffi/json.hpp"
#include "quorlina/quorlina.h"

namespace quorlina::ffi {
namespace {

std::optional<std::string_view> optionalArg(const char *s) noexcept {
    return s ? std::optional<std::string_view>(s) : std::nullopt;
}

// The members every note record starts with: {"date":..,"id":..,"slug":..|null.
// Dates and ids are made of digits, letters, "+", "-" and "_" only and are
// written as they are.
template <class Out>
void appendNoteHead(Out &out, const Note &note) {
    out += "{\"date\":\"";
    out += note.date;
    out += "\",\"id\":\"";
    out += note.id;
    out += "\",\"slug\":";
    if (note.frontmatter.slug) {
        out += '"';
        appendEscapedJson(out, *note.frontmatter.slug);
        out += '"';
    } else {
        out += "null";
    }
}

// The summary record of a note (no body).
template <class Out>
void appendNoteSummaryJson(Out &out, const Note &note) {
    appendNoteHead(out, note);
    out += '}';
}

// The full record of a note, with its body as "content".
std::string buildNoteJson(const Note &note) {
    std::string out;
    out.reserve(64 + note.id.size() + note.body().size() + note.body().size() / 8);
    appendNoteHead(out, note);
    out += ",\"content\":";
    appendJsonString(out, note.body());
    out += '}';
    return out;
}


}  // namespace
}  // namespace quorlina::ffi

using namespace quorlina;
using namespace quorlina::ffi;

extern "C" {

QUORLINA_API int quorlina_note_create(const char *root, int64_t timestamp, const char *slug,
                                      const char *content, char **out) {
    return runExportWithText(out, [&]() -> Result<std::string> {
        QL_TRY(requireArgs(root));
        return createNote(notesDir(root), timestamp, optionalArg(slug), arg(content));
    });
}

QUORLINA_API int quorlina_note_list(const char *root, char **out) {
    return runExportWithCHeapText(out, [&]() -> Result<CHeapText> {
        QL_TRY(requireArgs(root));
        // The records go straight into the text handed out, one note at a
        // time; the notes' bodies are never read.
        JsonListWriter list;
        QL_TRY(visitNotes(
            notesDir(root), [&](const Note &note) { appendNoteSummaryJson(list.nextRecord(), note); },
            [&](std::size_t count) { list.expect(count); }));
        return std::move(list).finish();
    });
}

QUORLINA_API int quorlina_note_read(const char *root, const char *id, char **out) {
    return runExportWithText(out, [&]() -> Result<std::string> {
        QL_TRY(requireArgs(root, id));
        std::string dir = notesDir(root);
        // Every note's front matter decides which note answers (and one
        // broken file fails the call); only that note is read whole.
        auto found = findNote(dir, id);
        if (!found) return found.error();
        if (!*found) return Error::NoteNotFound;
        auto note = loadNote(dir, (*found)->fileName());
        if (!note) return note.error();
        return buildNoteJson(*note);
    });
}

QUORLINA_API int quorlina_note_update(const char *root, const char *id, const char *slug, int clear_slug,
                                      const char *content) {
    return runExport([&]() -> Status {
        QL_TRY(requireArgs(root, id));
        return updateNote(notesDir(root), id, optionalArg(slug), clear_slug != 0, optionalArg(content));
    });
}

QUORLINA_API int quorlina_note_delete(const char *root, const char *id) {
    return runExport([&]() -> Status {
        QL_TRY(requireArgs(root, id));
        return deleteNote(notesDir(root), id);
    });
}

}  // extern "C"
