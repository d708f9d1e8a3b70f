// Writing content files atomically: a temporary file with its final
// attributes, flushed to disk, then published under its name, and the
// directory flushed after every change in it.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "core/platform.hpp"
#include "core/platform_sys.hpp"

namespace quorlina::platform {

using namespace sys;
using fault::Op;

namespace {

// Whether a rename that refuses to replace failed because the file system
// (or the system) does not offer it, rather than for a reason of its own.
bool noReplaceUnsupported(int err) noexcept {
    return err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP;
}

// Renames `from` to `to` in `dirfd` atomically, failing with EEXIST when an
// entry `to` exists (a link included): renameat2(RENAME_NOREPLACE) on
// Linux, renameatx_np(RENAME_EXCL) on macOS. Where neither exists the call
// fails with ENOSYS, as a file system without them fails.
Sys<int> renameNoReplace(int dirfd, const char *from, const char *to) noexcept {
#if defined(__APPLE__)
    return sysCall(Op::Rename, [&] { return ::renameatx_np(dirfd, from, dirfd, to, RENAME_EXCL); },
                   OnInterrupt::Report);
#elif defined(RENAME_NOREPLACE)
    return sysCall(Op::Rename, [&] { return ::renameat2(dirfd, from, dirfd, to, RENAME_NOREPLACE); },
                   OnInterrupt::Report);
#elif defined(__linux__) && defined(SYS_renameat2)
    // A C library without a renameat2 wrapper (older musl): the system
    // call itself, with RENAME_NOREPLACE's value.
    return sysCall(
        Op::Rename,
        [&] { return static_cast<int>(::syscall(SYS_renameat2, dirfd, from, dirfd, to, 1u)); },
        OnInterrupt::Report);
#else
    // Still behind the seam, so that every system answers alike.
    (void)dirfd, (void)from, (void)to;
    return sysCall(Op::Rename, [] {
        errno = ENOSYS;
        return -1;
    }, OnInterrupt::Report);
#endif
}

// Renames `from` to `to` in `dirfd` without ever replacing an entry `to`
// (PathAlreadyExists). Where the file system cannot refuse to replace, the
// name is checked first and a plain rename follows: under the family lock
// no writer of this library can take the name in between.
Status moveExclusive(int dirfd, const char *from, const char *to) noexcept {
    auto renamed = renameNoReplace(dirfd, from, to);
    if (!renamed.ok() && noReplaceUnsupported(renamed.err)) {
        struct stat st {};
        auto found = sysCall(Op::Stat, [&] { return ::fstatat(dirfd, to, &st, AT_SYMLINK_NOFOLLOW); });
        if (found.ok()) return Error::PathAlreadyExists;
        if (!found.systemFailedWith(ENOENT)) return found.failure();
        renamed = sysCall(Op::Rename, [&] { return ::renameat(dirfd, from, dirfd, to); }, OnInterrupt::Report);
    }
    if (renamed.systemFailedWith(EEXIST)) return Error::PathAlreadyExists;
    return renamed.status();
}

// Removes the entry `name` of `dirfd`: a temporary that is no longer
// wanted, or a file that failed half-written. Its failure is not the
// caller's failure, which is reported instead. Whether the entry is gone.
bool discard(int dirfd, const char *name) noexcept {
    auto removed = sysCall(Op::Unlink, [&] { return ::unlinkat(dirfd, name, 0); }, OnInterrupt::Report);
    return removed.ok() || removed.systemFailedWith(ENOENT);
}

// The mark of a write in flight: an empty file that a writer makes in the
// directory before its temporary, and removes once no temporary of its
// write can remain there (published, or removed). A writer killed in
// between leaves the mark beside its temporary, so the next writer under
// the family lock learns from one lookup whether the directory needs a
// sweep, instead of reading every entry on every write. Like a temporary's
// name it starts with "." and holds no other ".", so no scan takes it for
// an item, and it is not a name tempName gives, so a sweep only removes it
// once every temporary is gone.
constexpr const char *kWritingMark = ".quorlina-tmp-writing";

// One write's mark in the directory `dirfd`.
class WriteInFlight {
public:
    explicit WriteInFlight(int dirfd) noexcept : dirfd_(dirfd) {}
    WriteInFlight(const WriteInFlight &) = delete;
    WriteInFlight &operator=(const WriteInFlight &) = delete;
    ~WriteInFlight() { settle(); }

    // Marks the directory. A mark already there was left by a killed writer
    // (or is not a file of ours): it stays for the next sweep, and this
    // write does not remove it. Fails only when no mark could be made.
    Status mark() noexcept {
        auto made = sysOpenAt(dirfd_, kWritingMark, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                              0600);
        if (!made.ok()) return made.systemFailedWith(EEXIST) ? Status{} : std::move(made).failure();
        owned_ = true;
        // The mark is a name, not content: a failed close of an empty file
        // loses nothing.
        (void)closeFd(made.ret);
        return {};
    }

    // Removes the temporary `name`; one that stays keeps the mark.
    void discard(const char *name) noexcept {
        if (!platform::discard(dirfd_, name)) owned_ = false;
    }

    // No temporary of this write remains: the mark goes. Called before the
    // directory is flushed, so that the flush also makes its removal
    // durable. A removal that fails leaves the mark for the next sweep.
    void settle() noexcept {
        if (owned_) (void)platform::discard(dirfd_, kWritingMark);
        owned_ = false;
    }

private:
    int dirfd_;
    bool owned_ = false;
};

// Writes the whole buffer, repeating partial writes.
Status writeAll(int fd, std::string_view data) noexcept {
    const char *p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        auto n = sysWrite(fd, p, left);
        if (!n.ok()) return std::move(n).failure();
        if (n.ret == 0) return Failure(Error::NoSpaceLeft, ENOSPC);
        p += n.ret;
        left -= static_cast<std::size_t>(n.ret);
    }
    return {};
}

std::atomic<std::uint64_t> g_tempCounter{0};

constexpr std::string_view kTempPrefix = ".quorlina-tmp-";

// A temporary name in the same directory, ".quorlina-tmp-<pid>-<count>-<hex>".
// It starts with "." and holds no other ".", so no content scan ever takes
// it for an item; isTemporaryName knows it again.
std::string tempName() {
    std::uint64_t n = g_tempCounter.fetch_add(1, std::memory_order_relaxed);
    timespec ts{};  // stays zero when the clock cannot be read: the pid and count still differ
    (void)sysCall(Op::Clock, [&] { return ::clock_gettime(CLOCK_MONOTONIC, &ts); });
    char buf[96];
    std::snprintf(buf, sizeof buf, ".quorlina-tmp-%ld-%llu-%lx", static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(n),
                  static_cast<unsigned long>(ts.tv_nsec) ^ static_cast<unsigned long>(ts.tv_sec));
    return buf;
}

// The number of bytes at the start of `s` that `accept` takes.
template <class Accept>
std::size_t spanOf(std::string_view s, Accept &&accept) noexcept {
    std::size_t i = 0;
    while (i < s.size() && accept(s[i])) ++i;
    return i;
}

// Whether `name` is exactly a name tempName gives: the prefix, decimal
// digits, "-", decimal digits, "-", lowercase hexadecimal digits.
bool isTemporaryName(std::string_view name) noexcept {
    if (!name.starts_with(kTempPrefix)) return false;
    name.remove_prefix(kTempPrefix.size());
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    auto hex = [&](char c) { return digit(c) || (c >= 'a' && c <= 'f'); };
    for (int field = 0; field < 2; ++field) {
        std::size_t n = spanOf(name, digit);
        if (n == 0 || n == name.size() || name[n] != '-') return false;
        name.remove_prefix(n + 1);
    }
    std::size_t n = spanOf(name, hex);
    return n > 0 && n == name.size();
}

// Owner, group and permission bits a new file takes before any content is
// written to it.
struct FileAttrs {
    bool fresh = true;       // a new file: the create's 0666 less the umask
    mode_t mode = 0;         // otherwise only the 0777 bits: never set-id or sticky
    bool chown = false;      // restore owner and group (only when we may)
    uid_t uid = 0;
    gid_t gid = 0;
};

// The attributes for a file that replaces `st` (an existing regular
// file), or, with nullptr, for a new file.
FileAttrs attrsFor(const struct stat *st) noexcept {
    FileAttrs a;
    if (st == nullptr) return a;
    a.fresh = false;
    a.mode = st->st_mode & 0777;
    // Only a privileged process can give a file away; everyone else owns
    // what the rename publishes.
    if (::geteuid() == 0) {
        a.chown = true;
        a.uid = st->st_uid;
        a.gid = st->st_gid;
    }
    return a;
}

// Creates a new hidden temporary file in `dirfd`, gives it its final owner
// and permission bits, then writes `content` to it, flushed to disk. On
// failure nothing is left behind. A replacement's temporary is created
// 0600 and takes the old file's bits before any content goes in; a new
// file's is created 0666 and the kernel applies the umask (or a default
// ACL), which is what the final file gets: the process's umask is never
// read, so /proc is not needed, and the temporary is never wider than the
// file it becomes.
Result<std::string> writeTemp(int dirfd, std::string_view content, const FileAttrs &attrs, WriteInFlight &flight) {
    // Nothing is written that the readers would refuse to read back.
    if (content.size() > kReadLimit) return Error::FileTooBig;
    QL_TRY(flight.mark());
    std::string tmp;
    Sys<int> opened;
    const mode_t createMode = attrs.fresh ? 0666 : 0600;
    for (int attempt = 0; attempt < 16; ++attempt) {
        tmp = tempName();
        opened = sysOpenAt(dirfd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                           createMode);
        if (opened.ok() || opened.err != EEXIST) break;
    }
    if (!opened.ok()) return std::move(opened).failure();
    const int fd = opened.ret;
    FdGuard guard(fd);
    Status st;
    if (attrs.chown) st = sysCall(Op::Chown, [&] { return ::fchown(fd, attrs.uid, attrs.gid); }).status();
    // The bits are set after fchown, which may clear set-id bits.
    if (st.ok() && !attrs.fresh) st = sysCall(Op::Chmod, [&] { return ::fchmod(fd, attrs.mode); }).status();
    if (st.ok()) st = writeAll(fd, content);
    if (st.ok()) st = syncFd(fd, Op::Sync);
    if (st.ok()) st = closeFd(guard.release());
    if (!st.ok()) {
        flight.discard(tmp.c_str());
        return std::move(st).failure();
    }
    return tmp;
}

// The attributes a file written over `name` in `dirfd` takes: those of the
// regular file there, else those of a new file. IsDir when `name` is a
// directory and `refuseDir` is set.
Result<FileAttrs> attrsOf(int dirfd, const char *name, bool refuseDir) noexcept {
    struct stat st {};
    auto found = sysCall(Op::Stat, [&] { return ::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW); });
    if (found.ok()) {
        if (S_ISDIR(st.st_mode) && refuseDir) return Error::IsDir;
        return attrsFor(S_ISREG(st.st_mode) ? &st : nullptr);
    }
    if (!found.systemFailedWith(ENOENT)) return std::move(found).failure();
    return attrsFor(nullptr);
}

}  // namespace

Status sys::syncFd(int fd, fault::Op op) noexcept {
    int answer = injected(op);
    if (answer == fault::kSkipSync) return {};
    auto synced = callAnswered(answer, [&] { return flushToStorage(fd); });
    if (synced.systemFailedWith(EINVAL) || synced.systemFailedWith(EROFS)) return {};
    return synced.status();
}

Status Dir::writeReplace(std::string_view name, std::string_view content) const {
    return failingAt(withName(name, [&](const char *n) -> Status {
        auto attrs = attrsOf(fd(), n, true);
        if (!attrs) return std::move(attrs).failure();
        WriteInFlight flight(fd());
        auto tmp = writeTemp(fd(), content, *attrs, flight);
        if (!tmp) return std::move(tmp).failure();
        auto renamed =
            sysCall(Op::Rename, [&] { return ::renameat(fd(), tmp->c_str(), fd(), n); }, OnInterrupt::Report);
        if (!renamed.ok()) {
            flight.discard(tmp->c_str());
            return std::move(renamed).failure();
        }
        flight.settle();
        return syncFd(fd(), Op::SyncDir);
    }), [&] { return pathOf(name); });
}

Status Dir::writeExclusive(std::string_view name, std::string_view content) const {
    return failingAt(withName(name, [&](const char *n) -> Status {
        const FileAttrs attrs = attrsFor(nullptr);
        WriteInFlight flight(fd());
        auto done = [&]() -> Status {
            flight.settle();
            return syncFd(fd(), Op::SyncDir);
        };
        auto tmp = writeTemp(fd(), content, attrs, flight);
        if (!tmp) return std::move(tmp).failure();
        // link(2) publishes the complete file under its name only if no entry
        // of that name exists; it never follows a symbolic link at the target.
        auto linked =
            sysCall(Op::Link, [&] { return ::linkat(fd(), tmp->c_str(), fd(), n, 0); }, OnInterrupt::Report);
        if (linked.ok() || linked.err == EEXIST) {
            // The file is published (or refused) under its name; a temporary
            // that cannot be removed stays as a second name of it, and the
            // mark with it.
            flight.discard(tmp->c_str());
            if (!linked.ok()) return Error::PathAlreadyExists;
            return done();
        }
        const int e = linked.err;
        bool noHardLinks = (e == EPERM || e == ENOTSUP || e == EOPNOTSUPP || e == EMLINK || e == ENOSYS);
        if (!noHardLinks) {
            flight.discard(tmp->c_str());
            return std::move(linked).failure();
        }
        // A file system without hard links: the complete temporary moves to
        // the name in one rename that never replaces, so the file is never
        // seen before it is whole, and it keeps what the temporary was given.
        Status moved = moveExclusive(fd(), tmp->c_str(), n);
        if (!moved) {
            flight.discard(tmp->c_str());
            return moved;
        }
        return done();
    }), [&] { return pathOf(name); });
}

void Dir::removeTemporaries() const {
    // Without a mark, no writer was killed here since the last sweep (see
    // kWritingMark), and no entry needs to be read.
    struct stat mark {};
    auto marked = sysCall(Op::Stat, [&] { return ::fstatat(fd(), kWritingMark, &mark, AT_SYMLINK_NOFOLLOW); });
    if (marked.systemFailedWith(ENOENT)) return;
    auto scan = reopen();
    if (!scan) return;
    bool swept = true;
    for (;;) {
        auto next = scan->next();
        if (!next) {
            swept = false;
            break;
        }
        if (!*next) break;
        const DirEntry entry = **next;
        // A regular file, never a link (unlinkat would remove the link, not
        // follow it, but a link is not a temporary of ours).
        if (entry.kind != EntryKind::File || !isTemporaryName(entry.name)) continue;
        (void)withName(entry.name, [&](const char *n) -> Status {
            if (!discard(fd(), n)) swept = false;
            return {};
        });
    }
    // The mark goes last, and only when every temporary went and it is a
    // plain file (a link or a directory of that name is nobody's mark of
    // ours, and stays).
    if (swept && marked.ok() && S_ISREG(mark.st_mode)) (void)discard(fd(), kWritingMark);
}

Status Dir::renameExclusive(std::string_view from, std::string_view to) const {
    return failingAt(withName(from, [&](const char *f) -> Status {
        return withName(to, [&](const char *t) -> Status {
            QL_TRY(moveExclusive(fd(), f, t));
            return syncFd(fd(), Op::SyncDir);
        });
    }), [&] { return pathOf(from); });
}

}  // namespace quorlina::platform
