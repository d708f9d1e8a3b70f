#include "ffi/note_json.hpp"

#include "ffi/json.hpp"

namespace quorlina::ffi {

namespace {

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

}  // namespace

void appendNoteSummaryJson(CHeapText &out, const Note &note) {
    appendNoteHead(out, note);
    out += '}';
}

void appendNoteRecordJson(CHeapText &out, const Note &note, const std::string_view *body) {
    appendNoteHead(out, note);
    out += ",\"path\":\"";
    appendEscapedJson(out, note.path);
    out += '"';
    if (body) {
        out += ",\"content\":\"";
        appendEscapedJson(out, *body);
        out += '"';
    }
    out += '}';
}

std::string buildNoteJson(const Note &note) {
    std::string out;
    out.reserve(64 + note.id.size() + note.body().size() + note.body().size() / 8);
    appendNoteHead(out, note);
    out += ",\"content\":";
    appendJsonString(out, note.body());
    out += '}';
    return out;
}

}  // namespace quorlina::ffi
