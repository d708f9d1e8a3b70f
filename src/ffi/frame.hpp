// The frame every export runs in: errors become result codes, exceptions
// never cross the C boundary, and returned text goes to the C heap.
#pragma once

#include <new>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "ffi/c_heap_text.hpp"

namespace quorlina::ffi {

// Result codes of the C interface (mirrors include/quorlina/quorlina.h).
inline constexpr int kOk = 0;
inline constexpr int kOutOfMemory = 9;
inline constexpr int kInternal = 100;

// The only translation from internal errors to result codes.
int mapError(Error e) noexcept;

// Runs an export body that returns a Status. A failure becomes its mapped
// code; std::bad_alloc becomes 9 and any other exception 100.
template <class Body>
int runExport(Body &&body) noexcept {
    try {
        Status st = body();
        return st.ok() ? kOk : mapError(st.error());
    } catch (const std::bad_alloc &) {
        return kOutOfMemory;
    } catch (...) {
        return kInternal;
    }
}

// Copies text to a new NUL-terminated C-heap block; nullptr when the heap
// is exhausted.
char *copyText(std::string_view text) noexcept;

// Same as runExport for exports with an out-parameter: *out is set to NULL
// first (a NULL `out` itself returns 100), and the body's text is copied to
// a new C-heap string stored in *out only when everything succeeded.
template <class Body>
int runExportWithText(char **out, Body &&body) noexcept {
    if (out == nullptr) return kInternal;
    *out = nullptr;
    try {
        Result<std::string> text = body();
        if (!text.ok()) return mapError(text.error());
        char *copy = copyText(*text);
        if (copy == nullptr) return kOutOfMemory;
        *out = copy;
        return kOk;
    } catch (const std::bad_alloc &) {
        return kOutOfMemory;
    } catch (...) {
        return kInternal;
    }
}

// Same as runExportWithText for a body that builds its text on the C heap
// (Result<CHeapText>): the block itself becomes *out, with no copy.
template <class Body>
int runExportWithCHeapText(char **out, Body &&body) noexcept {
    if (out == nullptr) return kInternal;
    *out = nullptr;
    try {
        Result<CHeapText> text = body();
        if (!text.ok()) return mapError(text.error());
        char *block = text->release();
        if (block == nullptr) return kOutOfMemory;
        *out = block;
        return kOk;
    } catch (const std::bad_alloc &) {
        return kOutOfMemory;
    } catch (...) {
        return kInternal;
    }
}

// NullArgument when any of the required pointers is NULL.
template <class... Ptrs>
Status requireArgs(const Ptrs *...ptrs) noexcept {
    return ((ptrs != nullptr) && ...) ? Status{} : Status{Error::NullArgument};
}

// A NUL-terminated argument as a byte string; NULL gives an empty view.
inline std::string_view arg(const char *s) noexcept { return s ? std::string_view(s) : std::string_view(); }

}  // namespace quorlina::ffi
