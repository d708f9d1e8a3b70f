#include "core/platform.hpp"

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

namespace {

std::atomic<fault::Hook> g_hook{nullptr};

// Consults the fault seam: 0 to proceed, else the errno to fail with.
inline int injected(fault::Op op) noexcept {
    fault::Hook h = g_hook.load(std::memory_order_relaxed);
    return h ? h(op) : 0;
}

inline DIR *asDir(void *p) noexcept { return static_cast<DIR *>(p); }

// A NUL-terminated copy of a path or name for the system call. It lives on
// the stack: every caller has checked that the text is shorter than
// kPathMax, and a system call made after a file was committed (removing the
// old name of a renamed file, say) must not fail for lack of memory.
class CName {
public:
    explicit CName(std::string_view s) noexcept {
        std::size_t n = std::min(s.size(), kPathMax - 1);
        if (n) std::memcpy(buf_, s.data(), n);
        buf_[n] = '\0';
    }
    CName(const CName &) = delete;
    CName &operator=(const CName &) = delete;
    const char *c_str() const noexcept { return buf_; }

private:
    char buf_[kPathMax];
};

class FdGuard {
public:
    explicit FdGuard(int fd) noexcept : fd_(fd) {}
    FdGuard(const FdGuard &) = delete;
    FdGuard &operator=(const FdGuard &) = delete;
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const noexcept { return fd_; }
    int release() noexcept {
        int f = fd_;
        fd_ = -1;
        return f;
    }

private:
    int fd_;
};

int sysOpenAt(int dirfd, const char *name, int flags, mode_t mode) noexcept {
    if (int e = injected(fault::Op::Open)) {
        errno = e;
        return -1;
    }
    int fd;
    do {
        fd = ::openat(dirfd, name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Writes the whole buffer, repeating partial writes and retrying interrupted ones.
Status writeAll(int fd, std::string_view data) noexcept {
    const char *p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        std::size_t chunk = left;
        if (int e = injected(fault::Op::Write)) {
            if (e == fault::kShortWrite) {
                chunk = left > 1 ? left / 2 : 1;
            } else {
                return errorFromErrno(e);
            }
        }
        ssize_t n = ::write(fd, p, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errorFromErrno(errno);
        }
        if (n == 0) return Error::NoSpaceLeft;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return {};
}

Status syncFd(int fd) noexcept {
    if (int e = injected(fault::Op::Sync)) return errorFromErrno(e);
    while (::fsync(fd) != 0) {
        if (errno == EINTR) continue;
        // Some file systems (pipes aside) cannot sync; that is no failure
        // of the data we wrote.
        if (errno == EINVAL || errno == EROFS) return {};
        return errorFromErrno(errno);
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
    ssize_t n;
    do {
        n = ::read(fd, buf, sizeof buf - 1);
    } while (n < 0 && errno == EINTR);
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
    int fd = -1;
    for (int attempt = 0; attempt < 16; ++attempt) {
        tmp = tempName();
        fd = sysOpenAt(dirfd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                       0600);
        if (fd >= 0 || errno != EEXIST) break;
    }
    if (fd < 0) return errorFromErrno(errno);
    FdGuard guard(fd);
    Status st;
    if (attrs.chown) {
        if (int e = injected(fault::Op::Chown)) {
            st = errorFromErrno(e);
        } else if (::fchown(fd, attrs.uid, attrs.gid) != 0) {
            st = errorFromErrno(errno);
        }
    }
    // The bits are set after fchown, which may clear set-id bits.
    if (st.ok()) {
        if (int e = injected(fault::Op::Chmod)) {
            st = errorFromErrno(e);
        } else if (::fchmod(fd, attrs.mode) != 0) {
            st = errorFromErrno(errno);
        }
    }
    if (st.ok()) st = writeAll(fd, content);
    if (st.ok()) st = syncFd(fd);
    if (st.ok()) {
        if (::close(guard.release()) != 0 && errno != EINTR) st = errorFromErrno(errno);
    }
    if (!st.ok()) {
        ::unlinkat(dirfd, tmp.c_str(), 0);
        return st.error();
    }
    return tmp;
}

// Flushes a directory's entries to disk, so that a name published, renamed
// or removed in it survives a power loss.
Status syncDirFd(int fd) noexcept {
    if (int e = injected(fault::Op::SyncDir)) return errorFromErrno(e);
    while (::fsync(fd) != 0) {
        if (errno == EINTR) continue;
        if (errno == EINVAL || errno == EROFS) return {};
        return errorFromErrno(errno);
    }
    return {};
}

}  // namespace

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
    if (int e = injected(fault::Op::Stat)) return errorFromErrno(e);
    if (::fstat(fd, &st) != 0) return errorFromErrno(errno);
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
    QL_TRY(checkPathLength(path));
    // An empty path is the current directory.
    CName p(path.empty() ? std::string_view(".") : path);
    int fd = sysOpenAt(AT_FDCWD, p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return errorFromErrno(errno);
    return adopt(fd);
}

Result<Dir> Dir::openChild(std::string_view name) const {
    QL_TRY(checkPathLength(name));
    CName n(name);
    int fd = sysOpenAt(this->fd(), n.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0) return errorFromErrno(errno);
    return adopt(fd);
}

Result<std::optional<DirEntry>> Dir::next() {
    for (;;) {
        if (int e = injected(fault::Op::Read)) return errorFromErrno(e);
        errno = 0;
        struct dirent *ent = ::readdir(asDir(dir_));
        if (ent == nullptr) {
            if (errno != 0) return errorFromErrno(errno);
            return std::optional<DirEntry>{};
        }
        if (ent->d_ino == 0) continue;
        const char *name = ent->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        EntryKind kind = EntryKind::Other;
        unsigned char type = ent->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (int e = injected(fault::Op::Stat)) return errorFromErrno(e);
            if (::fstatat(fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                // Removed since it was listed: not an entry any more.
                if (errno == ENOENT) continue;
                return errorFromErrno(errno);
            }
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

Status Dir::readFileInto(std::string_view name, std::string &data, std::size_t limit) const {
    QL_TRY(checkPathLength(name));
    CName n(name);
    // O_NONBLOCK keeps a FIFO that replaced a listed file from blocking us;
    // it has no effect on regular files.
    int fd = sysOpenAt(this->fd(), n.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) return errorFromErrno(errno);
    FdGuard guard(fd);
    auto size = regularFileSize(fd, limit);
    if (!size) return size.error();
    // One byte more than the size, so that end of file is seen in one read
    // when the size is right. A buffer that is already larger is used whole.
    std::size_t want = *size + 1;
    if (data.size() < want) data.resize(want);
    std::size_t have = 0;
    for (;;) {
        if (have == data.size()) {
            if (data.size() > limit) return Error::FileTooBig;
            data.resize(std::min(limit + 1, data.size() + data.size() / 2 + 4096));
        }
        if (int e = injected(fault::Op::Read)) return errorFromErrno(e);
        ssize_t r = ::read(fd, data.data() + have, data.size() - have);
        if (r < 0) {
            if (errno == EINTR) continue;
            return errorFromErrno(errno);
        }
        if (r == 0) break;
        std::size_t asked = data.size() - have;
        have += static_cast<std::size_t>(r);
        if (have > limit) return Error::FileTooBig;
        // A regular file returns fewer bytes than asked for only at its end,
        // so the usual file (whose size fstat gave) takes one read, not two.
        if (static_cast<std::size_t>(r) < asked) break;
    }
    data.resize(have);
    return {};
}

namespace {

// Checks that the open `fd` is a regular file of at most `limit` bytes and
// reads its start into `buffer`, until `settled` or the end of the file.
Result<std::string_view> readHead(int fd, std::string &buffer, bool (*settled)(std::string_view head),
                                  std::size_t limit) {
    // The first read asks for one page (or the whole file and one byte when
    // that is less), which holds the front matter of nearly every file.
    constexpr std::size_t kFirstRead = 4096;
    FdGuard guard(fd);
    auto size = regularFileSize(fd, limit);
    if (!size) return size.error();
    std::size_t want = std::min(*size + 1, kFirstRead);
    if (buffer.size() < want) buffer.resize(want);
    std::size_t have = 0;
    for (;;) {
        if (have == buffer.size()) {
            if (buffer.size() > limit) return Error::FileTooBig;
            buffer.resize(std::min(limit + 1, buffer.size() * 2));
        }
        if (int e = injected(fault::Op::Read)) return errorFromErrno(e);
        std::size_t asked = std::min(buffer.size(), std::max(want, have * 2)) - have;
        ssize_t r = ::read(fd, buffer.data() + have, asked);
        if (r < 0) {
            if (errno == EINTR) continue;
            return errorFromErrno(errno);
        }
        if (r == 0) break;
        have += static_cast<std::size_t>(r);
        if (have > limit) return Error::FileTooBig;
        // A short read of a regular file is its end.
        if (static_cast<std::size_t>(r) < asked || settled(std::string_view(buffer.data(), have))) break;
    }
    return std::string_view(buffer.data(), have);
}

constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;

// Opens `path` below `dirfd` for reading, one component at a time, without
// following a symbolic link anywhere on the way.
int openBelowByComponents(int dirfd, const char *path) noexcept {
    int cur = dirfd;
    const char *p = path;
    for (;;) {
        const char *slash = std::strchr(p, '/');
        if (slash == nullptr) {
            int fd = sysOpenAt(cur, p, kReadFlags, 0);
            int e = errno;
            if (cur != dirfd) ::close(cur);
            errno = e;
            return fd;
        }
        char part[kPathMax];
        std::size_t n = static_cast<std::size_t>(slash - p);
        std::memcpy(part, p, n);
        part[n] = '\0';
        int next = sysOpenAt(cur, part, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW, 0);
        int e = errno;
        if (cur != dirfd) ::close(cur);
        if (next < 0) {
            errno = e;
            return -1;
        }
        cur = next;
        p = slash + 1;
    }
}

// The same in one system call where the kernel has openat2 (Linux 5.6):
// any link on the path fails with ELOOP, as with O_NOFOLLOW.
int openBelow(int dirfd, const char *path) noexcept {
#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS)
    static std::atomic<bool> unavailable{false};
    if (!unavailable.load(std::memory_order_relaxed)) {
        if (int e = injected(fault::Op::Open)) {
            errno = e;
            return -1;
        }
        struct open_how how {};
        how.flags = static_cast<std::uint64_t>(kReadFlags);
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
        long fd;
        do {
            fd = ::syscall(SYS_openat2, dirfd, path, &how, sizeof how);
        } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
        // Not there, or refused by a sandbox: the portable way from now on.
        unavailable.store(true, std::memory_order_relaxed);
    }
#endif
    return openBelowByComponents(dirfd, path);
}

}  // namespace

Result<std::string_view> Dir::readFileHead(std::string_view name, std::string &buffer,
                                           bool (*settled)(std::string_view head), std::size_t limit) const {
    QL_TRY(checkPathLength(name));
    CName n(name);
    int fd = sysOpenAt(this->fd(), n.c_str(), kReadFlags, 0);
    if (fd < 0) return errorFromErrno(errno);
    return readHead(fd, buffer, settled, limit);
}

Result<std::string_view> Dir::readFileHeadBelow(std::string_view path, std::string &buffer,
                                                bool (*settled)(std::string_view head), std::size_t limit) const {
    QL_TRY(checkPathLength(path));
    CName p(path);
    int fd = openBelow(this->fd(), p.c_str());
    if (fd < 0) return errorFromErrno(errno);
    return readHead(fd, buffer, settled, limit);
}

namespace {

// The attributes a file written over `name` in `dirfd` takes: those of the
// regular file there, else those of a new file. IsDir when `name` is a
// directory and `refuseDir` is set.
Result<FileAttrs> attrsOf(int dirfd, const char *name, bool refuseDir) noexcept {
    struct stat st {};
    if (int e = injected(fault::Op::Stat)) return errorFromErrno(e);
    if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode) && refuseDir) return Error::IsDir;
        return attrsFor(S_ISREG(st.st_mode) ? &st : nullptr);
    }
    if (errno != ENOENT) return errorFromErrno(errno);
    return attrsFor(nullptr);
}

}  // namespace

Status Dir::writeReplace(std::string_view name, std::string_view content) const {
    QL_TRY(checkPathLength(name));
    CName n(name);
    auto attrs = attrsOf(fd(), n.c_str(), true);
    if (!attrs) return attrs.error();
    auto tmp = writeTemp(fd(), content, *attrs);
    if (!tmp) return tmp.error();
    int e = injected(fault::Op::Rename);
    if (e == 0 && ::renameat(fd(), tmp->c_str(), fd(), n.c_str()) != 0) e = errno;
    if (e != 0) {
        ::unlinkat(fd(), tmp->c_str(), 0);
        return errorFromErrno(e);
    }
    return syncDirFd(fd());
}

Status Dir::writeExclusive(std::string_view name, std::string_view content, std::string_view attrsFrom,
                           bool *published) const {
    if (published != nullptr) *published = false;
    auto done = [&]() -> Status {
        if (published != nullptr) *published = true;
        return syncDirFd(fd());
    };
    QL_TRY(checkPathLength(name));
    QL_TRY(checkPathLength(attrsFrom));
    CName n(name);
    FileAttrs attrs;
    if (attrsFrom.empty()) {
        attrs = attrsFor(nullptr);
    } else {
        CName from(attrsFrom);
        auto a = attrsOf(fd(), from.c_str(), false);
        if (!a) return a.error();
        attrs = *a;
    }
    auto tmp = writeTemp(fd(), content, attrs);
    if (!tmp) return tmp.error();
    // link(2) publishes the complete file under its name only if no entry of
    // that name exists; it never follows a symbolic link at the target.
    int e = injected(fault::Op::Link);
    if (e == 0 && ::linkat(fd(), tmp->c_str(), fd(), n.c_str(), 0) != 0) e = errno;
    if (e == 0 || e == EEXIST) {
        ::unlinkat(fd(), tmp->c_str(), 0);
        if (e != 0) return Error::PathAlreadyExists;
        return done();
    }
    bool noHardLinks = (e == EPERM || e == ENOTSUP || e == EOPNOTSUPP || e == EMLINK || e == ENOSYS);
    if (!noHardLinks) {
        ::unlinkat(fd(), tmp->c_str(), 0);
        return errorFromErrno(e);
    }
#ifdef RENAME_NOREPLACE
    // File systems without hard links: an atomic rename that refuses to
    // replace.
    if (::renameat2(fd(), tmp->c_str(), fd(), n.c_str(), RENAME_NOREPLACE) == 0) return done();
    e = errno;
    if (e != EINVAL && e != ENOSYS && e != ENOTSUP && e != EOPNOTSUPP) {
        ::unlinkat(fd(), tmp->c_str(), 0);
        return errorFromErrno(e);
    }
#endif
    ::unlinkat(fd(), tmp->c_str(), 0);
    // Last resort: an exclusive create of the final name, removed again if
    // writing it fails. It starts empty and 0600, and takes its bits before
    // the content goes in.
    int out = sysOpenAt(fd(), n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (out < 0) return errorFromErrno(errno);
    FdGuard guard(out);
    Status st;
    if (::fchmod(out, attrs.mode) != 0) st = errorFromErrno(errno);
    if (st.ok()) st = writeAll(out, content);
    if (st.ok()) st = syncFd(out);
    if (!st.ok()) {
        ::unlinkat(fd(), n.c_str(), 0);
        return st;
    }
    return done();
}

Status Dir::removeFile(std::string_view name) const {
    QL_TRY(checkPathLength(name));
    CName n(name);
    if (int e = injected(fault::Op::Unlink)) return errorFromErrno(e);
    if (::unlinkat(fd(), n.c_str(), 0) != 0) return errorFromErrno(errno);
    return syncDirFd(fd());
}

Status Dir::removeChildDir(std::string_view name) const {
    QL_TRY(checkPathLength(name));
    CName n(name);
    if (int e = injected(fault::Op::Rmdir)) return errorFromErrno(e);
    if (::unlinkat(fd(), n.c_str(), AT_REMOVEDIR) != 0) {
        if (errno == EEXIST) return Error::DirNotEmpty;
        return errorFromErrno(errno);
    }
    return syncDirFd(fd());
}

Result<Dir> Dir::openOrMakeChild(std::string_view name) const {
    auto child = openChild(name);
    if (child || child.error() != Error::FileNotFound) return child;
    CName n(name);
    int e = injected(fault::Op::Mkdir);
    if (e == 0 && ::mkdirat(fd(), n.c_str(), 0755) != 0) e = errno;
    if (e != 0 && e != EEXIST) return errorFromErrno(e);
    if (e == 0) QL_TRY(syncDirFd(fd()));
    // Opened without following a link, so a link swapped in at the name
    // since it was made is refused.
    return openChild(name);
}

bool Dir::isChildDirectory(std::string_view name) const noexcept {
    if (name.size() >= kPathMax) return false;
    CName n(name);
    struct stat st {};
    return ::fstatat(fd(), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

Result<Dir> Dir::reopen() const {
    int fd = sysOpenAt(this->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return errorFromErrno(errno);
    return adopt(fd);
}

Status Dir::lockExclusive() const {
    if (int e = injected(fault::Op::Lock)) return errorFromErrno(e);
    while (::flock(fd(), LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        return errorFromErrno(errno);
    }
    return {};
}

Result<FileId> Dir::fileId(std::string_view name) const {
    QL_TRY(checkPathLength(name));
    CName n(name);
    struct stat st {};
    if (int e = injected(fault::Op::Stat)) return errorFromErrno(e);
    if (::fstatat(fd(), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errorFromErrno(errno);
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
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
        int e = injected(fault::Op::Mkdir);
        if (e == 0 && ::mkdirat(cur->fd(), n.c_str(), 0755) != 0) e = errno;
        if (e != 0 && e != EEXIST) return errorFromErrno(e);
        if (e == 0) QL_TRY(syncDirFd(cur->fd()));
        int fd = sysOpenAt(cur->fd(), n.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
        if (fd < 0) return errorFromErrno(errno);
        cur = adopt(fd);
    }
    return cur;
}

Status makeDirPath(std::string_view path) {
    auto dir = Dir::openMaking(path);
    return dir ? Status{} : Status{dir.error()};
}

bool isDirectory(std::string_view path) noexcept {
    if (path.size() >= kPathMax) return false;
    char buf[kPathMax];
    std::memcpy(buf, path.data(), path.size());
    buf[path.size()] = '\0';
    struct stat st {};
    return ::lstat(buf, &st) == 0 && S_ISDIR(st.st_mode);
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
                ssize_t n = ::write(STDERR_FILENO, buf + off, used - off);
                if (n < 0 && errno == EINTR) continue;
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
    if (injected(fault::Op::Alloc) != 0) return nullptr;
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (!p) return nullptr;
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

void *resizeCHeap(void *block, std::size_t size) noexcept {
    if (injected(fault::Op::Alloc) != 0) return nullptr;
    return std::realloc(block, size == 0 ? 1 : size);
}

void fault::setHook(Hook hook) noexcept { g_hook.store(hook, std::memory_order_relaxed); }

}  // namespace quorlina::platform
