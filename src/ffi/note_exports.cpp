// The note exports: create, list, read, update and delete notes, with the
// note records as JSON.

#include "core/notes.hpp"
#include "core/paths.hpp"
#include "ffi/frame.hpp"
#include "ffi/note_json.hpp"
#include "ffi/options.hpp"
#include "quorlina/quorlina.h"

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
    return runExportWithText(out, [&]() -> Result<CHeapText> {
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
        // Every note's front matter decides which note answers (and one
        // broken file fails the call); only that note is read whole.
        auto note = readNote(notesDir(root), id);
        if (!note) return std::move(note).failure();
        return buildNoteJson(*note);
    });
}

QUORLINA_API int quorlina_note_list_ext(const char *root, const quorlina_record_options *options, char **out) {
    return runExportWithText(out, [&]() -> Result<CHeapText> {
        QL_TRY(requireArgs(root));
        auto o = optionsOrDefaults(options, quorlina_record_options QUORLINA_RECORD_OPTIONS_INIT);
        if (!o) return std::move(o).failure();
        const bool bodies = o->content != 0;
        JsonListWriter list;
        QL_TRY(visitNoteRecords(
            notesDir(root), bodies,
            [&](const Note &note, std::string_view body) {
                appendNoteRecordJson(list.nextRecord(), note, bodies ? &body : nullptr);
            },
            [&](std::size_t count) { list.expect(count); }));
        return std::move(list).finish();
    });
}

QUORLINA_API int quorlina_note_read_ext(const char *root, const char *id, const quorlina_record_options *options,
                                        char **out) {
    return runExportWithText(out, [&]() -> Result<CHeapText> {
        QL_TRY(requireArgs(root, id));
        auto o = optionsOrDefaults(options, quorlina_record_options QUORLINA_RECORD_OPTIONS_INIT);
        if (!o) return std::move(o).failure();
        auto note = readNote(notesDir(root), id);
        if (!note) return std::move(note).failure();
        const std::string_view body = note->body();
        CHeapText text;
        appendNoteRecordJson(text, *note, o->content != 0 ? &body : nullptr);
        return text;
    });
}

QUORLINA_API int quorlina_note_update(const char *root, const char *id, const char *slug, int clear_slug,
                                      const char *content) {
    return runExport([&]() -> Status {
        QL_TRY(requireArgs(root, id));
        return updateNote(notesDir(root), id, NoteUpdate{optionalArg(slug), clear_slug != 0, optionalArg(content), {}});
    });
}

QUORLINA_API int quorlina_note_update_ext(const char *root, const char *id,
                                          const quorlina_note_update_options *options) {
    return runExport([&]() -> Status {
        QL_TRY(requireArgs(root, id));
        static constexpr quorlina_note_update_options kDefaults = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
        auto o = optionsOrDefaults(options, kDefaults);
        if (!o) return std::move(o).failure();
        return updateNote(notesDir(root), id,
                          NoteUpdate{optionalArg(o->slug), o->clear_slug != 0, optionalArg(o->content), optionalArg(o->text)});
    });
}

QUORLINA_API int quorlina_note_delete(const char *root, const char *id) {
    return runExport([&]() -> Status {
        QL_TRY(requireArgs(root, id));
        return deleteNote(notesDir(root), id);
    });
}

}  // extern "C"
