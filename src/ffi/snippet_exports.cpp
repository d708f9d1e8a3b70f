// The snippet exports of the C interface.
#include "core/paths.hpp"
#include "core/snippets.hpp"
#include "ffi/frame.hpp"
#include "ffi/snippet_json.hpp"
#include "quorlina/quorlina.h"

using namespace quorlina;
using ffi::optionalArg;

extern "C" {

QUORLINA_API int quorlina_snippet_create(const char *root, int64_t timestamp, const char *description,
                                         const char *code, const char *filename, char **out) {
    return ffi::runExportWithText(out, [&]() -> Result<std::string> {
        QL_TRY(ffi::requireArgs(root, description, code, filename));
        return createSnippet(snippetsDir(root), timestamp, description, code, filename);
    });
}

QUORLINA_API int quorlina_snippet_list(const char *root, char **out) {
    return ffi::runExportWithText(out, [&]() -> Result<ffi::CHeapText> {
        QL_TRY(ffi::requireArgs(root));
        // The records go straight into the text handed out, one file at a
        // time: the list is never held twice.
        ffi::JsonListWriter list;
        QL_TRY(visitSnippets(
            snippetsDir(root),
            [&](const Snippet &s, std::string_view code) { ffi::appendSnippetJson(list.nextRecord(), s, code); },
            [&](std::size_t count) { list.expect(count); }));
        return std::move(list).finish();
    });
}

QUORLINA_API int quorlina_snippet_read(const char *root, int64_t timestamp, char **out) {
    return ffi::runExportWithText(out, [&]() -> Result<std::string> {
        QL_TRY(ffi::requireArgs(root));
        auto snippet = readSnippet(snippetsDir(root), timestamp);
        if (!snippet) return std::move(snippet).failure();
        return ffi::buildSnippetJson(*snippet);
    });
}

QUORLINA_API int quorlina_snippet_update(const char *root, int64_t timestamp, const char *description,
                                         const char *code, const char *filename) {
    return ffi::runExport([&]() -> Status {
        QL_TRY(ffi::requireArgs(root));
        return updateSnippet(snippetsDir(root), timestamp, optionalArg(description), optionalArg(code), optionalArg(filename));
    });
}

QUORLINA_API int quorlina_snippet_delete(const char *root, int64_t timestamp) {
    return ffi::runExport([&]() -> Status {
        QL_TRY(ffi::requireArgs(root));
        return deleteSnippet(snippetsDir(root), timestamp);
    });
}

}  // extern "C"
