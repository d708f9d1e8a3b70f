#include "core/civil_date.hpp"

#include <charconv>
#include <cstdio>

namespace quorlina {

bool isLeapYear(std::int64_t y) noexcept { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(std::int64_t year, int month) noexcept {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    if (month == 2 && isLeapYear(year)) return 29;
    return kDays[month - 1];
}

CivilDate civilFromDays(std::int64_t z) noexcept {
    // Days are counted in 400-year eras of 146097 days, starting on March 1
    // so that the leap day falls at the end of each year.
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;                                 // [0, 146096]
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);          // [0, 365]
    const std::int64_t mp = (5 * doy + 2) / 153;                              // [0, 11]
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return CivilDate{y, m, d};
}

CivilDate civilFromTimestamp(std::int64_t ts) noexcept {
    std::int64_t days = ts / 86400;
    if (ts % 86400 < 0) --days;
    return civilFromDays(days);
}

std::string formatDate(const CivilDate &d) {
    if (d.year >= 0 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31) {
        // The usual four-digit year, without the cost of printf (the scans
        // format one date per file).
        auto y = static_cast<int>(d.year);
        const char text[10] = {static_cast<char>('0' + y / 1000),     static_cast<char>('0' + y / 100 % 10),
                               static_cast<char>('0' + y / 10 % 10),  static_cast<char>('0' + y % 10),
                               '-',
                               static_cast<char>('0' + d.month / 10), static_cast<char>('0' + d.month % 10),
                               '-',
                               static_cast<char>('0' + d.day / 10),   static_cast<char>('0' + d.day % 10)};
        return std::string(text, sizeof text);
    }
    char buf[48];
    int n;
    if (d.year < 0) {
        // Widen before negating: the magnitude of any reachable year fits.
        n = std::snprintf(buf, sizeof buf, "-%04llu-%02d-%02d",
                          static_cast<unsigned long long>(-(d.year + 1)) + 1ULL, d.month, d.day);
    } else {
        n = std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d", static_cast<long long>(d.year), d.month,
                          d.day);
    }
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string dateFromTimestamp(std::int64_t ts) { return formatDate(civilFromTimestamp(ts)); }

std::string timestampText(std::int64_t ts) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, ts);
    return std::string(buf, r.ptr);
}

namespace {

// Shared digit loop: accumulates a magnitude up to `limit`.
Result<std::uint64_t> parseMagnitude(std::string_view s, std::uint64_t limit) noexcept {
    if (s.empty() || s.front() == '_' || s.back() == '_') return Error::InvalidCharacter;
    // x * 10 + digit stays within limit while x < limit / 10, or x equals it
    // and the digit is at most limit % 10 (two divisions per call, not one
    // per digit: the scans parse a number per file name).
    const std::uint64_t tenth = limit / 10;
    const unsigned lastDigit = static_cast<unsigned>(limit % 10);
    std::uint64_t x = 0;
    for (char c : s) {
        if (c == '_') continue;
        if (c < '0' || c > '9') return Error::InvalidCharacter;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (x > tenth || (x == tenth && digit > lastDigit)) return Error::Overflow;
        x = x * 10 + digit;
    }
    return x;
}

}  // namespace

Result<std::uint64_t> parseUnsigned(std::string_view text, std::uint64_t max) noexcept {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    return parseMagnitude(text, max);
}

Result<std::int64_t> parseSigned(std::string_view text) noexcept {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    constexpr std::uint64_t kMaxPos = static_cast<std::uint64_t>(INT64_MAX);
    auto mag = parseMagnitude(text, negative ? kMaxPos + 1 : kMaxPos);
    if (!mag) return mag.error();
    if (!negative) return static_cast<std::int64_t>(*mag);
    if (*mag == kMaxPos + 1) return INT64_MIN;
    return -static_cast<std::int64_t>(*mag);
}

}  // namespace quorlina
