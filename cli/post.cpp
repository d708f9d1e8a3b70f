// The post command. Its list, read and delete verbs come from the family
// table; create and update are its own.
#include <string>

#include <CLI/CLI.hpp>

#include "commands.hpp"
#include "family_verbs.hpp"
#include "option_values.hpp"
#include "quorlina/quorlina.h"

namespace qcli {

namespace {

struct CreateOptions {
    std::string slug;
    TextOption title, description, tags, date;
};

std::string runCreate(const CreateOptions &o, const Tool &tool) {
    const std::string root = tool.siteRoot();
    const LibText path = callForText({Family::Post, Target::Kind::New, o.slug}, [&](char **out) {
        return quorlina_post_create(root.c_str(), o.slug.c_str(), o.title.value.c_str(), o.description.value.c_str(),
                                    o.tags.orNull(), o.date.orNull(), out);
    });
    return createdOutput(tool, familyInfo(Family::Post), path.str(), o.slug);
}

void addCreate(CLI::App &verb, const FamilyInfo &, Tool &tool) {
    CreateOptions &o = bindCommand<CreateOptions>(verb, tool, runCreate);
    addRequired(verb, o.slug, "SLUG", "slug: letters, digits, '_' and '-'");
    addText(verb, o.title, "--title", "title", true);
    addText(verb, o.description, "--description,-d", "description", true);
    addText(verb, o.tags, "--tags", "comma-separated tags");
    addText(verb, o.date, "--date", "YYYY-MM-DD (default: today, UTC)");
}

struct UpdateOptions : ItemOptions {
    TextOption title, description, tags, addTags, removeTags;
};

std::string runUpdate(const UpdateOptions &o, const Tool &tool) {
    const std::string root = tool.siteRoot();
    return changedOutput(tool, {Family::Post, Target::Kind::Key, o.key, root},
                         quorlina_post_update(root.c_str(), o.key.c_str(), o.title.orNull(), o.description.orNull(),
                                              o.tags.orNull(), o.addTags.orNull(), o.removeTags.orNull()));
}

void addUpdate(CLI::App &verb, const FamilyInfo &family, Tool &tool) {
    UpdateOptions &o = bindItemCommand<UpdateOptions>(verb, family, tool, runUpdate);
    addText(verb, o.title, "--title", "new title");
    addText(verb, o.description, "--description,-d", "new description");
    addText(verb, o.tags, "--tags", "comma-separated tags replacing all tags ('' clears them)");
    addText(verb, o.addTags, "--add-tags", "comma-separated tags to add");
    addText(verb, o.removeTags, "--remove-tags", "comma-separated tags to remove");
}

}  // namespace

void setupPost(CLI::App &app, Tool &tool) { setupFamily(app, tool, familyInfo(Family::Post), {addCreate, addUpdate}); }

}  // namespace qcli
