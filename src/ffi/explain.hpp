// How a failed call explains itself to the host: this thread's last-error
// text, and the warning line on standard error for a content file whose
// name is not a timestamp.
#pragma once

#include <string>

#include "core/result.hpp"

namespace quorlina::ffi {

// Forgets this thread's last text (at the start of every call).
void clearLastError() noexcept;

// Explains `f`, the failure that gives the call its result code `code`:
// the last-error text is "file: reason" when the failure concerns a file
// (the system's reason when the system failed the call, else the library's
// finding), else the code's static text; and a file name that is not a timestamp
// gets its warning line.
void explain(const Failure &f, int code) noexcept;

// The reason the last-error text gives after the file's path for `f`, a
// failure that concerns a file: the system's reason when the system failed
// the call, else the library's finding. Throws std::bad_alloc.
std::string failureReason(const Failure &f);

// Sets the last-error text of `code` alone (a failure that carries nothing
// more, such as an exception that reached the frame).
void explainCode(int code) noexcept;

// This thread's text of its last failure ("" after a success); valid until
// its next call.
const char *lastErrorText() noexcept;

}  // namespace quorlina::ffi
