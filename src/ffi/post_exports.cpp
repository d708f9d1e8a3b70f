// The post exports: create, list, read, update and delete blog posts, and
// rename a tag across them.
#include <optional>
#include <string>
#include <vector>

#include "core/paths.hpp"
#include "core/posts.hpp"
#include "core/text.hpp"
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

// The fields both update exports share.
PostUpdate frontmatterUpdate(const char *title, const char *description, const char *tags, const char *add_tags,
                             const char *remove_tags) {
    PostUpdate update;
    update.title = optionalArg(title);
    update.description = optionalArg(description);
    if (tags) update.tags = parseTagsCsv(tags);
    update.addTags = optionalTags(add_tags);
    update.removeTags = optionalTags(remove_tags);
    return update;
}

// One tag as a post update takes it: without the blanks around it, and
// refused (InvalidFrontmatterValue) when that leaves nothing. A new tag
// may hold no comma, which a tag list would split at; an old one may, to
// reach a tag a file holds.
Result<std::string_view> oneTag(const char *given, bool isNew) {
    std::string_view tag = text::trim(std::string_view(given), text::isW4);
    if (tag.empty() || (isNew && tag.find(',') != std::string_view::npos)) return Error::InvalidFrontmatterValue;
    return tag;
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
        return updatePost(blogDir(root), slug, frontmatterUpdate(title, description, tags, add_tags, remove_tags));
    });
}

QUORLINA_API int quorlina_post_create_ext(const char *root, const char *slug, const char *title,
                                          const char *description, const char *tags, const char *date,
                                          const quorlina_post_create_options *options, char **out_path) {
    return runExportWithText(out_path, [&]() -> Result<std::string> {
        QL_TRY(requireArgs(root, slug, title, description));
        static constexpr quorlina_post_create_options kDefaults = QUORLINA_POST_CREATE_OPTIONS_INIT;
        auto o = optionsOrDefaults(options, kDefaults);
        if (!o) return std::move(o).failure();
        NewPostExtras extras;
        extras.body = arg(o->body);
        extras.draft = o->draft != 0;
        extras.dateKey = o->date_key != 0;
        return createPost(blogDir(root), slug, title, description, optionalTags(tags), optionalArg(date), extras);
    });
}

QUORLINA_API int quorlina_post_update_ext(const char *root, const char *slug,
                                          const quorlina_post_update_options *options) {
    return runExport([&]() -> Status {
        QL_TRY(requireArgs(root, slug));
        static constexpr quorlina_post_update_options kDefaults = QUORLINA_POST_UPDATE_OPTIONS_INIT;
        auto o = optionsOrDefaults(options, kDefaults);
        if (!o) return std::move(o).failure();
        // -1 keeps the flag; any value but 1, 0 and -1 is not one.
        if (o->draft < -1 || o->draft > 1) return Error::InvalidOptions;
        PostUpdate update = frontmatterUpdate(o->title, o->description, o->tags, o->add_tags, o->remove_tags);
        update.body = optionalArg(o->body);
        if (o->draft != -1) update.draft = o->draft == 1;
        update.text = optionalArg(o->text);
        return updatePost(blogDir(root), slug, update);
    });
}

QUORLINA_API int quorlina_post_rename_tag(const char *root, const char *old_tag, const char *new_tag,
                                          const quorlina_tag_options *options, size_t *out_changed) {
    // Counted in a local, so the count reaches the caller on every path.
    std::size_t changed = 0;
    int code = runExport([&]() -> Status {
        if (out_changed) *out_changed = 0;
        QL_TRY(requireArgs(root, old_tag));
        static constexpr quorlina_tag_options kDefaults = QUORLINA_TAG_OPTIONS_INIT;
        auto o = optionsOrDefaults(options, kDefaults);
        if (!o) return std::move(o).failure();
        auto oldTag = oneTag(old_tag, false);
        if (!oldTag) return std::move(oldTag).failure();
        std::optional<std::string_view> newTag;
        if (new_tag) {
            auto given = oneTag(new_tag, true);
            if (!given) return std::move(given).failure();
            newTag = *given;
        }
        return renamePostTag(blogDir(root), *oldTag, newTag, changed);
    });
    if (out_changed) *out_changed = changed;
    return code;
}

QUORLINA_API int quorlina_post_delete(const char *root, const char *slug) {
    return runExport([&]() -> Status {
        QL_TRY(requireArgs(root, slug));
        return deletePost(blogDir(root), slug);
    });
}

}  // extern "C"
