#include "core/platform.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

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

// A NUL-terminated copy of a path or name for the system call.
std::string cstr(std::string_view s) { return std::string(s); }

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

// Creates a new hidden temporary file in `dirfd` and writes `content` to it,
// flushed to disk. On failure nothing is left behind.
Result<std::string> writeTemp(int dirfd, std::string_view content, const mode_t *mode) {
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 16; ++attempt) {
        tmp = tempName();
        fd = sysOpenAt(dirfd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                       0666);
        if (fd >= 0 || errno != EEXIST) break;
    }
    if (fd < 0) return errorFromErrno(errno);
    FdGuard guard(fd);
    Status st = writeAll(fd, content);
    if (st.ok() && mode != nullptr) {
        if (int e = injected(fault::Op::Chmod)) {
            st = errorFromErrno(e);
        } else if (::fchmod(fd, *mode) != 0) {
            st = errorFromErrno(errno);
        }
    }
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
    std::string p = path.empty() ? std::string(".") : cstr(path);
    int fd = sysOpenAt(AT_FDCWD, p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return errorFromErrno(errno);
    return adopt(fd);
}

Result<Dir> Dir::openChild(std::string_view name) const {
    QL_TRY(checkPathLength(name));
    std::string n = cstr(name);
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
    QL_TRY(checkPathLength(name));
    std::string n = cstr(name);
    // O_NONBLOCK keeps a FIFO that replaced a listed file from blocking us;
    // it has no effect on regular files.
    int fd = sysOpenAt(this->fd(), n.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) return errorFromErrno(errno);
    FdGuard guard(fd);
    struct stat st {};
    if (int e = injected(fault::Op::Stat)) return errorFromErrno(e);
    if (::fstat(fd, &st) != 0) return errorFromErrno(errno);
    if (S_ISDIR(st.st_mode)) return Error::IsDir;
    if (!S_ISREG(st.st_mode)) return Error::NotRegularFile;
    if (static_cast<std::uint64_t>(st.st_size) > limit) return Error::FileTooBig;
    std::string data;
    // One byte more than the size, so that end of file is seen in one read
    // when the size is right.
    std::size_t want = static_cast<std::size_t>(st.st_size) + 1;
    data.resize(want);
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
        have += static_cast<std::size_t>(r);
        if (have > limit) return Error::FileTooBig;
    }
    data.resize(have);
    return data;
}

Status Dir::writeReplace(std::string_view name, std::string_view content,
                         std::string_view modeFrom) const {
    QL_TRY(checkPathLength(name));
    QL_TRY(checkPathLength(modeFrom));
    std::string n = cstr(name);
    std::string from = modeFrom.empty() ? n : cstr(modeFrom);
    // Keep the permission bits of the file being replaced.
    mode_t mode = 0;
    const mode_t *keep = nullptr;
    struct stat st {};
    if (int e = injected(fault::Op::Stat)) return errorFromErrno(e);
    if (::fstatat(fd(), from.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode) && from == n) return Error::IsDir;
        if (S_ISREG(st.st_mode)) {
            mode = st.st_mode & 07777;
            keep = &mode;
        }
    } else if (errno != ENOENT) {
        return errorFromErrno(errno);
    }
    auto tmp = writeTemp(fd(), content, keep);
    if (!tmp) return tmp.error();
    int e = injected(fault::Op::Rename);
    if (e == 0 && ::renameat(fd(), tmp->c_str(), fd(), n.c_str()) != 0) e = errno;
    if (e != 0) {
        ::unlinkat(fd(), tmp->c_str(), 0);
        return errorFromErrno(e);
    }
    return {};
}

Status Dir::writeExclusive(std::string_view name, std::string_view content) const {
    QL_TRY(checkPathLength(name));
    std::string n = cstr(name);
    auto tmp = writeTemp(fd(), content, nullptr);
    if (!tmp) return tmp.error();
    // link(2) publishes the complete file under its name only if no entry of
    // that name exists; it never follows a symbolic link at the target.
    int e = injected(fault::Op::Link);
    if (e == 0 && ::linkat(fd(), tmp->c_str(), fd(), n.c_str(), 0) != 0) e = errno;
    if (e == 0 || e == EEXIST) {
        ::unlinkat(fd(), tmp->c_str(), 0);
        return e == 0 ? Status{} : Status{Error::PathAlreadyExists};
    }
    bool noHardLinks = (e == EPERM || e == ENOTSUP || e == EOPNOTSUPP || e == EMLINK || e == ENOSYS);
    if (!noHardLinks) {
        ::unlinkat(fd(), tmp->c_str(), 0);
        return errorFromErrno(e);
    }
#ifdef RENAME_NOREPLACE
    // File systems without hard links: an atomic rename that refuses to
    // replace.
    if (::renameat2(fd(), tmp->c_str(), fd(), n.c_str(), RENAME_NOREPLACE) == 0) return {};
    e = errno;
    if (e != EINVAL && e != ENOSYS && e != ENOTSUP && e != EOPNOTSUPP) {
        ::unlinkat(fd(), tmp->c_str(), 0);
        return errorFromErrno(e);
    }
#endif
    ::unlinkat(fd(), tmp->c_str(), 0);
    // Last resort: an exclusive create of the final name, removed again if
    // writing it fails.
    int out = sysOpenAt(fd(), n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
    if (out < 0) return errorFromErrno(errno);
    FdGuard guard(out);
    Status st = writeAll(out, content);
    if (st.ok()) st = syncFd(out);
    if (!st.ok()) ::unlinkat(fd(), n.c_str(), 0);
    return st;
}

Status Dir::removeFile(std::string_view name) const {
    QL_TRY(checkPathLength(name));
    std::string n = cstr(name);
    if (int e = injected(fault::Op::Unlink)) return errorFromErrno(e);
    if (::unlinkat(fd(), n.c_str(), 0) != 0) return errorFromErrno(errno);
    return {};
}

Result<FileId> Dir::fileId(std::string_view name) const {
    QL_TRY(checkPathLength(name));
    std::string n = cstr(name);
    struct stat st {};
    if (int e = injected(fault::Op::Stat)) return errorFromErrno(e);
    if (::fstatat(fd(), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errorFromErrno(errno);
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// ------------------------------------------------------------ path based

Status makeDirPath(std::string_view path) {
    QL_TRY(checkPathLength(path));
    if (path.empty()) return {};
    std::string p = cstr(path);
    // Try the whole path first; walk up only when a parent is missing.
    auto mk = [](const std::string &dir) -> int {
        if (int e = injected(fault::Op::Mkdir)) return e;
        if (::mkdir(dir.c_str(), 0755) == 0) return 0;
        return errno;
    };
    auto isDir = [](const std::string &dir) {
        struct stat st {};
        return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    };
    int e = mk(p);
    if (e == 0) return {};
    if (e == EEXIST) return isDir(p) ? Status{} : Status{Error::NotDir};
    if (e != ENOENT) return errorFromErrno(e);
    // Create each missing component from the top.
    for (std::size_t i = 1; i <= p.size(); ++i) {
        if (i != p.size() && p[i] != '/') continue;
        if (p[i - 1] == '/') continue;
        std::string part = p.substr(0, i);
        e = mk(part);
        if (e == 0) continue;
        if (e == EEXIST) {
            if (!isDir(part)) return Error::NotDir;
            continue;
        }
        return errorFromErrno(e);
    }
    return {};
}

Status removeFile(std::string_view path) {
    QL_TRY(checkPathLength(path));
    std::string p = cstr(path);
    if (int e = injected(fault::Op::Unlink)) return errorFromErrno(e);
    if (::unlink(p.c_str()) != 0) return errorFromErrno(errno);
    return {};
}

Status removeDir(std::string_view path) {
    QL_TRY(checkPathLength(path));
    std::string p = cstr(path);
    if (int e = injected(fault::Op::Rmdir)) return errorFromErrno(e);
    if (::rmdir(p.c_str()) != 0) {
        if (errno == EEXIST) return Error::DirNotEmpty;
        return errorFromErrno(errno);
    }
    return {};
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

void fault::setHook(Hook hook) noexcept { g_hook.store(hook, std::memory_order_relaxed); }

}  // namespace quorlina::platform
