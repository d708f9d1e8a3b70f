// The check command: every file of the site that the family commands would
// fail on, with its reason, in one run.
#include <cstdlib>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.hpp"
#include "family_verbs.hpp"
#include "json_reader.hpp"
#include "quorlina/quorlina.h"
#include "strings.hpp"

namespace qcli {

namespace {

struct CheckOptions {
    std::string family;  // empty for all three
};

// One line per failing file, "path: reason", in the library's order; the
// library's JSON as it is with --json. A site with failing files ends with
// the first one's result code and a line counting them.
std::string runCheck(const CheckOptions &o, Tool &tool) {
    const std::string root = tool.siteRoot();
    quorlina_check_options options = QUORLINA_CHECK_OPTIONS_INIT;
    options.family = o.family.empty() ? nullptr : o.family.c_str();
    LibText text;
    const int code = quorlina_check(root.c_str(), &options, text.out());
    if (code != QUORLINA_OK) throw ToolError{code, cat({"check: ", libraryReason(code)})};
    const std::optional<JsonValue> entries = parseJson(text.view());
    if (!entries || !entries->isArray()) {
        throw ToolError{QUORLINA_EINTERNAL, "the library returned text this tool cannot read"};
    }
    std::string lines;
    int firstCode = 0;
    for (const JsonValue &e : entries->items) {
        const JsonValue *path = e.find("path");
        const JsonValue *reason = e.find("reason");
        const JsonValue *code = e.find("code");
        lines += cat({path ? oneLine(path->text) : "-", ": ", reason ? oneLine(reason->text) : "-", "\n"});
        if (firstCode == 0 && code != nullptr) firstCode = std::atoi(code->text.c_str());
    }
    const std::size_t n = entries->items.size();
    if (n > 0) {
        tool.status = firstCode > 0 ? firstCode : QUORLINA_EINVALID_CONTENT;
        tool.statusLine = n == 1 ? std::string("1 file fails the check") : cat({std::to_string(n), " files fail the check"});
    }
    return tool.wantJson() ? cat({text.view(), "\n"}) : lines;
}

}  // namespace

void setupCheck(CLI::App &app, Tool &tool) {
    CLI::App *check = app.add_subcommand(
        "check", "List every file that the other commands would fail on, with its reason (exit 0 when none)");
    CheckOptions &o = bindCommand<CheckOptions>(*check, tool, [](const CheckOptions &options, Tool &t) {
        return runCheck(options, t);
    });
    check->add_option("FAMILY", o.family, "only this family: snippet, post or note (default: all three)")
        ->check(CLI::IsMember({"snippet", "post", "note"}))
        ->type_name("FAMILY");
}

}  // namespace qcli
