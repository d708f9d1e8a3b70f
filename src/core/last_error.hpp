// The text that explains the last failure of a library call on this
// thread. Failures caused by a file name the file and the reason; others
// get the text of their result code from the export frame.
#pragma once

#include <string_view>

#include "core/error.hpp"

namespace quorlina::last_error {

// Forgets the last text (at the start of every call).
void clear() noexcept;

// Records that the file at `path` failed with `e`: "path: reason". Errors
// that only mean the file changed since a scan listed it are not recorded,
// since the scan passes over such files.
void setForFile(std::string_view path, Error e) noexcept;

// Records a static text for `e`.
void setStatic(const char *text, Error e) noexcept;

// Whether the recorded text explains a failure with `e`.
bool explains(Error e) noexcept;

// The recorded text ("" when there is none); valid until the next change.
const char *text() noexcept;

}  // namespace quorlina::last_error
