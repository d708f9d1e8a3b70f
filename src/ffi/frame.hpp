// The frame every export runs in: errors become result codes, exceptions
// never cross the C boundary, and returned text goes to the C heap.
#pragma once

#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "ffi/c_heap_text.hpp"
#include "ffi/explain.hpp"
#include "quorlina/quorlina.h"

namespace quorlina::ffi {

inline constexpr int kOk = QUORLINA_OK;
inline constexpr int kOutOfMemory = QUORLINA_ENOMEM;
inline constexpr int kInternal = QUORLINA_EINTERNAL;

// The only translation from internal errors to result codes.
int mapError(Error e) noexcept;

// The static English text of a result code ("unknown error" for codes the
// library does not return).
const char *resultText(int code) noexcept;

// The code of a failure, explained: this thread's last-error text names the
// file it concerns, else gives the code's text, and a file name that is not
// a timestamp gets the warning line. The one place where either is written.
inline int failWith(const Failure &f) noexcept {
    int code = mapError(f.error);
    explain(f, code);
    return code;
}

// The code of an exception that reached the frame, with its text.
inline int failWithException(bool outOfMemory) noexcept {
    int code = outOfMemory ? kOutOfMemory : kInternal;
    explainCode(code);
    return code;
}

// Runs `fn` (which returns a result code) with this thread's last-error
// text cleared first. No exception leaves: std::bad_alloc becomes 9 and any
// other exception 100.
template <class Fn>
int guarded(Fn &&fn) noexcept {
    clearLastError();
    try {
        return fn();
    } catch (const std::bad_alloc &) {
        return failWithException(true);
    } catch (...) {
        return failWithException(false);
    }
}

// Runs an export body that returns a Status: a failure becomes its mapped
// code.
template <class Body>
int runExport(Body &&body) noexcept {
    return guarded([&] {
        Status st = body();
        return st.ok() ? kOk : failWith(st.failure());
    });
}

// Hands a body's text to the caller through `out`: a std::string is copied
// to a new C-heap block, a CHeapText block is handed over as it is.
inline char *toCaller(const std::string &text) noexcept { return copyText(text); }
inline char *toCaller(CHeapText &text) noexcept { return text.release(); }

// runExport for exports with an out-parameter: *out is set to NULL first (a
// NULL `out` itself returns 100), and the body's text (Result<std::string>
// or Result<CHeapText>) reaches *out only when everything succeeded.
template <class Body>
int runExportWithText(char **out, Body &&body) noexcept {
    return guarded([&] {
        if (out == nullptr) return failWith(Error::NullArgument);
        *out = nullptr;
        auto text = body();
        if (!text.ok()) return failWith(text.failure());
        char *block = toCaller(*text);
        if (block == nullptr) return failWithException(true);
        *out = block;
        return kOk;
    });
}

// NullArgument when any of the required pointers is NULL.
template <class... Ptrs>
Status requireArgs(const Ptrs *...ptrs) noexcept {
    return ((ptrs != nullptr) && ...) ? Status{} : Status{Error::NullArgument};
}

// A NUL-terminated argument as a byte string; NULL gives an empty view.
inline std::string_view arg(const char *s) noexcept { return s ? std::string_view(s) : std::string_view(); }

// An optional argument: NULL means the value is not given.
inline std::optional<std::string_view> optionalArg(const char *s) noexcept {
    return s ? std::optional<std::string_view>(s) : std::nullopt;
}

}  // namespace quorlina::ffi
