// Turning the library's JSON texts into text for people: aligned tables for
// lists and "field: value" blocks followed by the body for single items.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_reader.hpp"

namespace qcli {

// One column of a list table: its header and the JSON key it shows.
struct Column {
    const char *header;
    const char *key;
};

// One field line of a read view: its label and the JSON key it shows.
struct Field {
    const char *label;
    const char *key;
};

// The views of the three families. The column sets are part of the tool's
// interface: scripts split these tables, so columns are only ever appended.
extern const std::vector<Column> kSnippetColumns;
extern const std::vector<Column> kPostColumns;
extern const std::vector<Column> kNoteColumns;
extern const std::vector<Field> kSnippetFields;
extern const std::vector<Field> kPostFields;
extern const std::vector<Field> kNoteFields;
extern const char *const kSnippetBody;
extern const char *const kPostBody;
extern const char *const kNoteBody;

// The pieces joined into one string (appended in order, one allocation).
std::string cat(std::initializer_list<std::string_view> parts);

// A value made printable on one line: control bytes become escapes such as
// "\t" or "\x01"; other bytes (UTF-8 included) stay as they are.
std::string oneLine(std::string_view text);

// The printed text of a JSON value: strings as one line, string arrays
// joined with `separator`, null, missing values and empty arrays as "-".
std::string valueText(const JsonValue *value, std::string_view separator);

// The table of a JSON array of objects: a header row, then one row per
// element (arrays joined with ","), columns padded to equal display width
// (see text_width.hpp) and separated by two spaces; the last column is not
// padded. When `maxWidth` is not 0, the last column of each line is cut so
// that the line takes at most `maxWidth` columns. Nothing when `list` is
// not an array.
std::optional<std::string> renderTable(const JsonValue &list, const std::vector<Column> &columns,
                                       std::size_t maxWidth = 0);

// The read view of a JSON object: one "label: value" line per field with the
// values aligned (arrays joined with ", "), an empty line, then the body bytes unchanged (followed by a
// line feed when they do not end with one). Nothing when `item` is not an
// object.
std::optional<std::string> renderItem(const JsonValue &item, const std::vector<Field> &fields,
                                      const char *bodyKey);

// A snippet record with its code as it was written: a snippet file puts one
// empty line between its front matter and its code, and the library's
// "code" keeps that line's break; this drops it (only that one), so that
// the code read can be written back unchanged.
std::string withoutCodeLead(std::string_view json);

}  // namespace qcli
