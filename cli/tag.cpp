// The tag command: the tags of the posts with their counts, and renaming
// or removing one tag across every post.
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "command_tree.hpp"
#include "commands.hpp"
#include "family_verbs.hpp"
#include "json_reader.hpp"
#include "json_writer.hpp"
#include "option_values.hpp"
#include "quorlina/quorlina.h"
#include "render.hpp"
#include "strings.hpp"
#include "tags.hpp"

namespace qcli {

std::optional<std::vector<TagCount>> countTags(std::string_view postList) {
    std::map<std::string, std::size_t> counts;
    static const std::vector<std::string_view> kTags = {"tags"};
    const bool read = forEachArrayElement(
        postList,
        [&](JsonValue &&post, std::string_view) {
            const JsonValue *tags = post.find("tags");
            if (tags == nullptr || !tags->isArray()) return true;
            // A post that gives a tag twice counts once for it.
            std::set<std::string> seen;
            for (const JsonValue &t : tags->items) {
                if (t.isString() && seen.insert(t.text).second) ++counts[t.text];
            }
            return true;
        },
        &kTags);
    if (!read) return std::nullopt;
    std::vector<TagCount> out;
    out.reserve(counts.size());
    for (auto &[tag, n] : counts) out.push_back({tag, n});
    // Most used first; a tie goes by name (the map's order, kept by the
    // stable sort).
    std::stable_sort(out.begin(), out.end(), [](const TagCount &a, const TagCount &b) { return a.posts > b.posts; });
    return out;
}

std::vector<std::string> tagNames(std::string_view postList) {
    std::vector<std::string> names;
    if (std::optional<std::vector<TagCount>> counts = countTags(postList)) {
        for (const TagCount &c : *counts) names.push_back(c.tag);
    }
    return names;
}

namespace {

ToolError unreadableList() { return ToolError{QUORLINA_EINTERNAL, "the library returned text this tool cannot read"}; }

const std::vector<Column> kTagColumns = {{"POSTS", "posts"}, {"TAG", "tag"}};

struct NoOptions {};

// tag list: [{"tag":..,"posts":N},...] as JSON, else a table.
std::string runList(const NoOptions &, const Tool &tool) {
    const std::string root = tool.siteRoot();
    const LibText list =
        callForText({Family::Post, Target::Kind::All, ""}, [&](char **out) { return quorlina_post_list(root.c_str(), out); });
    const std::optional<std::vector<TagCount>> counts = countTags(list.view());
    if (!counts) throw unreadableList();
    std::string json = "[";
    for (std::size_t i = 0; i < counts->size(); ++i) {
        const TagCount &c = (*counts)[i];
        json += cat({i ? "," : "", "{\"tag\":", jsonString(c.tag), ",\"posts\":", std::to_string(c.posts), "}"});
    }
    json += "]";
    if (tool.wantJson()) return cat({json, "\n"});
    const std::optional<JsonValue> value = parseJson(json);
    std::optional<std::string> table;
    if (value) table = renderTable(*value, kTagColumns, tool.terminalWidth);
    if (!table) throw unreadableList();
    return std::move(*table);
}

struct RenameOptions {
    std::string oldTag, newTag;
};

std::string changedPosts(const Tool &tool, std::size_t changed) {
    if (tool.wantJson()) return cat({"{\"changed\":", std::to_string(changed), "}\n"});
    return cat({std::to_string(changed), changed == 1 ? " post changed\n" : " posts changed\n"});
}

// tag rename and tag remove: one call over every post. A failure names the
// tag; when it comes while writing, the posts changed until then are said
// too.
std::string renameTag(const std::string &oldTag, const std::string *newTag, const Tool &tool) {
    const std::string root = tool.siteRoot();
    std::size_t changed = 0;
    const int code =
        quorlina_post_rename_tag(root.c_str(), oldTag.c_str(), newTag ? newTag->c_str() : nullptr, nullptr, &changed);
    if (code != QUORLINA_OK) {
        std::string line = cat({"tag '", oneLine(oldTag), "': ", libraryReason(code)});
        if (changed > 0) line += cat({" (", std::to_string(changed), changed == 1 ? " post was" : " posts were", " changed before)"});
        throw ToolError{code, line};
    }
    return changedPosts(tool, changed);
}

}  // namespace

void setupTag(CLI::App &app, Tool &tool) {
    CLI::App *command = app.add_subcommand("tag", "The tags of the posts: counts, renaming and removing");
    command->require_subcommand(1);
    bindCommand<NoOptions>(*command->add_subcommand("list", "List the tags with their number of posts, most used first"),
                           tool, runList);

    CLI::App *rename = command->add_subcommand("rename", "Rename a tag in every post that has it");
    RenameOptions &r = bindCommand<RenameOptions>(
        *rename, tool, [](const RenameOptions &o, const Tool &t) { return renameTag(o.oldTag, &o.newTag, t); });
    offerItems(*rename, *addRequired(*rename, r.oldTag, "OLD", "the tag to rename"), "tag");
    addRequired(*rename, r.newTag, "NEW", "its new name");

    CLI::App *remove = command->add_subcommand("remove", "Remove a tag from every post that has it");
    std::string &tag = bindCommand<std::string>(
        *remove, tool, [](const std::string &old, const Tool &t) { return renameTag(old, nullptr, t); });
    offerItems(*remove, *addRequired(*remove, tag, "TAG", "the tag to remove"), "tag");
}

}  // namespace qcli
