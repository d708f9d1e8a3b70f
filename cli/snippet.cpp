// The snippet command. Its list, read and delete verbs come from the
// family table; create and update are its own.
#include <cstdint>
#include <ctime>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.hpp"
#include "family_verbs.hpp"
#include "option_values.hpp"
#include "quorlina/quorlina.h"

namespace qcli {

namespace {

struct CreateOptions {
    TextOption timestamp, description, filename;
    BodyOption code;
};

std::string runCreate(CreateOptions &o, const Tool &tool) {
    const std::string root = tool.siteRoot();
    const std::int64_t ts =
        o.timestamp.given() ? parseTimestamp(o.timestamp.value) : static_cast<std::int64_t>(std::time(nullptr));
    if (!o.code.given()) throw ToolError{kExitUsage, "snippet create needs --code or --code-file"};
    const char *code = o.code.resolve();
    const std::string id = std::to_string(ts);
    const LibText path = callForText({Family::Snippet, Target::Kind::New, id}, [&](char **out) {
        return quorlina_snippet_create(root.c_str(), ts, o.description.value.c_str(), code, o.filename.value.c_str(),
                                       out);
    });
    return createdOutput(tool, familyInfo(Family::Snippet), path.str(), id);
}

void addCreate(CLI::App &verb, const FamilyInfo &, Tool &tool) {
    CreateOptions &o = bindCommand<CreateOptions>(verb, tool, runCreate);
    addText(verb, o.timestamp, "--timestamp,-t", "Unix seconds (default: now)");
    o.timestamp.option->type_name("SECONDS");
    addText(verb, o.description, "--description,-d", "one-line description", true);
    addText(verb, o.filename, "--filename,-f", "file name of the code, e.g. sort.py", true);
    addBody(verb, o.code, "code", "the code");
}

struct UpdateOptions : ItemOptions {
    TextOption description, filename;
    BodyOption code;
};

std::string runUpdate(UpdateOptions &o, const Tool &tool) {
    const std::string root = tool.siteRoot();
    const std::int64_t ts = parseTimestamp(o.key);
    const char *code = o.code.resolve();
    return changedOutput(tool, {Family::Snippet, Target::Kind::Key, o.key, root},
                         quorlina_snippet_update(root.c_str(), ts, o.description.orNull(), code, o.filename.orNull()));
}

void addUpdate(CLI::App &verb, const FamilyInfo &family, Tool &tool) {
    UpdateOptions &o = bindItemCommand<UpdateOptions>(verb, family, tool, runUpdate);
    addText(verb, o.description, "--description,-d", "new description");
    addText(verb, o.filename, "--filename,-f", "new file name; another extension renames the file");
    addBody(verb, o.code, "code", "new code");
}

}  // namespace

void setupSnippet(CLI::App &app, Tool &tool) {
    setupFamily(app, tool, familyInfo(Family::Snippet), {addCreate, addUpdate});
}

}  // namespace qcli
