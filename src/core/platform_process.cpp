// Process-wide services: the fault seam's hook, errno to Error, the clock,
// the warning line on standard error and the C heap.
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/platform.hpp"
#include "core/platform_sys.hpp"

namespace quorlina::platform {

using namespace sys;
using fault::Op;

std::atomic<fault::Hook> sys::faultHook{nullptr};

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
