// What the three families share about their directories and files: a
// missing family directory is an empty collection, changes to existing
// items happen under the directory's lock, and a file that changed since a
// scan listed it is passed over.
#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/platform.hpp"
#include "core/result.hpp"

namespace quorlina::content {

// The family directory at `dirPath`, or nothing when there is none (an
// empty collection).
Result<std::optional<platform::Dir>> openIfPresent(std::string_view dirPath);

// Runs `scan(dir)` on the family directory at `dirPath`, which returns a
// Status; a missing directory is an empty collection, so nothing runs.
template <class Scan>
Status scanIfPresent(std::string_view dirPath, Scan &&scan) {
    auto dir = openIfPresent(dirPath);
    if (!dir) return std::move(dir).failure();
    return *dir ? scan(**dir) : Status{};
}

// The family directory opened and locked for a change to an existing item,
// with the temporaries of killed writers removed from it; a missing
// directory fails with `notFound`, since it holds no item.
Result<platform::Dir> openLocked(std::string_view dirPath, Error notFound);

// The family directory made when missing (with its parents), opened and
// locked for a new item, with the temporaries of killed writers removed.
Result<platform::Dir> openLockedMaking(std::string_view dirPath);

// Removes the content file `name` of `dir`. A directory at the name is
// IsDir; a file gone since it was found is `notFound`.
Status removeContentFile(const platform::Dir &dir, std::string_view name, Error notFound);

// The last component of a path.
std::string_view baseName(std::string_view path) noexcept;

// Whether a failure to read an entry that a scan listed as a regular file
// means the entry changed since it was listed (removed, or replaced by a
// link, a directory or another kind). Scans skip such entries: a file
// removed during a scan is simply not seen.
inline bool changedSinceListed(Error e) noexcept {
    return e == Error::FileNotFound || e == Error::SymLinkLoop || e == Error::NotRegularFile ||
           e == Error::IsDir;
}

// Whether a scan that goes on past broken files takes `f` as one: it names
// a file or directory below the family directory. Running out of memory or
// of file descriptors says nothing about a file, and a failure that names
// none is not one: those still fail the scan.
inline bool isBrokenFile(const Failure &f) noexcept {
    return !f.file.empty() && f.error != Error::OutOfMemory && f.error != Error::ProcessFdQuotaExceeded &&
           f.error != Error::SystemFdQuotaExceeded;
}

// Whether some regular file of `dir` answers: reads the start of every
// regular file for which wanted(name) is true, in directory order, as far
// as `settled` needs (its front matter), until answers(name, head) is true.
// A file gone or replaced since the listing is passed over; one that cannot
// be read fails the call.
template <class Wanted, class Answers>
Result<bool> anyFileAnswers(const platform::Dir &dir, platform::FileReader::Settled settled, Wanted &&wanted,
                            Answers &&answers) {
    auto scan = dir.reopen();
    if (!scan) return std::move(scan).failure();
    platform::FileReader reader;
    for (;;) {
        auto next = scan->next();
        if (!next) return std::move(next).failure();
        if (!*next) return false;
        const platform::DirEntry entry = **next;
        if (entry.kind != platform::EntryKind::File || !wanted(entry.name)) continue;
        auto head = reader.read(dir, entry.name, settled);
        if (!head) {
            if (changedSinceListed(head.error())) continue;
            return std::move(head).failure();
        }
        if (answers(entry.name, *head)) return true;
    }
}

// The failure of a content file whose name is not a timestamp, at `path`:
// InvalidTimestamp, with the warning line written for it, naming `why`
// (the number reader's error) when given.
Failure badTimestampName(std::string path, std::optional<Error> why);

// Calls visit(k) for every k in [from, to), in the order of inoOf(k): the
// order of the entries' inodes on the disk, in which a cold scan asks for
// them (platform::FileReader::fetchMetadata).
template <class InoOf, class Visit>
void inInodeOrder(std::uint32_t from, std::uint32_t to, InoOf &&inoOf, Visit &&visit) {
    std::vector<std::uint32_t> order(to - from);
    std::iota(order.begin(), order.end(), from);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return inoOf(a) < inoOf(b); });
    for (std::uint32_t k : order) visit(k);
}

}  // namespace quorlina::content
