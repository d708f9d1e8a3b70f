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
void appendNoteHead(std::string &out, const Note &note) {
    out += "{\"date\":\"";
    out += note.date;
    out += "\",\"id\":\"";
    out += note.id;
    out += "\",\"slug\":";
    if (note.frontmatter.slug) {
        appendJsonString(out, *note.frontmatter.slug);
    } else {
        out += "null";
    }
}

// The summary record of a note (no body).
void appendNoteSummaryJson(std::string &out, const Note &note) {
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

std::string buildNoteListJson(const std::vector<Note> &notes) {
    std::string out;
    out.reserve(2 + notes.size() * 64);
    out += '[';
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (i) out += ',';
        appendNoteSummaryJson(out, notes[i]);
    }
    out += ']';
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
    return runExportWithText(out, [&]() -> Result<std::string> {
        QL_TRY(requireArgs(root));
        auto notes = loadNotes(notesDir(root));
        if (!notes) return notes.error();
        return buildNoteListJson(*notes);
    });
}

QUORLINA_API int quorlina_note_read(const char *root, const char *id, char **out) {
    return runExportWithText(out, [&]() -> Result<std::string> {
        QL_TRY(requireArgs(root, id));
        auto notes = loadNotes(notesDir(root));
        if (!notes) return notes.error();
        const Note *note = findNoteById(*notes, id);
        if (note == nullptr) return Error::NoteNotFound;
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
