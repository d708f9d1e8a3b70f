// JSON records of notes.
#pragma once

#include <string>

#include "core/notes.hpp"
#include "ffi/c_heap_text.hpp"

namespace quorlina::ffi {

// The summary record of a note, appended to `out`:
// {"date":..,"id":..,"slug":..|null}
void appendNoteSummaryJson(CHeapText &out, const Note &note);

// The full record of a note, appended to `out`:
// {"date":..,"id":..,"slug":..|null,"path":..} and, when `body` is given,
// "content" before the closing brace.
void appendNoteRecordJson(CHeapText &out, const Note &note, const std::string_view *body);

// The record of quorlina_note_read, with its body as "content":
// {"date":..,"id":..,"slug":..|null,"content":..}
std::string buildNoteJson(const Note &note);

}  // namespace quorlina::ffi
