// The order of the scans' entries: dates newest first, equal dates in the
// order the directory gave them, the usual dates sorted as numbers and any
// other key as text, compared with a stable sort of the texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/dated_scan.hpp"

using quorlina::DatedEntries;

namespace {

// Sorts (key, name) pairs with `entries` and with std::stable_sort on the
// key texts, and checks that both give the same names in the same order,
// and that every entry knows when it was added.
void expectSortedAsText(const std::vector<std::pair<std::string, std::string>> &items) {
    DatedEntries entries;
    for (const auto &[key, name] : items) ASSERT_TRUE(entries.add(key, name));
    entries.sortNewestFirst();
    std::vector<std::size_t> want(items.size());
    for (std::size_t i = 0; i < want.size(); ++i) want[i] = i;
    std::stable_sort(want.begin(), want.end(), [&](std::size_t a, std::size_t b) { return items[a].first > items[b].first; });
    ASSERT_EQ(entries.size(), items.size());
    for (std::uint32_t at = 0; at < entries.size(); ++at) {
        EXPECT_EQ(entries.name(at), items[want[at]].second) << "place " << at;
        EXPECT_EQ(entries.key(at), items[want[at]].first) << "place " << at;
        EXPECT_EQ(entries.addedAt(at), want[at]);
        EXPECT_EQ(entries.placeOfAdded(entries.addedAt(at)), at);
    }
}

}  // namespace

TEST(DatedEntries, TiesKeepTheDirectoryOrder) {
    expectSortedAsText({{"2024-05-01", "A"}, {"2023-01-01", "B"}, {"2024-05-01", "C"}});
    expectSortedAsText({});
    expectSortedAsText({{"1970-01-01", "only"}});
}

TEST(DatedEntries, KeysOfOtherFormsSortAsText) {
    // A name that is no timestamp has the empty key; years past 9999 and
    // before 0 print with other lengths, and sort as their texts do.
    expectSortedAsText({{"2024-05-01", "a"}, {"", "bad"}, {"10000-01-01", "far"}, {"9999-12-31", "last"},
                        {"-0001-12-31", "before"}, {"2024-05-01", "b"}, {"", "bad2"}});
    expectSortedAsText({{"2024-5-01", "short month"}, {"2024-05-01", "a"}, {"2024-05-0x", "odd"}});
}

TEST(DatedEntries, ManyEntriesWithFewDates) {
    std::vector<std::pair<std::string, std::string>> items;
    for (int i = 0; i < 5000; ++i) {
        int y = 2014 + (i * 7919) % 11, m = 1 + (i * 31) % 12, d = 1 + (i * 17) % 28;
        char key[16];
        std::snprintf(key, sizeof key, "%04d-%02d-%02d", y, m, d);
        items.emplace_back(key, "n" + std::to_string(i));
    }
    expectSortedAsText(items);
    items.emplace_back("", "broken");
    expectSortedAsText(items);
}
