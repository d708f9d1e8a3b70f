// Process-wide services: the fault seam's hook, errno to Error, the clock
// and the warning line on standard error.
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

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

namespace {
// strerror_r comes in two forms: the XSI one returns 0 and fills the
// buffer, the GNU one returns the text.
[[maybe_unused]] const char *reasonText(int result, const char *buf) noexcept {
    return result == 0 ? buf : "Unknown error";
}
[[maybe_unused]] const char *reasonText(const char *result, const char *) noexcept { return result; }
}  // namespace

std::string systemReason(int err) {
    char buf[256] = {};
    return reasonText(::strerror_r(err, buf, sizeof buf), buf);
}

std::int64_t nowSeconds() noexcept {
    timespec ts{};
    if (!sysCall(Op::Clock, [&] { return ::clock_gettime(CLOCK_REALTIME, &ts); }).ok()) return 0;
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
                auto n = sysWrite(STDERR_FILENO, buf + off, used - off);
                if (!n.ok() || n.ret <= 0) break;
                off += static_cast<std::size_t>(n.ret);
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

void fault::setHook(Hook hook) noexcept { faultHook.store(hook, std::memory_order_relaxed); }

int fault::injectedError(Op op) noexcept { return injected(op); }

}  // namespace quorlina::platform
