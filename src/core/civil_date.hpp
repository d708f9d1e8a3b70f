// Civil (proleptic Gregorian, UTC) dates and the decimal number parsers
// used for dates and timestamps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.hpp"

namespace quorlina {

struct CivilDate {
    std::int64_t year;
    int month;  // 1..12
    int day;    // 1..31
};

bool isLeapYear(std::int64_t year) noexcept;
int daysInMonth(std::int64_t year, int month) noexcept;

// The civil date of a day count since 1970-01-01. Closed form, valid for
// every day count an int64 timestamp can give.
CivilDate civilFromDays(std::int64_t days) noexcept;

// The UTC civil date of a Unix timestamp (days rounded toward minus infinity).
CivilDate civilFromTimestamp(std::int64_t timestamp) noexcept;

// "YYYY-MM-DD": the year zero-padded to at least four digits (a negative
// year gets a leading "-"), month and day to two.
std::string formatDate(const CivilDate &d);

// The "YYYY-MM-DD" text of a Unix timestamp's UTC date.
std::string dateFromTimestamp(std::int64_t timestamp);

// Decimal text of a timestamp: digits, "-" for negative values, no padding.
std::string timestampText(std::int64_t timestamp);

// Unsigned decimal parser: an optional leading "+", then digits, with "_"
// allowed between digits (never first or last). InvalidCharacter for any
// other text, Overflow when the value exceeds `max`.
Result<std::uint64_t> parseUnsigned(std::string_view text, std::uint64_t max = UINT64_MAX) noexcept;

// Signed 64-bit decimal parser: an optional "+" or "-", then digits with "_"
// allowed between digits. InvalidCharacter or Overflow, checked character by
// character from the left.
Result<std::int64_t> parseSigned(std::string_view text) noexcept;

}  // namespace quorlina
