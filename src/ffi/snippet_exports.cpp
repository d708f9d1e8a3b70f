#include "ffi/frame.hpp"
#include "quorlina/quorlina.h"

extern "C" {
QUORLINA_API int quorlina_snippet_create(const char *, int64_t, const char *, const char *, const char *, char **out) { if (out) *out = nullptr; return 100; }
QUORLINA_API int quorlina_snippet_list(const char *, char **out) { if (out) *out = nullptr; return 100; }
QUORLINA_API int quorlina_snippet_read(const char *, int64_t, char **out) { if (out) *out = nullptr; return 100; }
QUORLINA_API int quorlina_snippet_update(const char *, int64_t, const char *, const char *, const char *) { return 100; }
QUORLINA_API int quorlina_snippet_delete(const char *, int64_t) { return 100; }
}
