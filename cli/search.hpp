// Searching the records of a family's list for a text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "family_table.hpp"
#include "json_reader.hpp"

namespace qcli {

// Where a record matched: the member and its first line holding the text.
struct SearchHit {
    std::string field;  // "title", "tags", "content", ...
    std::string line;   // that line, as written (a tag: the tag)
};

// The members of a family's records that search looks at, in the order it
// looks: posts' title, description, tags and body; notes' slug and body;
// snippets' description, file name and code.
const std::vector<const char *> &searchedFields(Family family);

// Whether `haystack` holds `needle`, ASCII letters of either case matching
// (other bytes as they are).
bool containsIgnoringAsciiCase(std::string_view haystack, std::string_view needle);

// The first line of the searched members of `record` that holds `needle`;
// nothing when none does. A string array (tags) is looked at item by item.
std::optional<SearchHit> firstMatch(const JsonValue &record, Family family, std::string_view needle);

}  // namespace qcli
