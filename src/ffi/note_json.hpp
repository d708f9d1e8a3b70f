// JSON records of notes.
#pragma once

#include <string>

#include "core/notes.hpp"
#include "ffi/c_heap_text.hpp"

namespace quorlina::ffi {

// The summary record of a note, appended to `out`:
// {"date":..,"id":..,"slug":..|null}
void appendNoteSummaryJson(CHeapText &out, const Note &note);

// The full record of a note, with its body as "content":
// {"date":..,"id":..,"slug":..|null,"content":..}
std::string buildNoteJson(const Note &note);

}  // namespace quorlina::ffi
