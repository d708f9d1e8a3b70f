// The post command. Its list, read and delete verbs come from the family
// table; create and update are its own.
#include <string>

#include <CLI/CLI.hpp>

#include "commands.hpp"
#include "family_verbs.hpp"
#include "option_values.hpp"
#include "quorlina/quorlina.h"
#include "strings.hpp"

namespace qcli {

namespace {

struct CreateOptions {
    std::string slug;
    TextOption title, description, tags, date;
    BodyOption content;
    TextOption stdinBody;  // "-" after the slug: the body from standard input
    bool draft = false;
    bool noDateKey = false;
};

std::string runCreate(CreateOptions &o, const Tool &tool) {
    const std::string root = tool.siteRoot();
    if (o.stdinBody.given()) {
        if (o.stdinBody.value != "-") {
            throw ToolError{kExitUsage, cat({"unexpected argument '", oneLine(o.stdinBody.value),
                                             "' after the slug (only '-', which reads the content from standard input)"})};
        }
        if (o.content.given()) throw ToolError{kExitUsage, "'-' and --content or --content-file exclude each other"};
        o.content.fromStdin = true;
    }
    const char *body = o.content.resolve();
    quorlina_post_create_options options = QUORLINA_POST_CREATE_OPTIONS_INIT;
    options.body = body;
    options.draft = o.draft ? 1 : 0;
    options.date_key = o.noDateKey ? 0 : 1;
    const LibText path = callForText({Family::Post, Target::Kind::New, o.slug}, [&](char **out) {
        return quorlina_post_create_ext(root.c_str(), o.slug.c_str(), o.title.value.c_str(), o.description.value.c_str(),
                                        o.tags.orNull(), o.date.orNull(), &options, out);
    });
    return createdOutput(tool, familyInfo(Family::Post), path.str(), o.slug);
}

void addCreate(CLI::App &verb, const FamilyInfo &, Tool &tool) {
    CreateOptions &o = bindCommand<CreateOptions>(verb, tool, runCreate);
    addRequired(verb, o.slug, "SLUG", "slug: letters, digits, '_' and '-'");
    o.stdinBody.option =
        verb.add_option("STDIN", o.stdinBody.value, "'-': read the content from standard input")->type_name("");
    addText(verb, o.title, "--title", "title", true);
    addText(verb, o.description, "--description,-d", "description", true);
    addText(verb, o.tags, "--tags", "comma-separated tags");
    addText(verb, o.date, "--date", "YYYY-MM-DD (default: today, UTC)");
    addBody(verb, o.content, "content", "the post's body after its front matter (default: empty)");
    verb.add_flag("--draft", o.draft, "mark the post a draft (draft = true)");
    verb.add_flag("--no-date-key", o.noDateKey,
                  "write no date key (by default date = YYYY-MM-DD, which site generators read)");
}

// publish: clears the draft flag; a post that is no draft stays as it is.
std::string runPublish(const ItemOptions &o, const Tool &tool) {
    const std::string root = tool.siteRoot();
    quorlina_post_update_options options = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    options.draft = 0;
    return changedOutput(tool, {Family::Post, Target::Kind::Key, o.key, root},
                         quorlina_post_update_ext(root.c_str(), o.key.c_str(), &options));
}

struct UpdateOptions : ItemOptions {
    TextOption title, description, tags, addTags, removeTags;
    BodyOption content;
    bool draft = false;
};

std::string runUpdate(UpdateOptions &o, const Tool &tool) {
    const std::string root = tool.siteRoot();
    const char *body = o.content.resolve();
    if (body == nullptr && !o.draft) {
        return changedOutput(tool, {Family::Post, Target::Kind::Key, o.key, root},
                             quorlina_post_update(root.c_str(), o.key.c_str(), o.title.orNull(), o.description.orNull(),
                                                  o.tags.orNull(), o.addTags.orNull(), o.removeTags.orNull()));
    }
    quorlina_post_update_options options = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    options.title = o.title.orNull();
    options.description = o.description.orNull();
    options.tags = o.tags.orNull();
    options.add_tags = o.addTags.orNull();
    options.remove_tags = o.removeTags.orNull();
    options.body = body;
    if (o.draft) options.draft = 1;
    return changedOutput(tool, {Family::Post, Target::Kind::Key, o.key, root},
                         quorlina_post_update_ext(root.c_str(), o.key.c_str(), &options));
}

void addUpdate(CLI::App &verb, const FamilyInfo &family, Tool &tool) {
    UpdateOptions &o = bindItemCommand<UpdateOptions>(verb, family, tool, runUpdate);
    addText(verb, o.title, "--title", "new title");
    addText(verb, o.description, "--description,-d", "new description");
    addText(verb, o.tags, "--tags", "comma-separated tags replacing all tags ('' clears them)");
    addText(verb, o.addTags, "--add-tags", "comma-separated tags to add");
    addText(verb, o.removeTags, "--remove-tags", "comma-separated tags to remove");
    addBody(verb, o.content, "content", "new body; the front matter stays byte for byte");
    verb.add_flag("--draft", o.draft, "mark the post a draft again ('post publish' clears it)");
}

void addOwnVerbs(CLI::App &command, const FamilyInfo &family, Tool &tool) {
    bindItemCommand<ItemOptions>(*command.add_subcommand("publish", "Clear a post's draft flag (draft = false)"), family,
                                 tool, runPublish);
    addEdit(*command.add_subcommand("edit", "Edit a post's file in $VISUAL or $EDITOR and publish it when it reads as a post"),
            family, tool);
}

}  // namespace

void setupPost(CLI::App &app, Tool &tool) {
    setupFamily(app, tool, familyInfo(Family::Post), {addCreate, addUpdate, addOwnVerbs});
}

}  // namespace qcli
