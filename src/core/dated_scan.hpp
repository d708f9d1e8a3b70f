// The shared core of the fast list scans. A family's list order follows
// from its entry names alone (snippet and note dates come from the file
// stem, post dates from the directories), so a scan first collects the
// names with their sort keys, sorts them, and only then reads the files,
// one at a time, in list order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform.hpp"
#include "core/result.hpp"

namespace quorlina {

// Entry names with their sort keys, in the order the scan met them, held in
// one arena so that a large directory costs little memory.
class DatedEntries {
public:
    // Adds an entry; false when the arena cannot hold it.
    bool add(std::string_view key, std::string_view name) {
        if (key.size() > UINT16_MAX || name.size() > UINT16_MAX ||
            arena_.size() + key.size() + name.size() > UINT32_MAX)
            return false;
        entries_.push_back(Entry{static_cast<std::uint32_t>(arena_.size()), static_cast<std::uint16_t>(key.size()),
                                 static_cast<std::uint16_t>(name.size())});
        arena_.append(key).append(name);
        return true;
    }

    // Sorts newest first: keys compared byte by byte, descending; equal keys
    // keep the order in which they were added.
    void sortNewestFirst() {
        arena_.shrink_to_fit();
        entries_.shrink_to_fit();
        order_.resize(entries_.size());
        for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<std::uint32_t>(i);
        // Dates of the usual form sort as numbers; any other key as text.
        std::vector<std::uint64_t> numbers(entries_.size());
        bool allDates = true;
        for (std::size_t i = 0; i < numbers.size() && allDates; ++i)
            allDates = numberOfDate(key(static_cast<std::uint32_t>(i)), numbers[i]);
        if (allDates) {
            std::stable_sort(order_.begin(), order_.end(),
                             [&](std::uint32_t a, std::uint32_t b) { return numbers[a] > numbers[b]; });
        } else {
            std::stable_sort(order_.begin(), order_.end(),
                             [&](std::uint32_t a, std::uint32_t b) { return key(a) > key(b); });
        }
    }

    std::size_t size() const noexcept { return entries_.size(); }
    std::string_view key(std::uint32_t i) const noexcept {
        return std::string_view(arena_).substr(entries_[i].offset, entries_[i].keyLength);
    }
    std::string_view name(std::uint32_t i) const noexcept {
        return std::string_view(arena_).substr(entries_[i].offset + entries_[i].keyLength, entries_[i].nameLength);
    }
    // Indexes (in the order of adding) sorted by sortNewestFirst.
    const std::vector<std::uint32_t> &order() const noexcept { return order_; }

private:
    // A "YYYY-MM-DD" key as the number YYYYMMDD, which orders as the text
    // does among such keys (their dashes stand at the same places); false
    // for a key of any other form.
    static bool numberOfDate(std::string_view key, std::uint64_t &number) noexcept {
        if (key.size() != 10 || key[4] != '-' || key[7] != '-') return false;
        number = 0;
        for (std::size_t i = 0; i < key.size(); ++i) {
            if (i == 4 || i == 7) continue;
            if (key[i] < '0' || key[i] > '9') return false;
            number = number * 10 + static_cast<std::uint64_t>(key[i] - '0');
        }
        return true;
    }

    struct Entry {
        std::uint32_t offset;
        std::uint16_t keyLength;
        std::uint16_t nameLength;
    };
    std::string arena_;
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> order_;
};

// Lists the open directory `dir` into `entries` and sorts them newest
// first. keyOf(entry) gives the sort key of an entry, or nothing to pass it
// over; an entry whose name fails when loaded gets the empty key.
template <class KeyOf>
Status listDated(platform::Dir &dir, DatedEntries &entries, KeyOf &&keyOf) {
    for (;;) {
        auto entry = dir.next();
        if (!entry) return entry.error();
        if (!*entry) break;
        std::optional<std::string> key = keyOf(**entry);
        if (key && !entries.add(*key, (*entry)->name)) return Error::NameTooLong;
    }
    entries.sortNewestFirst();
    return {};
}

// Calls load(i) for every entry in sorted order and visit(i) after each
// success. An entry removed or replaced since it was listed is passed over,
// as a full scan passes it over. A failure is reported as a full scan in
// listing order would report it: when entry i fails, the entries added
// before it that were not loaded yet are loaded first, and the first of
// them that fails decides. onFail(i, error) is called once, for the entry
// that decides.
//
// When `reader` has found the page cache cold, ahead(i) is called for the
// entries that come next, up to the reader's window, so that their files
// are opened ahead of their turn (FileReader::openAhead, with i as the tag).
template <class Ahead, class Load, class Visit, class OnFail>
Status loadInOrder(const DatedEntries &entries, const platform::FileReader &reader, Ahead &&ahead, Load &&load,
                   Visit &&visit, OnFail &&onFail) {
    std::vector<bool> done(entries.size(), false);
    auto fail = [&](std::uint32_t i, Error e) -> Status {
        onFail(i, e);
        return e;
    };
    const std::vector<std::uint32_t> &order = entries.order();
    std::size_t next = 0;  // the position in `order` of the next entry to open ahead
    for (std::size_t at = 0; at < order.size(); ++at) {
        const std::uint32_t i = order[at];
        next = std::max(next, at + 1);
        while (next < order.size() && reader.wantsAhead()) ahead(order[next++]);
        Status st = load(i);
        done[i] = true;
        if (!st && platform::changedSinceListed(st.error())) continue;
        if (!st) {
            for (std::uint32_t j = 0; j < i; ++j) {
                if (done[j]) continue;
                Status earlier = load(j);
                if (!earlier && !platform::changedSinceListed(earlier.error())) return fail(j, earlier.error());
            }
            return fail(i, st.error());
        }
        visit(i);
    }
    return {};
}

}  // namespace quorlina
