// Directory handles: opening, making and listing directories and removing
// entries, each through an open directory and a plain entry name.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <pthread.h>
#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "core/paths.hpp"
#include "core/platform.hpp"
#include "core/platform_sys.hpp"

namespace quorlina::platform {

using namespace sys;
using fault::Op;

Status checkPathLength(std::string_view path) noexcept {
    if (path.size() >= kPathMax) return Error::NameTooLong;
    return {};
}

namespace {

#if defined(__linux__) && defined(SYS_getdents64)
// On Linux a directory is listed with getdents64 into a buffer of the
// handle's own. fdopendir would first check the descriptor with fstat and
// fcntl: two system calls per directory that this layer has no use for
// (every directory is opened with O_DIRECTORY), and that a walk over
// thousands of day directories feels. Elsewhere a DIR stream does it.
#define QUORLINA_RAW_DIRENTS 1
struct DirStream {
    explicit DirStream(int d) noexcept : fd(d) {}
    int fd;
    std::size_t at = 0, end = 0;  // the unread records in buf
    alignas(8) char buf[32768];
};
inline DirStream *asStream(void *p) noexcept { return static_cast<DirStream *>(p); }
void closeStream(void *p) noexcept {
    ::close(asStream(p)->fd);
    delete asStream(p);
}
int streamFd(void *p) noexcept { return asStream(p)->fd; }
#else
inline DIR *asDir(void *p) noexcept { return static_cast<DIR *>(p); }
void closeStream(void *p) noexcept { ::closedir(asDir(p)); }
int streamFd(void *p) noexcept { return ::dirfd(asDir(p)); }
#endif

// Makes the directory `name` in `dirfd` (mode 0755 less the umask) and,
// when it made it, flushes `dirfd`. One that exists already is fine.
Status makeChildDir(int dirfd, const char *name) noexcept {
    auto made = sysCall(Op::Mkdir, [&] { return ::mkdirat(dirfd, name, 0755); }, OnInterrupt::Report);
    if (made.ok()) return syncFd(dirfd, Op::SyncDir);
    if (made.err == EEXIST) return {};
    return std::move(made).failure();
}

}  // namespace

Dir::Dir(Dir &&other) noexcept : dir_(other.dir_), path_(std::move(other.path_)), lockFd_(other.lockFd_) {
    other.dir_ = nullptr;
    other.lockFd_ = -1;
}

// Closing a directory stream is not behind the seam (see platform.hpp);
// nothing was written through it, so there is no failure to report.
Dir &Dir::operator=(Dir &&other) noexcept {
    if (this != &other) {
        releaseLock();
        if (dir_) closeStream(dir_);
        dir_ = other.dir_;
        path_ = std::move(other.path_);
        lockFd_ = other.lockFd_;
        other.dir_ = nullptr;
        other.lockFd_ = -1;
    }
    return *this;
}

Dir::~Dir() {
    releaseLock();
    if (dir_) closeStream(dir_);
}

int Dir::fd() const noexcept { return dir_ ? streamFd(dir_) : -1; }

std::string Dir::pathOf(std::string_view name) const { return joinPath({path_, name}); }

// Making the directory stream allocates, and lack of memory is how it
// fails: it is behind the seam as an allocation.
Result<Dir> Dir::adopt(int fd, std::string path) {
#if defined(QUORLINA_RAW_DIRENTS)
    DirStream *d = nullptr;
    auto opened = sysCall(Op::Alloc, [&] {
        d = new (std::nothrow) DirStream(fd);
        if (d) return 0;
        errno = ENOMEM;
        return -1;
    });
#else
    DIR *d = nullptr;
    auto opened = sysCall(Op::Alloc, [&] {
        d = ::fdopendir(fd);
        return d ? 0 : -1;
    });
#endif
    if (!opened.ok()) {
        ::close(fd);
        return std::move(opened).failure();
    }
    return Dir(static_cast<void *>(d), std::move(path));
}

Result<Dir> Dir::open(std::string_view path) {
    // An empty path is the current directory.
    const std::string_view opened = path.empty() ? std::string_view(".") : path;
    return failingAt(withName(opened,
                              [&](const char *p) -> Result<Dir> {
                                  auto fd = sysOpenAt(AT_FDCWD, p, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                                  if (!fd.ok()) return std::move(fd).failure();
                                  return adopt(fd.ret, std::string(path));
                              }),
                     [&] { return std::string(opened); });
}

Result<Dir> Dir::openChild(std::string_view name) const {
    return failingAt(withName(name,
                              [&](const char *n) -> Result<Dir> {
                                  auto fd = sysOpenAt(this->fd(), n,
                                                      O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
                                  if (!fd.ok()) return std::move(fd).failure();
                                  return adopt(fd.ret, pathOf(name));
                              }),
                     [&] { return pathOf(name); });
}

Result<std::optional<DirEntry>> Dir::next() {
    for (;;) {
#if defined(QUORLINA_RAW_DIRENTS)
        DirStream &s = *asStream(dir_);
        if (s.at >= s.end) {
            auto got = sysCall(Op::Read, [&] { return ::syscall(SYS_getdents64, s.fd, s.buf, sizeof s.buf); });
            // A directory removed while it is listed answers ENOENT: it has
            // no more entries (as readdir takes it).
            if (got.ret == 0 || got.systemFailedWith(ENOENT)) return std::optional<DirEntry>{};
            QL_TRY(failingAt(got.status(), [&] { return path_; }));
            s.at = 0;
            s.end = static_cast<std::size_t>(got.ret);
        }
        // A record: d_ino (8 bytes), d_off (8), d_reclen (2), d_type (1),
        // then the NUL-terminated name, padded to 8 bytes.
        constexpr std::size_t kNameAt = 19;
        const char *rec = s.buf + s.at;
        std::uint64_t ino = 0;
        std::uint16_t length = 0;
        std::memcpy(&ino, rec, sizeof ino);
        std::memcpy(&length, rec + 16, sizeof length);
        if (length < kNameAt + 1 || length > s.end - s.at) {
            // Not what the system writes: end the listing as failed.
            s.at = s.end;
            return concerning(path_, Failure(Error::InputOutput, EIO));
        }
        s.at += length;
        if (ino == 0) continue;
        const char *name = rec + kNameAt;
        unsigned char type = static_cast<unsigned char>(rec[18]);
#else
        struct dirent *ent = nullptr;
        // readdir tells its end from a failure only by errno.
        QL_TRY(failingAt(sysCall(Op::Read,
                                 [&] {
                                     errno = 0;
                                     ent = ::readdir(asDir(dir_));
                                     return ent == nullptr && errno != 0 ? -1 : 0;
                                 })
                             .status(),
                         [&] { return path_; }));
        if (ent == nullptr) return std::optional<DirEntry>{};
        if (ent->d_ino == 0) continue;
        const char *name = ent->d_name;
        const std::uint64_t ino = static_cast<std::uint64_t>(ent->d_ino);
        unsigned char type = ent->d_type;
#endif
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        EntryKind kind = EntryKind::Other;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            auto found = sysCall(Op::Stat, [&] { return ::fstatat(fd(), name, &st, AT_SYMLINK_NOFOLLOW); });
            // Removed since it was listed: not an entry any more.
            if (found.systemFailedWith(ENOENT)) continue;
            if (!found.ok()) return concerning(pathOf(name), found.failure());
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
        return std::optional<DirEntry>{DirEntry{std::string_view(name), kind, ino}};
    }
}

Status Dir::removeFile(std::string_view name) const {
    return failingAt(withName(name,
                              [&](const char *n) -> Status {
                                  QL_TRY(sysCall(Op::Unlink, [&] { return ::unlinkat(fd(), n, 0); },
                                                 OnInterrupt::Report)
                                             .status());
                                  return syncFd(fd(), Op::SyncDir);
                              }),
                     [&] { return pathOf(name); });
}

Status Dir::removeChildDir(std::string_view name) const {
    return failingAt(withName(name,
                              [&](const char *n) -> Status {
                                  auto removed = sysCall(
                                      Op::Rmdir, [&] { return ::unlinkat(fd(), n, AT_REMOVEDIR); },
                                      OnInterrupt::Report);
                                  if (removed.systemFailedWith(EEXIST)) return Failure(Error::DirNotEmpty, EEXIST);
                                  if (!removed.ok()) return std::move(removed).failure();
                                  return syncFd(fd(), Op::SyncDir);
                              }),
                     [&] { return pathOf(name); });
}

Result<Dir> Dir::openOrMakeChild(std::string_view name) const {
    auto child = openChild(name);
    if (child || child.error() != Error::FileNotFound) return child;
    QL_TRY(failingAt(withName(name, [&](const char *n) { return makeChildDir(fd(), n); }),
                     [&] { return pathOf(name); }));
    // Opened without following a link, so a link swapped in at the name
    // since it was made is refused.
    return openChild(name);
}

bool Dir::isChildDirectory(std::string_view name) const noexcept {
    Status isDir = withName(name, [&](const char *n) -> Status {
        struct stat st {};
        QL_TRY(sysCall(Op::Stat, [&] { return ::fstatat(fd(), n, &st, AT_SYMLINK_NOFOLLOW); }).status());
        return S_ISDIR(st.st_mode) ? Status{} : Status{Error::NotDir};
    });
    return isDir.ok();
}

Result<Dir> Dir::reopen() const {
    auto fd = sysOpenAt(this->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!fd.ok()) return failingAt(Result<Dir>(fd.failure()), [&] { return path_; });
    return failingAt(adopt(fd.ret, path_), [&] { return path_; });
}

// ---------------------------------------------------------------- locks
//
// flock(2) belongs to the open file description, which a forked child
// shares: a child forked while a thread holds a lock would keep it after
// the parent lets go (and block on it itself, for ever). So every lock is
// taken through a descriptor opened for it alone, registered while it may
// hold a lock, and a fork's child handler closes every registered one. The
// registry's mutex is held across fork (prepare and parent/child handlers),
// and around opening and registering, and closing and unregistering, so a
// child never inherits a lock descriptor that is not registered.
//
// POSIX record locks (fcntl F_SETLK), which a child does not inherit, are
// per process (no exclusion between threads), dropped when any descriptor
// of the file is closed, and need write access, so no directory can carry
// one; open file description locks (F_OFD_SETLK) are shared with a child
// as flock is.

namespace {

std::mutex g_lockRegistryMutex;
std::vector<int> *g_lockFds = nullptr;  // made once, never freed: a child handler may run at exit
std::once_flag g_atforkOnce;

void lockRegistryPrepare() noexcept { g_lockRegistryMutex.lock(); }
void lockRegistryParent() noexcept { g_lockRegistryMutex.unlock(); }
void lockRegistryChild() noexcept {
    // Only close(2) and the vector's own storage: no allocation here.
    for (int fd : *g_lockFds) ::close(fd);
    g_lockFds->clear();
    g_lockRegistryMutex.unlock();
}

}  // namespace

Status Dir::lockExclusive() {
    if (lockFd_ >= 0) return {};
    std::call_once(g_atforkOnce, [] {
        g_lockFds = new std::vector<int>();
        g_lockFds->reserve(8);
        ::pthread_atfork(lockRegistryPrepare, lockRegistryParent, lockRegistryChild);
    });
    {
        std::lock_guard<std::mutex> registry(g_lockRegistryMutex);
        auto opened = sysOpenAt(fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (!opened.ok()) return concerning(path_, opened.failure());
        try {
            g_lockFds->push_back(opened.ret);
        } catch (...) {
            ::close(opened.ret);
            return concerning(path_, Failure(Error::OutOfMemory, ENOMEM));
        }
        lockFd_ = opened.ret;
    }
    // Waiting for the lock does not hold the registry: a fork meanwhile
    // closes this descriptor in the child, and the lock is the parent's.
    Status locked = sysCall(Op::Lock, [&] { return ::flock(lockFd_, LOCK_EX); }).status();
    if (!locked) {
        releaseLock();
        return failingAt(std::move(locked), [&] { return path_; });
    }
    return {};
}

void Dir::releaseLock() noexcept {
    if (lockFd_ < 0) return;
    std::lock_guard<std::mutex> registry(g_lockRegistryMutex);
    // Closing the only descriptor of this description releases the lock.
    ::close(lockFd_);
    std::erase(*g_lockFds, lockFd_);
    lockFd_ = -1;
}

Result<FileId> Dir::fileId(std::string_view name) const {
    return failingAt(withName(name,
                              [&](const char *n) -> Result<FileId> {
                                  struct stat st {};
                                  QL_TRY(sysCall(Op::Stat, [&] {
                                             return ::fstatat(fd(), n, &st, AT_SYMLINK_NOFOLLOW);
                                         }).status());
                                  return FileId{static_cast<std::uint64_t>(st.st_dev),
                                                static_cast<std::uint64_t>(st.st_ino)};
                              }),
                     [&] { return pathOf(name); });
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
        std::string_view component = rest.substr(0, slash);
        rest.remove_prefix(slash);
        std::string below = cur->pathOf(component);
        cur = failingAt(withName(component,
                                 [&](const char *n) -> Result<Dir> {
                                     QL_TRY(makeChildDir(cur->fd(), n));
                                     auto fd = sysOpenAt(cur->fd(), n, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                                     if (!fd.ok()) return std::move(fd).failure();
                                     return adopt(fd.ret, below);
                                 }),
                        [&] { return below; });
    }
    return cur;
}

}  // namespace quorlina::platform
