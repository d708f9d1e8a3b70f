// Post exports: not built yet; every call reports an internal failure.
#include "ffi/frame.hpp"
#include "quorlina/quorlina.h"

extern "C" {

QUORLINA_API int quorlina_post_create(const char *, const char *, const char *, const char *,
                                      const char *, const char *, char **out_path) {
    if (out_path) *out_path = nullptr;
    return quorlina::ffi::kInternal;
}

QUORLINA_API int quorlina_post_list(const char *, char **out) {
    if (out) *out = nullptr;
    return quorlina::ffi::kInternal;
}

QUORLINA_API int quorlina_post_read(const char *, const char *, char **out) {
    if (out) *out = nullptr;
    return quorlina::ffi::kInternal;
}

QUORLINA_API int quorlina_post_update(const char *, const char *, const char *, const char *,
                                      const char *, const char *, const char *) {
    return quorlina::ffi::kInternal;
}

QUORLINA_API int quorlina_post_delete(const char *, const char *) { return quorlina::ffi::kInternal; }

}  // extern "C"
