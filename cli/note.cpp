// The note command. Its list, read and delete verbs come from the family
// table; create and update are its own.
#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.hpp"
#include "family_verbs.hpp"
#include "option_values.hpp"
#include "quorlina/quorlina.h"

namespace qcli {

namespace {

// The file name of a path without its extension: a new note's timestamp.
std::string fileStem(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

struct CreateOptions {
    TextOption timestamp, slug;
    BodyOption content;
};

std::string runCreate(CreateOptions &o, const Tool &tool) {
    const std::string root = tool.siteRoot();
    // 0 asks the library for the current time.
    const std::int64_t ts = o.timestamp.given() ? parseTimestamp(o.timestamp.value) : 0;
    const char *content = o.content.resolve();
    const std::string key = ts == 0 ? std::string() : std::to_string(ts);
    const LibText path = callForText({Family::Note, Target::Kind::New, key}, [&](char **out) {
        return quorlina_note_create(root.c_str(), ts, o.slug.orNull(), content, out);
    });
    // A note's id is its slug, else its file stem (the timestamp, which the
    // library picks when none was given).
    const std::string created = path.str();
    return createdOutput(tool, familyInfo(Family::Note), created, o.slug.given() ? o.slug.value : fileStem(created));
}

void addCreate(CLI::App &verb, const FamilyInfo &, Tool &tool) {
    CreateOptions &o = bindCommand<CreateOptions>(verb, tool, runCreate);
    addText(verb, o.timestamp, "--timestamp,-t", "Unix seconds (default: now)");
    o.timestamp.option->type_name("SECONDS");
    addText(verb, o.slug, "--slug", "slug: letters, digits, '_' and '-' (default: none)");
    addBody(verb, o.content, "content", "the note's text (default: empty)");
}

struct UpdateOptions : ItemOptions {
    TextOption slug;
    bool clearSlug = false;
    BodyOption content;
};

std::string runUpdate(UpdateOptions &o, const Tool &tool) {
    const std::string root = tool.siteRoot();
    const char *content = o.content.resolve();
    return changedOutput(tool, {Family::Note, Target::Kind::Key, o.key, root},
                         quorlina_note_update(root.c_str(), o.key.c_str(), o.slug.orNull(), o.clearSlug ? 1 : 0, content));
}

void addUpdate(CLI::App &verb, const FamilyInfo &family, Tool &tool) {
    UpdateOptions &o = bindItemCommand<UpdateOptions>(verb, family, tool, runUpdate);
    addText(verb, o.slug, "--slug", "new slug");
    verb.add_flag("--clear-slug", o.clearSlug, "remove the slug")->excludes(o.slug.option);
    addBody(verb, o.content, "content", "new text");
}

void addOwnVerbs(CLI::App &command, const FamilyInfo &family, Tool &tool) {
    addEdit(*command.add_subcommand("edit", "Edit a note's file in $VISUAL or $EDITOR and publish it when it reads as a note"),
            family, tool);
}

}  // namespace

void setupNote(CLI::App &app, Tool &tool) {
    setupFamily(app, tool, familyInfo(Family::Note), {addCreate, addUpdate, addOwnVerbs});
}

}  // namespace qcli
