// Note exports: not built yet; every call reports an internal failure.
#include "ffi/frame.hpp"
#include "quorlina/quorlina.h"

extern "C" {

QUORLINA_API int quorlina_note_create(const char *, int64_t, const char *, const char *, char **out) {
    if (out) *out = nullptr;
    return quorlina::ffi::kInternal;
}

QUORLINA_API int quorlina_note_list(const char *, char **out) {
    if (out) *out = nullptr;
    return quorlina::ffi::kInternal;
}

QUORLINA_API int quorlina_note_read(const char *, const char *, char **out) {
    if (out) *out = nullptr;
    return quorlina::ffi::kInternal;
}

QUORLINA_API int quorlina_note_update(const char *, const char *, const char *, int, const char *) {
    return quorlina::ffi::kInternal;
}

QUORLINA_API int quorlina_note_delete(const char *, const char *) { return quorlina::ffi::kInternal; }

}  // extern "C"
