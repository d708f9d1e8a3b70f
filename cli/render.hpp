// Turning the library's JSON texts into text for people: aligned tables for
// lists and "field: value" blocks followed by the body for single items.
#pragma once

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
    // A marker the cell ends with when the item's boolean member `flagKey`
    // is true (a draft's title: "Title [draft]"). A marker rather than a
    // column: the last column is free text that scripts take as the rest
    // of the line, and the rows of other items stay as they were.
    const char *flagKey = nullptr;
    const char *flagText = nullptr;
};

// One field line of a read view: its label and the JSON key it shows.
struct Field {
    const char *label;
    const char *key;
};

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

// The read view of a JSON object: one "label: value" line per field with
// the values aligned (arrays joined with ", "), an empty line, then the
// body bytes unchanged (followed by a line feed when they do not end with
// one). Nothing when `item` is not an object.
std::optional<std::string> renderItem(const JsonValue &item, const std::vector<Field> &fields,
                                      const char *bodyKey);

}  // namespace qcli
