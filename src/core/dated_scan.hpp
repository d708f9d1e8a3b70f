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

#include "core/content.hpp"
#include "core/platform.hpp"
#include "core/result.hpp"

namespace quorlina {

// Entry names with their sort keys, held in one arena so that a large
// directory costs little memory. Entries are added in the order the scan
// meets them; once sorted, they are indexed by their place in list order
// and lie in the arena in that order, so that reading them in turn walks
// memory forward.
class DatedEntries {
public:
    // Adds an entry; false when the arena cannot hold it.
    bool add(std::string_view key, std::string_view name, std::uint64_t ino = 0) {
        if (key.size() > UINT16_MAX || name.size() > UINT16_MAX ||
            arena_.size() + key.size() + name.size() > UINT32_MAX)
            return false;
        entries_.push_back(Entry{static_cast<std::uint32_t>(arena_.size()), static_cast<std::uint16_t>(key.size()),
                                 static_cast<std::uint16_t>(name.size()), static_cast<std::uint32_t>(ino)});
        arena_.append(key).append(name);
        return true;
    }

    // Sorts newest first: keys compared byte by byte, descending; equal keys
    // keep the order in which they were added.
    void sortNewestFirst() {
        std::vector<std::uint32_t> order(entries_.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
        // Dates of the usual form sort as numbers: each entry becomes one
        // number, the date's distance below the largest (newest first) and
        // then the order of adding, so a plain sort is stable. Any other key
        // sorts as text.
        std::vector<std::uint64_t> ranks(entries_.size());
        bool allDates = true;
        for (std::size_t i = 0; i < ranks.size() && allDates; ++i) {
            std::uint64_t date = 0;
            allDates = numberOfDate(key(static_cast<std::uint32_t>(i)), date);
            ranks[i] = (kLargestDate - date) << 32 | i;
        }
        if (allDates) {
            std::sort(ranks.begin(), ranks.end());
            for (std::size_t at = 0; at < ranks.size(); ++at) order[at] = static_cast<std::uint32_t>(ranks[at]);
        } else {
            std::stable_sort(order.begin(), order.end(),
                             [&](std::uint32_t a, std::uint32_t b) { return key(a) > key(b); });
        }
        // Lay the entries out in list order.
        std::string arena;
        arena.reserve(arena_.size());
        std::vector<Entry> entries;
        entries.reserve(entries_.size());
        placeOfAdded_.resize(entries_.size());
        for (std::uint32_t at = 0; at < order.size(); ++at) {
            const Entry &e = entries_[order[at]];
            entries.push_back(Entry{static_cast<std::uint32_t>(arena.size()), e.keyLength, e.nameLength, e.ino});
            arena.append(std::string_view(arena_).substr(e.offset, e.keyLength + e.nameLength));
            placeOfAdded_[order[at]] = at;
        }
        arena_ = std::move(arena);
        entries_ = std::move(entries);
        added_ = std::move(order);
    }

    std::size_t size() const noexcept { return entries_.size(); }
    // The key and name of an entry: by its place in list order once sorted.
    std::string_view key(std::uint32_t i) const noexcept {
        return std::string_view(arena_).substr(entries_[i].offset, entries_[i].keyLength);
    }
    std::string_view name(std::uint32_t i) const noexcept {
        return std::string_view(arena_).substr(entries_[i].offset + entries_[i].keyLength, entries_[i].nameLength);
    }
    // The low 32 bits of the inode number the directory gave for the entry
    // (0 when unknown): a hint to the order of the files on the disk only.
    std::uint32_t ino(std::uint32_t i) const noexcept { return entries_[i].ino; }
    // When the entry at place `i` of the sorted list was added (0 first).
    std::uint32_t addedAt(std::uint32_t i) const noexcept { return added_[i]; }
    // The place in the sorted list of the entry added as the `n`-th.
    std::uint32_t placeOfAdded(std::uint32_t n) const noexcept { return placeOfAdded_[n]; }

private:
    static constexpr std::uint64_t kLargestDate = 99999999;  // the largest YYYYMMDD of eight digits

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
        std::uint32_t ino;  // low bits only, which keeps an entry at 12 bytes
    };
    std::string arena_;
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> added_, placeOfAdded_;
};

// Lists the open directory `dir` into `entries` and sorts them newest
// first. keyOf(entry) gives the sort key of an entry, or nothing to pass it
// over; an entry whose name fails when loaded gets the empty key.
template <class KeyOf>
Status listDated(platform::Dir &dir, DatedEntries &entries, KeyOf &&keyOf) {
    for (;;) {
        auto entry = dir.next();
        if (!entry) return std::move(entry).failure();
        if (!*entry) break;
        std::optional<std::string> key = keyOf(**entry);
        if (key && !entries.add(*key, (*entry)->name, (*entry)->ino)) return Error::NameTooLong;
    }
    entries.sortNewestFirst();
    return {};
}

// Calls load(i) for every entry in sorted order (i is its place) and
// visit(i) after each success. An entry removed or replaced since it was
// listed is passed over, as a full scan passes it over. A failure is
// reported as a full scan in listing order would report it: when entry i
// fails, the entries added before it that were not loaded yet are loaded
// first, and the first of them that fails decides.
//
// With `broken`, a failing entry does not end the scan: its failure goes to
// `broken` (when it names a broken file, content::isBrokenFile) and the
// scan goes on with the next entry, so every broken file is met in list
// order.
//
// When `reader` has found the page cache cold, ahead(i) is called for the
// entries that come next, up to the reader's window, so that their files
// are opened ahead of their turn (FileReader::openAhead, with i as the tag).
// The first time, fetch(i) is called first for every entry still to come,
// in the order of their inode numbers (FileReader::fetchMetadata): a cold
// open waits for its file's inode, and inodes read in the order they lie
// on the disk come in long runs, where the list's own order would make one
// wait per file.
template <class Fetch, class Ahead, class Load, class Visit>
Status loadInOrder(const DatedEntries &entries, const platform::FileReader &reader, Fetch &&fetch, Ahead &&ahead,
                   Load &&load, Visit &&visit, const BrokenSink *broken = nullptr) {
    const auto count = static_cast<std::uint32_t>(entries.size());
    std::vector<bool> done(count, false);
    std::uint32_t next = 0;  // the next entry to open ahead
    bool fetched = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        next = std::max(next, i + 1);
        if (!fetched && next < count && reader.wantsAhead()) {
            fetched = true;
            content::inInodeOrder(next, count, [&](std::uint32_t k) { return entries.ino(k); }, fetch);
        }
        while (next < count && reader.wantsAhead()) ahead(next++);
        Status st = load(i);
        done[i] = true;
        if (!st && content::changedSinceListed(st.error())) continue;
        if (!st && broken && content::isBrokenFile(st.failure())) {
            (*broken)(std::move(st).failure());
            continue;
        }
        if (!st) {
            for (std::uint32_t n = 0; n < entries.addedAt(i); ++n) {
                std::uint32_t j = entries.placeOfAdded(n);
                if (done[j]) continue;
                Status earlier = load(j);
                if (!earlier && !content::changedSinceListed(earlier.error())) return earlier;
            }
            return st;
        }
        visit(i);
    }
    return {};
}

}  // namespace quorlina
