// Internal to the platform layer (src/core/platform_*.cpp); family modules
// include platform.hpp only.
//
// The one way the platform layer makes a system call: sysCall consults the
// fault seam, makes the call, and repeats it while it is interrupted by a
// signal. Also the C string of a name for a system call and a guard that
// closes a file descriptor.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

#include "core/platform.hpp"

namespace quorlina::platform::sys {

// The hook installed by fault::setHook (defined in platform_process.cpp).
extern std::atomic<fault::Hook> faultHook;

// The fault seam's answer for one call of `op`: 0 to make the call, else the
// errno to fail with (or one of the special answers of fault::Hook).
inline int injected(fault::Op op) noexcept {
    fault::Hook h = faultHook.load(std::memory_order_relaxed);
    return h ? h(op) : 0;
}

// Repeats the system call `f` (which returns a negative value and sets
// errno on failure) while it fails with EINTR: a signal arrived before the
// call did anything.
template <class F>
auto retryInterrupted(F &&f) noexcept {
    auto r = f();
    while (r < 0 && errno == EINTR) r = f();
    return r;
}

// What a call made through sysCall came to.
template <class T>
struct Sys {
    T ret = -1;             // the call's return value; negative on failure
    int err = 0;            // 0, or the errno of the failure
    bool injected = false;  // failed by the fault seam; the call was not made

    bool ok() const noexcept { return err == 0; }
    Error error() const noexcept { return errorFromErrno(err); }
    Failure failure() const noexcept { return Failure(error(), err); }
    Status status() const noexcept { return ok() ? Status{} : Status{failure()}; }
    // Whether the system itself, not the fault seam, failed the call with
    // `e`. For the errors a caller takes as an answer rather than a failure
    // (a missing entry, a file system that cannot sync): an injected one
    // stays a failure.
    bool systemFailedWith(int e) const noexcept { return !injected && err == e; }
};

enum class OnInterrupt {
    Retry,   // the call can be repeated: it did nothing when interrupted
    Report,  // the call changes a name (link, rename, unlink, mkdir, rmdir): an
             // interrupted one may have been made, and a repeat would then
             // fail with EEXIST or ENOENT, so it is reported as it came
};

// sysCall once the fault seam has answered `answer` (0: make the call).
template <class F>
auto callAnswered(int answer, F &&f, OnInterrupt onInterrupt = OnInterrupt::Retry) noexcept
    -> Sys<std::invoke_result_t<F>> {
    using T = std::invoke_result_t<F>;
    // A special answer that reaches here was given for an operation it is
    // not meant for.
    if (answer < 0) return {T(-1), EINVAL, true};
    if (answer != 0) return {T(-1), answer, true};
    T r = onInterrupt == OnInterrupt::Retry ? retryInterrupted(f) : f();
    if (r < 0) return {r, errno, false};
    return {r, 0, false};
}

// Makes the system call `f` behind the fault seam for `op`: a nonzero
// answer from the hook fails it with that errno without making it. The
// hook is consulted once per call.
template <class F>
auto sysCall(fault::Op op, F &&f, OnInterrupt onInterrupt = OnInterrupt::Retry) noexcept {
    return callAnswered(injected(op), std::forward<F>(f), onInterrupt);
}

// write(2) behind the fault seam, where fault::kShortWrite makes it write at
// most half of `n` bytes (at least one), as a nearly full disk can.
inline Sys<ssize_t> sysWrite(int fd, const char *p, std::size_t n) noexcept {
    int answer = injected(fault::Op::Write);
    if (answer == fault::kShortWrite) {
        answer = 0;
        n = n > 1 ? n / 2 : 1;
    }
    return callAnswered(answer, [&] { return ::write(fd, p, n); });
}

inline Sys<int> sysOpenAt(int dirfd, const char *name, int flags, mode_t mode = 0) noexcept {
    return sysCall(fault::Op::Open, [&] { return ::openat(dirfd, name, flags, mode); });
}

// Closes `fd`, reporting a failure of the last write-back. On Linux the
// descriptor is released even when close fails with EINTR, so it is never
// repeated (that could close a descriptor another thread just opened) and
// EINTR is no failure.
inline Status closeFd(int fd) noexcept {
    if (::close(fd) != 0) {
        const int e = errno;
        if (e != EINTR) return Failure(errorFromErrno(e), e);
    }
    return {};
}

// Calls f(cname) with `name` as a NUL-terminated C string, or fails
// without calling f when the C string cannot hold it: NameTooLong when it
// is kPathMax bytes or longer, InvalidCharacter when it holds a NUL byte
// (the system would read a shorter name). Every operation that takes a
// name or path starts here. The copy lives on the stack: a system call made
// after a file was committed (removing the old name of a renamed file, say)
// must not fail for lack of memory.
template <class F>
auto withName(std::string_view name, F &&f) -> std::invoke_result_t<F, const char *> {
    if (Status s = checkPathLength(name); !s) return std::move(s).failure();
    if (name.find('\0') != std::string_view::npos) return Error::InvalidCharacter;
    char buf[kPathMax];
    if (!name.empty()) std::memcpy(buf, name.data(), name.size());
    buf[name.size()] = '\0';
    return std::forward<F>(f)(static_cast<const char *>(buf));
}

// `r`, whose failure (if any) names the path that path() gives unless it
// names one already. The path is built only on failure.
template <class R, class PathFn>
R failingAt(R r, PathFn &&path) {
    if (r.ok()) return r;
    Failure f = std::move(r).failure();
    if (f.file.empty()) f.file = path();
    return f;
}

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

// Flushes what was written to `fd` to stable storage. On macOS (and where
// else F_FULLFSYNC exists) fsync only hands the data to the drive, whose
// cache a power loss empties, so the drive is told to flush with
// F_FULLFSYNC; a file system or device that cannot do that gets fsync.
inline int flushToStorage(int fd) noexcept {
#ifdef F_FULLFSYNC
    if (retryInterrupted([&] { return ::fcntl(fd, F_FULLFSYNC); }) == 0) return 0;
#endif
    return ::fsync(fd);
}

// Flushes `fd` to disk behind the fault seam for `op` (Op::Sync for a file,
// Op::SyncDir for a directory whose entries changed, so that a name
// published, renamed or removed in it survives a power loss). A file system
// that cannot sync (EINVAL, EROFS) is no failure of the data written.
Status syncFd(int fd, fault::Op op) noexcept;

}  // namespace quorlina::platform::sys
