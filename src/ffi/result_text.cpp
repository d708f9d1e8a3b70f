// The explanations of the C interface: a static text per result code, this
// thread's text of its last failure, and the library's version.
#include "ffi/explain.hpp"
#include "ffi/frame.hpp"
#include "quorlina/quorlina.h"

namespace quorlina::ffi {

const char *resultText(int code) noexcept {
    switch (code) {
        case QUORLINA_OK: return "success";
        case QUORLINA_EINVALID_TIMESTAMP: return "invalid timestamp";
        case QUORLINA_EDUPLICATE: return "already exists";
        case QUORLINA_ENOT_FOUND: return "not found";
        case QUORLINA_EINVALID_EXTENSION:
            return "invalid file name extension (the text after the last '.' must be letters, digits, '_' or '-')";
        case QUORLINA_EINVALID_DESCRIPTION:
            return "invalid description (it must be non-empty UTF-8, without '\"', \"+++\" or control characters)";
        case QUORLINA_EINVALID_FILENAME:
            return "invalid file name (it must be non-empty UTF-8, without '\"', '/', '\\', \"+++\" or control characters)";
        case QUORLINA_EINVALID_CONTENT:
            return "invalid content (a missing title or description, a control character, \"+++\" or bytes that are not "
                   "UTF-8 in a field, "
                   "or malformed front matter)";
        case QUORLINA_EFILESYSTEM:
            return "file system error (a file or directory is missing, refused, or of the wrong kind)";
        case QUORLINA_ENOMEM: return "out of memory";
        case QUORLINA_EINVALID_SLUG: return "invalid slug (use only letters, digits, '_' and '-')";
        case QUORLINA_EINVALID_DATE: return "invalid date (use an existing date written as YYYY-MM-DD)";
        case QUORLINA_ENO_UPDATES: return "nothing to update";
        case QUORLINA_EINTERNAL:
            return "internal error (path too long, file too big, I/O error, or a similar failure)";
        default: return "unknown error";
    }
}

}  // namespace quorlina::ffi

extern "C" {

QUORLINA_API const char *quorlina_strerror(int code) { return quorlina::ffi::resultText(code); }

QUORLINA_API const char *quorlina_last_error(void) { return quorlina::ffi::lastErrorText(); }

QUORLINA_API const char *quorlina_version(void) { return QUORLINA_VERSION; }

}  // extern "C"
