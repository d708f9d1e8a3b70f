#include "filter.hpp"

#include <algorithm>

namespace qcli {

namespace {

bool isLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysIn(std::int64_t year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// The value of `digits` decimal digits, or -1 when any is not a digit.
std::int64_t number(std::string_view digits) {
    std::int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "-MM-DD" after the year.
std::optional<DateKey> monthAndDay(std::int64_t year, std::string_view rest) {
    if (rest.size() != 6 || rest[0] != '-' || rest[3] != '-') return std::nullopt;
    const std::int64_t month = number(rest.substr(1, 2));
    const std::int64_t day = number(rest.substr(4, 2));
    if (month < 1 || month > 12 || day < 1) return std::nullopt;
    return DateKey{year, static_cast<int>(month), static_cast<int>(day)};
}

}  // namespace

std::optional<DateKey> parseDateArgument(std::string_view text) {
    if (text.size() != 10) return std::nullopt;
    const std::int64_t year = number(text.substr(0, 4));
    if (year < 1) return std::nullopt;
    std::optional<DateKey> date = monthAndDay(year, text.substr(4));
    if (!date || date->day > daysIn(year, date->month)) return std::nullopt;
    return date;
}

std::optional<DateKey> parseListedDate(std::string_view text) {
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) text.remove_prefix(1);
    const std::size_t yearDigits = text.size() >= 6 ? text.size() - 6 : 0;
    // Nineteen digits always fit in an int64; the library's years have at
    // most twelve.
    if (yearDigits < 4 || yearDigits > 18) return std::nullopt;
    const std::int64_t year = number(text.substr(0, yearDigits));
    if (year < 0) return std::nullopt;
    return monthAndDay(negative ? -year : year, text.substr(yearDigits));
}

bool ListFilter::keeps(const JsonValue &item) const {
    if (since || until) {
        const JsonValue *date = item.find("date");
        if (date == nullptr || !date->isString()) return false;
        const std::optional<DateKey> key = parseListedDate(date->text);
        if (!key || (since && *key < *since) || (until && *key > *until)) return false;
    }
    if (draft) {
        // A record without the member is no draft.
        const JsonValue *flag = item.find("draft");
        const bool isDraft = flag != nullptr && flag->kind == JsonValue::Kind::Boolean && flag->boolean;
        if (isDraft != *draft) return false;
    }
    if (!tags.empty()) {
        const JsonValue *have = item.find("tags");
        if (have == nullptr || !have->isArray()) return false;
        for (const std::string &wanted : tags) {
            const bool found = std::any_of(have->items.begin(), have->items.end(), [&](const JsonValue &t) {
                return t.isString() && t.text == wanted;
            });
            if (!found) return false;
        }
    }
    return true;
}

std::optional<FilteredList> filterList(std::string_view json, const ListFilter &filter, bool wantItems) {
    FilteredList out;
    out.items.kind = JsonValue::Kind::Array;
    out.json.push_back('[');
    std::size_t kept = 0;
    // Without a table to fill only the members the filter reads are decoded.
    static const std::vector<std::string_view> kFilterKeys = {"date", "tags", "draft"};
    const bool ok = forEachArrayElement(json, [&](JsonValue &&item, std::string_view bytes) {
        if (filter.limit && kept >= *filter.limit) return false;
        if (!filter.keeps(item)) return true;
        if (kept++ > 0) out.json.push_back(',');
        out.json.append(bytes);
        if (wantItems) out.items.items.push_back(std::move(item));
        return !filter.limit || kept < *filter.limit;
    }, wantItems ? nullptr : &kFilterKeys);
    if (!ok) return std::nullopt;
    out.json.push_back(']');
    return out;
}

}  // namespace qcli
