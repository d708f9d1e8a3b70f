// The post exports: create, list, read, update and delete blog posts.
#include <optional>
#include <string>
#include <vector>

#include "core/paths.hpp"
#include "core/posts.hpp"
#include "ffi/frame.hpp"
#include "ffi/options.hpp"
#include "ffi/post_json.hpp"
#include "ffi/tags_csv.hpp"
#include "quorlina/quorlina.h"

namespace quorlina::ffi {
namespace {

// A comma-separated tag list that may be NULL; NULL gives no tags.
std::vector<std::string> optionalTags(const char *s) {
    return s ? parseTagsCsv(s) : std::vector<std::string>{};
}

}  // namespace
}  // namespace quorlina::ffi

using namespace quorlina;
using namespace quorlina::ffi;

extern "C" {

QUORLINA_API int quorlina_post_create(const char *root, const char *slug, const char *title,
                                      const char *description, const char *tags, const char *date,
                                      char **out_path) {
    return runExportWithText(out_path, [&]() -> Result<std::string> {
        QL_TRY(requireArgs(root, slug, title, description));
        return createPost(blogDir(root), slug, title, description, optionalTags(tags), optionalArg(date));
    });
}

QUORLINA_API int quorlina_post_list(const char *root, char **out) {
    return runExportWithText(out, [&]() -> Result<CHeapText> {
        QL_TRY(requireArgs(root));
        // The records go straight into the text handed out, one post at a
        // time; the posts' bodies are never read.
        JsonListWriter list;
        QL_TRY(visitPosts(blogDir(root), [&](const Post &post) { appendPostSummaryJson(list.nextRecord(), post); }));
        return std::move(list).finish();
    });
}

QUORLINA_API int quorlina_post_read(const char *root, const char *slug, char **out) {
    return runExportWithText(out, [&]() -> Result<std::string> {
        QL_TRY(requireArgs(root, slug));
        // Every post's front matter decides which post answers (and one
        // broken file fails the call); only that post is read whole.
        auto post = readPost(blogDir(root), slug);
        if (!post) return std::move(post).failure();
        return buildPostJson(*post);
    });
}

QUORLINA_API int quorlina_post_list_ext(const char *root, const quorlina_record_options *options, char **out) {
    return runExportWithText(out, [&]() -> Result<CHeapText> {
        QL_TRY(requireArgs(root));
        auto o = optionsOrDefaults(options, quorlina_record_options QUORLINA_RECORD_OPTIONS_INIT);
        if (!o) return std::move(o).failure();
        const bool bodies = o->content != 0;
        // As the list: the records go straight into the text handed out, and
        // without bodies only each file's front matter is read.
        JsonListWriter list;
        QL_TRY(visitPostRecords(blogDir(root), bodies, [&](const Post &post, std::string_view body) {
            appendPostRecordJson(list.nextRecord(), post, bodies ? &body : nullptr);
        }));
        return std::move(list).finish();
    });
}

QUORLINA_API int quorlina_post_read_ext(const char *root, const char *slug, const quorlina_record_options *options,
                                        char **out) {
    return runExportWithText(out, [&]() -> Result<CHeapText> {
        QL_TRY(requireArgs(root, slug));
        auto o = optionsOrDefaults(options, quorlina_record_options QUORLINA_RECORD_OPTIONS_INIT);
        if (!o) return std::move(o).failure();
        auto post = readPost(blogDir(root), slug);
        if (!post) return std::move(post).failure();
        const std::string_view body = post->body();
        CHeapText text;
        appendPostRecordJson(text, *post, o->content != 0 ? &body : nullptr);
        return text;
    });
}

QUORLINA_API int quorlina_post_update(const char *root, const char *slug, const char *title,
                                      const char *description, const char *tags, const char *add_tags,
                                      const char *remove_tags) {
    return runExport([&]() -> Status {
        QL_TRY(requireArgs(root, slug));
        PostUpdate update;
        update.title = optionalArg(title);
        update.description = optionalArg(description);
        if (tags) update.tags = parseTagsCsv(tags);
        update.addTags = optionalTags(add_tags);
        update.removeTags = optionalTags(remove_tags);
        return updatePost(blogDir(root), slug, update);
    });
}

QUORLINA_API int quorlina_post_delete(const char *root, const char *slug) {
    return runExport([&]() -> Status {
        QL_TRY(requireArgs(root, slug));
        return deletePost(blogDir(root), slug);
    });
}

}  // extern "C"
