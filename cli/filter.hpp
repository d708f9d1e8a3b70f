// Filtering and limiting a list the library returned. The kept elements
// are copied byte for byte, so the output is the library's JSON array with
// only those elements, in the library's order.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_reader.hpp"

namespace qcli {

// A calendar date, ordered by year, month, day.
struct DateKey {
    std::int64_t year;
    int month;
    int day;

    auto operator<=>(const DateKey &) const = default;
};

// A date given on the command line: exactly YYYY-MM-DD, an existing day of
// the years 0001 to 9999.
std::optional<DateKey> parseDateArgument(std::string_view text);

// A date as the library writes it: "YYYY-MM-DD" with a year of four or more
// digits, which a timestamp far from today gives, optionally after a "-".
std::optional<DateKey> parseListedDate(std::string_view text);

struct ListFilter {
    std::vector<std::string> tags;  // an item must carry every one of them
    std::optional<DateKey> since;   // inclusive
    std::optional<DateKey> until;   // inclusive
    std::optional<std::size_t> limit;
    std::optional<bool> draft;      // only drafts (true) or only the rest (false)

    bool active() const { return !tags.empty() || since || until || limit || draft; }

    // Whether an element of the list (an object with "date" and, for posts,
    // "tags" and "draft") passes the tag, draft and date conditions. An element whose date
    // cannot be read fails a date condition.
    bool keeps(const JsonValue &item) const;
};

struct FilteredList {
    std::string json;  // the kept elements as a JSON array
    JsonValue items;   // the kept elements as values (only when asked for)
};

// Applies `filter` to the library's JSON array `json`. Nothing when the
// text is not a JSON array.
std::optional<FilteredList> filterList(std::string_view json, const ListFilter &filter, bool wantItems);

}  // namespace qcli
