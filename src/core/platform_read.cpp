// Reading content files: whole, or only as far as their front matter, one
// after another into one buffer, and ahead of their turn in a cold cache.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "core/platform.hpp"
#include "core/platform_sys.hpp"

namespace quorlina::platform {

using namespace sys;
using fault::Op;

namespace {

// O_NONBLOCK keeps a FIFO that replaced a listed file from blocking the
// open; it has no effect on regular files.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;

// The buffer's first size: a whole content file nearly always fits.
constexpr std::size_t kFirstCapacity = 64 * 1024;
// What a head read asks for first: the front matter of nearly every file,
// and the whole of most, so that their end is seen in the same read.
constexpr std::size_t kFirstHeadRead = 16 * 1024;
// How much of a file opened ahead a head read asks the system to fetch;
// a whole read asks for all of it (the system caps that at its read-ahead
// size).
constexpr std::size_t kHeadAdvice = kFirstHeadRead;

// Whether the open regular file `fd` may be read: IsDir, NotRegularFile or
// FileTooBig otherwise. Gives its size.
Result<std::size_t> checkedSize(int fd, std::size_t limit) noexcept {
    struct stat st {};
    QL_TRY(sysCall(Op::Stat, [&] { return ::fstat(fd, &st); }).status());
    if (S_ISDIR(st.st_mode)) return Error::IsDir;
    if (!S_ISREG(st.st_mode)) return Error::NotRegularFile;
    if (static_cast<std::uint64_t>(st.st_size) > limit) return Error::FileTooBig;
    return static_cast<std::size_t>(st.st_size);
}

// pread(2) behind the seam. A FIFO or socket cannot be read at an offset
// (ESPIPE): it is no regular file.
Sys<ssize_t> readAt(int fd, char *p, std::size_t n, std::size_t offset) noexcept {
    return sysCall(Op::Read, [&] { return ::pread(fd, p, n, static_cast<off_t>(offset)); });
}

// The first read of a file, at its start, without waiting for the disk:
// EAGAIN when the file is not in the page cache. Such a read may also stop
// early, after the pages that are cached. Fails with ENOSYS where the
// system has no such read.
Sys<ssize_t> readNoWait(int fd, char *p, std::size_t n) noexcept {
#if defined(RWF_NOWAIT)
    iovec v{p, n};
    return sysCall(Op::ReadNoWait, [&] { return ::preadv2(fd, &v, 1, 0, RWF_NOWAIT); });
#elif defined(__linux__) && defined(SYS_preadv2)
    // A C library without a preadv2 wrapper (older musl): the system call
    // itself, with RWF_NOWAIT's value. The offset is passed as its low and
    // high halves; at 0 both are 0 on every ABI.
    iovec v{p, n};
    return sysCall(Op::ReadNoWait, [&] {
        return static_cast<ssize_t>(::syscall(SYS_preadv2, fd, &v, 1, 0L, 0L, 0x00000008));
    });
#else
    (void)fd, (void)p, (void)n;
    return Sys<ssize_t>{-1, ENOSYS, false};
#endif
}

// Asks the system to start reading the first `bytes` of `fd` (all of it
// when 0) into the page cache. A hint: its failure is ignored.
void adviseWillNeed(int fd, std::size_t bytes) noexcept {
#if defined(__APPLE__)
    radvisory advice{};
    advice.ra_offset = 0;
    advice.ra_count = static_cast<int>(bytes == 0 ? kReadLimit : bytes);
    (void)sysCall(Op::Advise, [&] { return ::fcntl(fd, F_RDADVISE, &advice); });
#else
    (void)sysCall(Op::Advise, [&] {
        // posix_fadvise returns its error instead of setting errno.
        int err = ::posix_fadvise(fd, 0, static_cast<off_t>(bytes), POSIX_FADV_WILLNEED);
        if (err == 0) return 0;
        errno = err;
        return -1;
    });
#endif
}

std::size_t pageSize() noexcept {
    long page = ::sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<std::size_t>(page) : 4096;
}

}  // namespace

FileReader::FileReader() noexcept : page_(pageSize()) {}

FileReader::~FileReader() {
    for (std::size_t i = 0; i < aheadCount_; ++i) ::close(ahead_[(aheadFirst_ + i) % kAheadWindow].fd);
    ::operator delete(buffer_);
}

void FileReader::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    // Not initialised: the bytes are only ever read after a read wrote them.
    char *grown = static_cast<char *>(::operator new(capacity));
    if (buffer_) {
        std::memcpy(grown, buffer_, capacity_);
        ::operator delete(buffer_);
    }
    buffer_ = grown;
    capacity_ = capacity;
}

// Reads the open `fd` from its start into the buffer and closes it: to its
// end, or, given `settled`, until settled(bytes so far) is true. The first
// read does not wait for the disk when `probe` is set. Returns the count of
// bytes read.
Result<std::size_t> FileReader::readOpened(int fd, Settled settled, std::size_t limit, bool probe) {
    FdGuard guard(fd);
    const bool whole = settled == nullptr;
    reserve(kFirstCapacity);
    std::size_t have = 0;
    std::size_t asked = whole ? capacity_ : std::min(capacity_, kFirstHeadRead);
    bool checked = false;  // the file's status was asked for

    Sys<ssize_t> r;
    // A read that does not wait may stop short of the end at a page
    // boundary, where the pages that are not cached start.
    bool mayStopEarly = false;
    if (probe && probe_) {
        r = readNoWait(fd, buffer_, asked);
        const bool missed = !r.ok() && r.err == EAGAIN;
        misses_ = (misses_ << 1) | (missed ? 1 : 0);
        if (missed && std::popcount(misses_) >= kColdEvidence) cold_ = true;
        if (r.ok()) {
            mayStopEarly = true;
        } else if (r.err == EAGAIN || r.err == EOPNOTSUPP || r.err == ENOSYS || r.err == EINVAL) {
            // Not in the page cache; or the system cannot say (then it is
            // not asked again). Either way, read it as usual.
            if (r.err != EAGAIN) probe_ = false;
            r = readAt(fd, buffer_, asked, 0);
        }
    } else {
        r = readAt(fd, buffer_, asked, 0);
    }
    for (;;) {
        if (!r.ok()) return r.systemFailedWith(ESPIPE) ? Failure(Error::NotRegularFile) : r.failure();
        const std::size_t got = static_cast<std::size_t>(r.ret);
        have += got;
        if (have > limit) return Error::FileTooBig;
        bool atEnd = got < asked;
        // Perhaps only the part that is cached: the rest is read as usual.
        if (atEnd && got > 0 && mayStopEarly && have % page_ == 0) atEnd = false;
        mayStopEarly = false;
        // A read that returned all it asked for leaves the size unknown, and
        // one that found nothing may have read a device: the status tells.
        if (!checked && (!atEnd || have == 0)) {
            auto size = checkedSize(fd, limit);
            if (!size) return std::move(size).failure();
            checked = true;
            if (whole) reserve(std::max(capacity_, std::min(*size, limit) + 1));
        }
        if (atEnd) break;
        if (!whole && settled(std::string_view(buffer_, have))) break;
        if (have == capacity_) {
            if (capacity_ > limit) return Error::FileTooBig;
            reserve(std::min(limit + 1, capacity_ * 2));
        }
        // A head read at most doubles what it has.
        asked = whole ? capacity_ - have : std::min(capacity_ - have, std::max(kFirstHeadRead, have));
        r = readAt(fd, buffer_ + have, asked, have);
    }
    return have;
}

bool FileReader::isNextAhead(std::uint32_t tag) const noexcept {
    return aheadCount_ != 0 && tag != kNoTag && ahead_[aheadFirst_].tag == tag;
}

Result<std::string_view> FileReader::readAhead(std::uint32_t tag, Settled settled, std::size_t limit) {
    if (!isNextAhead(tag)) return Error::Unexpected;
    int fd = ahead_[aheadFirst_].fd;
    aheadFirst_ = (aheadFirst_ + 1) % kAheadWindow;
    --aheadCount_;
    // Its read was started when it was opened; this one may wait for it.
    auto have = readOpened(fd, settled, limit, false);
    if (!have) return std::move(have).failure();
    return std::string_view(buffer_, *have);
}

Result<std::string_view> FileReader::read(const Dir &dir, std::string_view name, Settled settled, std::uint32_t tag,
                                          std::size_t limit) {
    if (isNextAhead(tag)) return readAhead(tag, settled, limit);
    auto text = withName(name, [&](const char *n) -> Result<std::string_view> {
        auto fd = sysOpenAt(dir.fd(), n, kReadFlags);
        if (!fd.ok()) return std::move(fd).failure();
        auto have = readOpened(fd.ret, settled, limit, true);
        if (!have) return std::move(have).failure();
        return std::string_view(buffer_, *have);
    });
    return failingAt(std::move(text), [&] { return dir.pathOf(name); });
}

bool FileReader::openAhead(const Dir &dir, std::string_view name, std::uint32_t tag, Settled settled) {
    if (aheadCount_ >= aheadLimit_) return false;
    bool opened = false;
    (void)withName(name, [&](const char *n) -> Status {
        auto fd = sysOpenAt(dir.fd(), n, kReadFlags);
        if (!fd.ok()) {
            // Out of descriptors: keep what is open, and open no more ahead.
            if (fd.err == EMFILE || fd.err == ENFILE || fd.err == ENOMEM) aheadLimit_ = aheadCount_;
            return {};
        }
        adviseWillNeed(fd.ret, settled ? kHeadAdvice : 0);
        ahead_[(aheadFirst_ + aheadCount_) % kAheadWindow] = Ahead{fd.ret, tag};
        ++aheadCount_;
        opened = true;
        return {};
    });
    return opened;
}

void FileReader::fetchMetadata(const Dir &dir, std::string_view name) noexcept {
    (void)withName(name, [&](const char *n) -> Status {
        struct stat st {};
        // A hint like the read-ahead advice, behind the seam as one.
        (void)sysCall(Op::Advise, [&] { return ::fstatat(dir.fd(), n, &st, AT_SYMLINK_NOFOLLOW); });
        return {};
    });
}

Result<std::string> Dir::readFile(std::string_view name, std::size_t limit) const {
    FileReader reader;
    auto text = reader.read(*this, name, nullptr, FileReader::kNoTag, limit);
    if (!text) return std::move(text).failure();
    return std::string(*text);
}

}  // namespace quorlina::platform
