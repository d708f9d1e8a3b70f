#include "core/platform.hpp"
#include "core/platform_sys.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <mutex>

namespace quorlina::platform {

using namespace sys;
using fault::Op;

std::atomic<fault::Hook> sys::faultHook{nullptr};

namespace {

inline DIR *asDir(void *p) noexcept { return static_cast<DIR *>(p); }

// Writes the whole buffer, repeating partial writes.
Status writeAll(int fd, std::string_view data) noexcept {
    const char *p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        auto n = sysWrite(fd, p, left);
        if (!n.ok()) return n.error();
        if (n.ret == 0) return Error::NoSpaceLeft;
        p += n.ret;
        left -= static_cast<std::size_t>(n.ret);
    }
    return {};
}

std::atomic<std::uint64_t> g_tempCounter{0};

// A temporary name in the same directory. It starts with "." and holds no
// other ".", so no content scan ever takes it for an item.
std::string tempName() {
    std::uint64_t n = g_tempCounter.fetch_add(1, std::memory_order_relaxed);
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    char buf[96];
    std::snprintf(buf, sizeof buf, ".quorlina-tmp-%ld-%llu-%lx", static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(n),
                  static_cast<unsigned long>(ts.tv_nsec) ^ static_cast<unsigned long>(ts.tv_sec));
    return buf;
}

// The process's file-creation mask, read without changing it (umask(2)
// can only be read by setting it, which would race with other threads).
mode_t currentUmask() noexcept {
    int fd = ::openat(AT_FDCWD, "/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 022;
    char buf[4096];
    ssize_t n = retryInterrupted([&] { return ::read(fd, buf, sizeof buf - 1); });
    ::close(fd);
    if (n <= 0) return 022;
    buf[n] = '\0';
    const char *line = std::strstr(buf, "\nUmask:");
    if (line == nullptr) return 022;
    return static_cast<mode_t>(std::strtoul(line + 7, nullptr, 8) & 0777);
}

// Owner, group and permission bits a new file takes before any content is
// written to it.
struct FileAttrs {
    mode_t mode = 0;         // only the 0777 bits: never set-id or sticky
    bool chown = false;      // restore owner and group (only when we may)
    uid_t uid = 0;
    gid_t gid = 0;
};

// The attributes for a file that replaces `st` (an existing regular
// file), or, with nullptr, for a new file: the bits a plain create gives
// (0666 less the umask).
FileAttrs attrsFor(const struct stat *st) noexcept {
    FileAttrs a;
    if (st == nullptr) {
        a.mode = 0666 & ~currentUmask();
        return a;
    }
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

// Creates a new hidden temporary file in `dirfd` with mode 0600, gives it
// its final owner and permission bits, then writes `content` to it, flushed
// to disk. On failure nothing is left behind.
Result<std::string> writeTemp(int dirfd, std::string_view content, const FileAttrs &attrs) {
    // Nothing is written that the readers would refuse to read back.
    if (content.size() > kReadLimit) return Error::FileTooBig;
    std::string tmp;
    Sys<int> opened;
    for (int attempt = 0; attempt < 16; ++attempt) {
        tmp = tempName();
        opened = sysOpenAt(dirfd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
        if (opened.ok() || opened.err != EEXIST) break;
    }
    if (!opened.ok()) return opened.error();
    const int fd = opened.ret;
    FdGuard guard(fd);
    Status st;
    if (attrs.chown) st = sysCall(Op::Chown, [&] { return ::fchown(fd, attrs.uid, attrs.gid); }).status();
    // The bits are set after fchown, which may clear set-id bits.
    if (st.ok()) st = sysCall(Op::Chmod, [&] { return ::fchmod(fd, attrs.mode); }).status();
    if (st.ok()) st = writeAll(fd, content);
    if (st.ok()) st = syncFd(fd, Op::Sync);
    if (st.ok()) st = closeFd(guard.release());
    if (!st.ok()) {
        ::unlinkat(dirfd, tmp.c_str(), 0);
        return st.error();
    }
    return tmp;
}

// Makes the directory `name` in `dirfd` (mode 0755 less the umask) and,
// when it made it, flushes `dirfd`. One that exists already is fine.
Status makeChildDir(int dirfd, const char *name) noexcept {
    auto made = sysCall(Op::Mkdir, [&] { return ::mkdirat(dirfd, name, 0755); }, OnInterrupt::Report);
    if (made.ok()) return syncFd(dirfd, Op::SyncDir);
    if (made.err == EEXIST) return {};
    return made.error();
}

}  // namespace

Status sys::syncFd(int fd, fault::Op op) noexcept {
    auto synced = sysCall(op, [&] { return ::fsync(fd); });
    if (synced.systemFailedWith(EINVAL) || synced.systemFailedWith(EROFS)) return {};
    return synced.status();
}

Error errorFromErrno(int err) noexcept {
    switch (err) {
        case ENOENT: return Error::FileNotFound;
        case EACCES: return Error::AccessDenied;
        case EEXIST: return Error::PathAlreadyExists;
        case ENOTDIR: return Error::NotDir;
        case EISDIR: return Error::IsDir;
        case ENAMETOOLONG: return Error::NameTooLong;
        case EPERM: return Error::PermissionDenied;
        case EFBIG: return Error::FileTooBig;
        case ENOSPC: return Error::NoSpaceLeft;
        case EDQUOT: return Error::DiskQuota;
        case EROFS: return Error::ReadOnlyFileSystem;
        case EIO: return Error::InputOutput;
        case ELOOP: return Error::SymLinkLoop;
        case EMFILE: return Error::ProcessFdQuotaExceeded;
        case ENFILE: return Error::SystemFdQuotaExceeded;
        case EBUSY:
        case ETXTBSY: return Error::FileBusy;
        case ENOMEM: return Error::OutOfMemory;
        case ENOTEMPTY: return Error::DirNotEmpty;
        default: return Error::Unexpected;
    }
}

Status checkPathLength(std::string_view path) noexcept {
    if (path.size() >= kPathMax) return Error::NameTooLong;
    return {};
}

namespace {

// The size of the open `fd`, which must be a regular file of at most
// `limit` bytes: IsDir, NotRegularFile or FileTooBig otherwise.
Result<std::size_t> regularFileSize(int fd, std::size_t limit) noexcept {
    struct stat st {};
    QL_TRY(sysCall(Op::Stat, [&] { return ::fstat(fd, &st); }).status());
    if (S_ISDIR(st.st_mode)) return Error::IsDir;
    if (!S_ISREG(st.st_mode)) return Error::NotRegularFile;
    if (static_cast<std::uint64_t>(st.st_size) > limit) return Error::FileTooBig;
    return static_cast<std::size_t>(st.st_size);
}

}  // namespace

// ------------------------------------------------------------------ Dir

Dir::Dir(Dir &&other) noexcept : dir_(other.dir_) { other.dir_ = nullptr; }

Dir &Dir::operator=(Dir &&other) noexcept {
    if (this != &other) {
        if (dir_) ::closedir(asDir(dir_));
        dir_ = other.dir_;
        other.dir_ = nullptr;
    }
    return *this;
}

Dir::~Dir() {
    if (dir_) ::closedir(asDir(dir_));
}

int Dir::fd() const noexcept { return dir_ ? ::dirfd(asDir(dir_)) : -1; }

Result<Dir> Dir::adopt(int fd) {
    DIR *d = ::fdopendir(fd);
    if (!d) {
        int e = errno;
        ::close(fd);
        return errorFromErrno(e);
    }
    return Dir(static_cast<void *>(d));
}

Result<Dir> Dir::open(std::string_view path) {
    // An empty path is the current directory.
    return withName(path.empty() ? std::string_view(".") : path, [](const char *p) -> Result<Dir> {
        auto fd = sysOpenAt(AT_FDCWD, p, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (!fd.ok()) return fd.error();
        return adopt(fd.ret);
    });
}

Result<Dir> Dir::openChild(std::string_view name) const {
    return withName(name, [&](const char *n) -> Result<Dir> {
        auto fd = sysOpenAt(this->fd(), n, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (!fd.ok()) return fd.error();
        return adopt(fd.ret);
    });
}

Result<std::optional<DirEntry>> Dir::next() {
    for (;;) {
        struct dirent *ent = nullptr;
        // readdir tells its end from a failure only by errno.
        QL_TRY(sysCall(Op::Read, [&] {
                   errno = 0;
                   ent = ::readdir(asDir(dir_));
                   return ent == nullptr && errno != 0 ? -1 : 0;
               }).status());
        if (ent == nullptr) return std::optional<DirEntry>{};
        if (ent->d_ino == 0) continue;
        const char *name = ent->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        EntryKind kind = EntryKind::Other;
        unsigned char type = ent->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            auto found = sysCall(Op::Stat, [&] { return ::fstatat(fd(), name, &st, AT_SYMLINK_NOFOLLOW); });
            // Removed since it was listed: not an entry any more.
            if (found.systemFailedWith(ENOENT)) continue;
            if (!found.ok()) return found.error();
            if (S_ISREG(st.st_mode)) type = DT_REG;
            else if (S_ISDIR(st.st_mode)) type = DT_DIR;
            else if (S_ISLNK(st.st_mode)) type = DT_LNK;
        }
        switch (type) {
            case DT_REG: kind = EntryKind::File; break;
            case DT_DIR: kind = EntryKind::Directory; break;
            case DT_LNK: kind = EntryKind::SymLink; break;
            default: kind = EntryKind::Other; break;
        }
        return std::optional<DirEntry>{DirEntry{std::string_view(name), kind}};
    }
}

Result<std::string> Dir::readFile(std::string_view name, std::size_t limit) const {
    std::string data;
    QL_TRY(readFileInto(name, data, limit));
    return data;
}

namespace {

// O_NONBLOCK keeps a FIFO that replaced a listed file from blocking us; it
// has no effect on regular files.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;

// Reads the open `fd`, which must be a regular file of at most `limit`
// bytes, into `buffer` from its start (replacing what it held, keeping its
// storage): to its end or, given `settled`, until settled(bytes so far) is
// true. Closes `fd`. Returns the count of bytes read.
Result<std::size_t> readOpened(int fd, std::string &buffer, std::size_t limit,
                               bool (*settled)(std::string_view head)) {
    FdGuard guard(fd);
    auto size = regularFileSize(fd, limit);
    if (!size) return size.error();
    const bool whole = settled == nullptr;
    // A whole file is read with one byte more than its size, so that its end
    // is seen in one read when the size is right (a buffer that is already
    // larger is used whole). A head read asks first for one page, or the
    // whole file and one byte when that is less, which holds the front
    // matter of nearly every file, and then at most doubles what it has.
    constexpr std::size_t kFirstHeadRead = 4096;
    const std::size_t first = whole ? *size + 1 : std::min(*size + 1, kFirstHeadRead);
    if (buffer.size() < first) buffer.resize(first);
    std::size_t have = 0;
    for (;;) {
        if (have == buffer.size()) {
            if (buffer.size() > limit) return Error::FileTooBig;
            std::size_t grown = whole ? buffer.size() + buffer.size() / 2 + 4096 : buffer.size() * 2;
            buffer.resize(std::min(limit + 1, grown));
        }
        std::size_t room = whole ? buffer.size() : std::min(buffer.size(), std::max(first, have * 2));
        std::size_t asked = room - have;
        auto r = sysCall(Op::Read, [&] { return ::read(fd, buffer.data() + have, asked); });
        if (!r.ok()) return r.error();
        if (r.ret == 0) break;
        have += static_cast<std::size_t>(r.ret);
        if (have > limit) return Error::FileTooBig;
        // A regular file returns fewer bytes than asked for only at its end,
        // so the usual file (whose size fstat gave) takes one read, not two.
        if (static_cast<std::size_t>(r.ret) < asked) break;
        if (!whole && settled(std::string_view(buffer.data(), have))) break;
    }
    return have;
}

// readOpened for the head of the file `fd` opened, or the failure to open it.
Result<std::string_view> readHead(Sys<int> fd, std::string &buffer, bool (*settled)(std::string_view head),
                                  std::size_t limit) {
    if (!fd.ok()) return fd.error();
    auto have = readOpened(fd.ret, buffer, limit, settled);
    if (!have) return have.error();
    return std::string_view(buffer.data(), *have);
}

}  // namespace

Status Dir::readFileInto(std::string_view name, std::string &data, std::size_t limit) const {
    return withName(name, [&](const char *n) -> Status {
        auto fd = sysOpenAt(this->fd(), n, kReadFlags);
        if (!fd.ok()) return fd.error();
        auto have = readOpened(fd.ret, data, limit, nullptr);
        if (!have) return have.error();
        data.resize(*have);
        return {};
    });
}

namespace {

// Opens `path` below `dirfd` for reading, one component at a time, without
// following a symbolic link anywhere on the way.
Sys<int> openBelowByComponents(int dirfd, const char *path) noexcept {
    int cur = dirfd;
    const char *p = path;
    for (;;) {
        const char *slash = std::strchr(p, '/');
        if (slash == nullptr) {
            auto fd = sysOpenAt(cur, p, kReadFlags);
            if (cur != dirfd) ::close(cur);
            return fd;
        }
        CName part(std::string_view(p, static_cast<std::size_t>(slash - p)));
        auto next = sysOpenAt(cur, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (cur != dirfd) ::close(cur);
        if (!next.ok()) return next;
        cur = next.ret;
        p = slash + 1;
    }
}

// The same in one system call where the kernel has openat2 (Linux 5.6):
// any link on the path fails with ELOOP, as with O_NOFOLLOW.
Sys<int> openBelow(int dirfd, const char *path) noexcept {
#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS)
    static std::atomic<bool> unavailable{false};
    if (!unavailable.load(std::memory_order_relaxed)) {
        struct open_how how {};
        how.flags = static_cast<std::uint64_t>(kReadFlags);
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
        auto fd = sysCall(Op::Open, [&] {
            // EAGAIN: a rename elsewhere raced with the lookup; look again.
            long r;
            do {
                r = ::syscall(SYS_openat2, dirfd, path, &how, sizeof how);
            } while (r < 0 && errno == EAGAIN);
            return static_cast<int>(r);
        });
        if (!fd.systemFailedWith(ENOSYS) && !fd.systemFailedWith(EPERM)) return fd;
        // Not there, or refused by a sandbox: the portable way from now on.
        unavailable.store(true, std::memory_order_relaxed);
    }
#endif
    return openBelowByComponents(dirfd, path);
}

}  // namespace

Result<std::string_view> Dir::readFileHead(std::string_view name, std::string &buffer,
                                           bool (*settled)(std::string_view head), std::size_t limit) const {
    return withName(name, [&](const char *n) {
        return readHead(sysOpenAt(this->fd(), n, kReadFlags), buffer, settled, limit);
    });
}

Result<std::string_view> Dir::readFileHeadBelow(std::string_view path, std::string &buffer,
                                                bool (*settled)(std::string_view head), std::size_t limit) const {
    return withName(path, [&](const char *p) { return readHead(openBelow(this->fd(), p), buffer, settled, limit); });
}

namespace {

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
    if (!found.systemFailedWith(ENOENT)) return found.error();
    return attrsFor(nullptr);
}

}  // namespace

Status Dir::writeReplace(std::string_view name, std::string_view content) const {
    return withName(name, [&](const char *n) -> Status {
        auto attrs = attrsOf(fd(), n, true);
        if (!attrs) return attrs.error();
        auto tmp = writeTemp(fd(), content, *attrs);
        if (!tmp) return tmp.error();
        auto renamed =
            sysCall(Op::Rename, [&] { return ::renameat(fd(), tmp->c_str(), fd(), n); }, OnInterrupt::Report);
        if (!renamed.ok()) {
            ::unlinkat(fd(), tmp->c_str(), 0);
            return renamed.error();
        }
        return syncFd(fd(), Op::SyncDir);
    });
}

Status Dir::writeExclusive(std::string_view name, std::string_view content, std::string_view attrsFrom,
                           bool *published) const {
    if (published != nullptr) *published = false;
    auto done = [&]() -> Status {
        if (published != nullptr) *published = true;
        return syncFd(fd(), Op::SyncDir);
    };
    return withName(name, [&](const char *n) -> Status {
        auto attrs = attrsFrom.empty() ? Result<FileAttrs>(attrsFor(nullptr))
                                       : withName(attrsFrom, [&](const char *from) { return attrsOf(fd(), from, false); });
        if (!attrs) return attrs.error();
        auto tmp = writeTemp(fd(), content, *attrs);
        if (!tmp) return tmp.error();
        // link(2) publishes the complete file under its name only if no entry
        // of that name exists; it never follows a symbolic link at the target.
        auto linked =
            sysCall(Op::Link, [&] { return ::linkat(fd(), tmp->c_str(), fd(), n, 0); }, OnInterrupt::Report);
        if (linked.ok() || linked.err == EEXIST) {
            ::unlinkat(fd(), tmp->c_str(), 0);
            if (!linked.ok()) return Error::PathAlreadyExists;
            return done();
        }
        int e = linked.err;
        bool noHardLinks = (e == EPERM || e == ENOTSUP || e == EOPNOTSUPP || e == EMLINK || e == ENOSYS);
        if (!noHardLinks) {
            ::unlinkat(fd(), tmp->c_str(), 0);
            return errorFromErrno(e);
        }
        // The ways below are for file systems without hard links, which the
        // fault tests do not reach; their calls stay outside the fault seam,
        // so that the calls the tests count and fail are the same everywhere.
#ifdef RENAME_NOREPLACE
        // An atomic rename that refuses to replace.
        if (::renameat2(fd(), tmp->c_str(), fd(), n, RENAME_NOREPLACE) == 0) return done();
        e = errno;
        if (e != EINVAL && e != ENOSYS && e != ENOTSUP && e != EOPNOTSUPP) {
            ::unlinkat(fd(), tmp->c_str(), 0);
            return errorFromErrno(e);
        }
#endif
        ::unlinkat(fd(), tmp->c_str(), 0);
        // Last resort: an exclusive create of the final name, removed again if
        // writing it fails. It starts empty and 0600, and takes its bits
        // before the content goes in.
        auto out = sysOpenAt(fd(), n, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
        if (!out.ok()) return out.error();
        FdGuard guard(out.ret);
        Status st;
        if (::fchmod(out.ret, attrs->mode) != 0) st = errorFromErrno(errno);
        if (st.ok()) st = writeAll(out.ret, content);
        if (st.ok()) st = syncFd(out.ret, Op::Sync);
        if (!st.ok()) {
            ::unlinkat(fd(), n, 0);
            return st;
        }
        return done();
    });
}

Status Dir::removeFile(std::string_view name) const {
    return withName(name, [&](const char *n) -> Status {
        QL_TRY(sysCall(Op::Unlink, [&] { return ::unlinkat(fd(), n, 0); }, OnInterrupt::Report).status());
        return syncFd(fd(), Op::SyncDir);
    });
}

Status Dir::removeChildDir(std::string_view name) const {
    return withName(name, [&](const char *n) -> Status {
        auto removed = sysCall(Op::Rmdir, [&] { return ::unlinkat(fd(), n, AT_REMOVEDIR); }, OnInterrupt::Report);
        if (removed.systemFailedWith(EEXIST)) return Error::DirNotEmpty;
        if (!removed.ok()) return removed.error();
        return syncFd(fd(), Op::SyncDir);
    });
}

Result<Dir> Dir::openOrMakeChild(std::string_view name) const {
    auto child = openChild(name);
    if (child || child.error() != Error::FileNotFound) return child;
    QL_TRY(withName(name, [&](const char *n) { return makeChildDir(fd(), n); }));
    // Opened without following a link, so a link swapped in at the name
    // since it was made is refused.
    return openChild(name);
}

bool Dir::isChildDirectory(std::string_view name) const noexcept {
    if (!checkPathLength(name)) return false;
    CName n(name);
    struct stat st {};
    return ::fstatat(fd(), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

Result<Dir> Dir::reopen() const {
    auto fd = sysOpenAt(this->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!fd.ok()) return fd.error();
    return adopt(fd.ret);
}

Status Dir::lockExclusive() const {
    return sysCall(Op::Lock, [&] { return ::flock(fd(), LOCK_EX); }).status();
}

Result<FileId> Dir::fileId(std::string_view name) const {
    return withName(name, [&](const char *n) -> Result<FileId> {
        struct stat st {};
        QL_TRY(sysCall(Op::Stat, [&] { return ::fstatat(fd(), n, &st, AT_SYMLINK_NOFOLLOW); }).status());
        return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    });
}

// ------------------------------------------------------------ path based

Result<Dir> Dir::openMaking(std::string_view path) {
    auto whole = Dir::open(path);
    if (whole || whole.error() != Error::FileNotFound) return whole;
    // Walk from the top, making each missing component in its opened parent.
    // These are the levels down to a family directory, named by the caller:
    // links on the way are followed, as opening the path follows them.
    auto cur = Dir::open(path.substr(0, path.starts_with('/') ? 1 : 0));
    std::string_view rest = path;
    while (cur) {
        rest = rest.substr(std::min(rest.find_first_not_of('/'), rest.size()));
        if (rest.empty()) break;
        std::size_t slash = std::min(rest.find('/'), rest.size());
        CName n(rest.substr(0, slash));
        rest.remove_prefix(slash);
        QL_TRY(makeChildDir(cur->fd(), n.c_str()));
        auto fd = sysOpenAt(cur->fd(), n.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (!fd.ok()) return fd.error();
        cur = adopt(fd.ret);
    }
    return cur;
}

Status makeDirPath(std::string_view path) {
    auto dir = Dir::openMaking(path);
    return dir ? Status{} : Status{dir.error()};
}

bool isDirectory(std::string_view path) noexcept {
    if (!checkPathLength(path)) return false;
    CName p(path);
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::int64_t nowSeconds() noexcept {
    timespec ts{};
    if (::clock_gettime(CLOCK_REALTIME, &ts) != 0) return 0;
    // tv_nsec is always in [0, 1e9), so tv_sec is already rounded down.
    return static_cast<std::int64_t>(ts.tv_sec);
}

namespace {
std::recursive_mutex &errorLineLock() {
    static std::recursive_mutex m;
    return m;
}
}  // namespace

void writeErrorLine(std::string_view line) noexcept {
    try {
        std::lock_guard<std::recursive_mutex> lock(errorLineLock());
        // The line goes out through a small buffer, flushed when full and at
        // the end of the line.
        char buf[64];
        std::size_t used = 0;
        auto flush = [&] {
            std::size_t off = 0;
            while (off < used) {
                ssize_t n = retryInterrupted([&] { return ::write(STDERR_FILENO, buf + off, used - off); });
                if (n <= 0) break;
                off += static_cast<std::size_t>(n);
            }
            used = 0;
        };
        for (char c : line) {
            if (used == sizeof buf) flush();
            buf[used++] = c;
        }
        flush();
    } catch (...) {
        // Locking can only fail on a broken system; the warning is dropped.
    }
}

char *copyToCHeap(std::string_view s) noexcept {
    if (injected(Op::Alloc) != 0) return nullptr;
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (!p) return nullptr;
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

void *resizeCHeap(void *block, std::size_t size) noexcept {
    if (injected(Op::Alloc) != 0) return nullptr;
    return std::realloc(block, size == 0 ? 1 : size);
}

void fault::setHook(Hook hook) noexcept { faultHook.store(hook, std::memory_order_relaxed); }

}  // namespace quorlina::platform
