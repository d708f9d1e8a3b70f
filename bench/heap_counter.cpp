#include "heap_counter.hpp"

#include <atomic>
#include <cerrno>
#include <algorithm>
#include <cstddef>

#ifdef QUORLINA_BENCH_HEAP_HOOKS
#include <malloc.h>

// glibc's own entry points; the definitions below replace the public names
// for the whole process (the library and libstdc++'s operator new included).
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void *__libc_memalign(std::size_t, std::size_t);
void __libc_free(void *);
}
#endif

namespace qbench::heap {
namespace {

std::atomic<bool> g_on{false};
std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};
std::atomic<std::int64_t> g_moves{0};
std::atomic<std::int64_t> g_movedBytes{0};

inline void raisePeak(std::int64_t v) noexcept {
    std::int64_t p = g_peak.load(std::memory_order_relaxed);
    while (v > p && !g_peak.compare_exchange_weak(p, v, std::memory_order_relaxed)) {
    }
}

[[maybe_unused]] inline void added(std::int64_t n) noexcept {
    raisePeak(g_live.fetch_add(n, std::memory_order_relaxed) + n);
}

[[maybe_unused]] inline void removed(std::int64_t n) noexcept { g_live.fetch_sub(n, std::memory_order_relaxed); }

}  // namespace

#ifdef QUORLINA_BENCH_HEAP_HOOKS
bool available() noexcept { return true; }
#else
bool available() noexcept { return false; }
#endif

void start() noexcept {
    g_live.store(0, std::memory_order_relaxed);
    g_peak.store(0, std::memory_order_relaxed);
    g_moves.store(0, std::memory_order_relaxed);
    g_movedBytes.store(0, std::memory_order_relaxed);
    g_on.store(true, std::memory_order_release);
}

std::int64_t stop() noexcept {
    g_on.store(false, std::memory_order_release);
    return g_peak.load(std::memory_order_relaxed);
}

std::int64_t movedReallocs() noexcept { return g_moves.load(std::memory_order_relaxed); }
std::int64_t movedBytes() noexcept { return g_movedBytes.load(std::memory_order_relaxed); }

#ifdef QUORLINA_BENCH_HEAP_HOOKS
namespace hooks {
inline bool on() noexcept { return g_on.load(std::memory_order_relaxed); }
inline std::int64_t usable(void *p) noexcept { return p ? static_cast<std::int64_t>(::malloc_usable_size(p)) : 0; }
inline void moved(std::int64_t bytes) noexcept {
    g_moves.fetch_add(1, std::memory_order_relaxed);
    g_movedBytes.fetch_add(bytes, std::memory_order_relaxed);
}
}  // namespace hooks
#endif

}  // namespace qbench::heap

#ifdef QUORLINA_BENCH_HEAP_HOOKS
using namespace qbench::heap;

extern "C" {

void *malloc(std::size_t n) {
    void *p = __libc_malloc(n);
    if (p && hooks::on()) added(hooks::usable(p));
    return p;
}

void *calloc(std::size_t n, std::size_t size) {
    void *p = __libc_calloc(n, size);
    if (p && hooks::on()) added(hooks::usable(p));
    return p;
}

void *realloc(void *old, std::size_t n) {
    if (!hooks::on()) return __libc_realloc(old, n);
    std::int64_t before = hooks::usable(old);
    void *p = __libc_realloc(old, n);
    if (n != 0 && p == nullptr) return p;  // failed: the old block stays
    std::int64_t after = hooks::usable(p);
    if (old != nullptr && p != old) {
        // Moved: old and new block were both live for a moment.
        added(after);
        removed(before);
        hooks::moved(std::min(before, after));
    } else {
        if (after >= before) added(after - before);
        else removed(before - after);
    }
    return p;
}

void free(void *p) {
    if (p && hooks::on()) removed(hooks::usable(p));
    __libc_free(p);
}

void *memalign(std::size_t align, std::size_t n) {
    void *p = __libc_memalign(align, n);
    if (p && hooks::on()) added(hooks::usable(p));
    return p;
}

void *aligned_alloc(std::size_t align, std::size_t n) { return memalign(align, n); }

int posix_memalign(void **out, std::size_t align, std::size_t n) {
    if (align < sizeof(void *) || (align & (align - 1)) != 0) return EINVAL;
    void *p = memalign(align, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

}  // extern "C"
#endif
