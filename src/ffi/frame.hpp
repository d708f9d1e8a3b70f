// The frame every export runs in: errors become result codes, exceptions
// never cross the C boundary, and returned text goes to the C heap.
#pragma once

#include <new>
#include <string>
#include <string_view>

#include "core/last_error.hpp"
#include "core/result.hpp"
#include "ffi/c_heap_text.hpp"

namespace quorlina::ffi {

// Result codes of the C interface (mirrors include/quorlina/quorlina.h).
inline constexpr int kOk = 0;
inline constexpr int kOutOfMemory = 9;
inline constexpr int kInternal = 100;

// The only translation from internal errors to result codes.
int mapError(Error e) noexcept;

// The static English text of a result code ("unknown error" for codes the
// library does not return).
const char *resultText(int code) noexcept;

// The code of a failure, with this thread's last-error text set to explain
// it: the text recorded for the file that caused it, else the code's text.
inline int failWith(Error e) noexcept {
    int code = mapError(e);
    if (!last_error::explains(e)) last_error::setStatic(resultText(code), e);
    return code;
}

// The code of an exception that reached the frame, with its text.
inline int failWithException(bool outOfMemory) noexcept {
    Error e = outOfMemory ? Error::OutOfMemory : Error::Unexpected;
    last_error::setStatic(resultText(outOfMemory ? kOutOfMemory : kInternal), e);
    return outOfMemory ? kOutOfMemory : kInternal;
}

// Runs an export body that returns a Status. A failure becomes its mapped
// code; std::bad_alloc becomes 9 and any other exception 100.
template <class Body>
int runExport(Body &&body) noexcept {
    last_error::clear();
    try {
        Status st = body();
        return st.ok() ? kOk : failWith(st.error());
    } catch (const std::bad_alloc &) {
        return failWithException(true);
    } catch (...) {
        return failWithException(false);
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
    last_error::clear();
    if (out == nullptr) return failWith(Error::NullArgument);
    *out = nullptr;
    try {
        Result<std::string> text = body();
        if (!text.ok()) return failWith(text.error());
        char *copy = copyText(*text);
        if (copy == nullptr) return failWithException(true);
        *out = copy;
        return kOk;
    } catch (const std::bad_alloc &) {
        return failWithException(true);
    } catch (...) {
        return failWithException(false);
    }
}

// Same as runExportWithText for a body that builds its text on the C heap
// (Result<CHeapText>): the block itself becomes *out, with no copy.
template <class Body>
int runExportWithCHeapText(char **out, Body &&body) noexcept {
    last_error::clear();
    if (out == nullptr) return failWith(Error::NullArgument);
    *out = nullptr;
    try {
        Result<CHeapText> text = body();
        if (!text.ok()) return failWith(text.error());
        char *block = text->release();
        if (block == nullptr) return failWithException(true);
        *out = block;
        return kOk;
    } catch (const std::bad_alloc &) {
        return failWithException(true);
    } catch (...) {
        return failWithException(false);
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
