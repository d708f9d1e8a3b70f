// The init command, which makes an empty site: its root, content/ and the
// family directories below it.
#include <filesystem>
#include <string>
#include <system_error>

#include <CLI/CLI.hpp>

#include "commands.hpp"
#include "family_table.hpp"
#include "json_writer.hpp"
#include "messages.hpp"
#include "strings.hpp"
#include "tool.hpp"

namespace qcli {

namespace {

namespace fs = std::filesystem;

// Creates `dir` (and missing parents), content/ and the family directories
// below it, keeping whatever exists. Returns the absolute path of `dir`.
// Throws a ToolError with status 73 when a directory cannot be created.
std::string initSite(const std::string &dir) {
    const fs::path base = dir.empty() ? fs::path(".") : fs::path(dir);
    std::error_code ec;
    const fs::path content = base / "content";
    for (const FamilyInfo &family : kFamilies) {
        const fs::path target = content / family.dir;
        fs::create_directories(target, ec);
        // create_directories reports success for an existing directory and
        // an error for an existing file; check the outcome either way.
        if (ec || !fs::is_directory(target)) {
            const std::string why = ec ? ec.message() : std::string("it exists and is not a directory");
            throw ToolError{kExitCantCreate, cat({"cannot create '", oneLine(target.string()), "': ", why})};
        }
    }
    fs::path absolute = fs::absolute(base, ec);
    if (ec) return base.string();
    absolute = absolute.lexically_normal();
    std::string text = absolute.string();
    // "/srv/site/" from a root given with a trailing slash: drop the slash.
    if (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

struct InitOptions {
    std::string dir;
    CLI::Option *dirOption = nullptr;
};

std::string runInit(const InitOptions &o, const Tool &tool) {
    const std::string dir = o.dirOption->count() > 0 ? o.dir : tool.givenRoot().value_or(std::string());
    const std::string path = initSite(dir);
    return tool.wantJson() ? cat({"{\"path\":", jsonString(path), "}\n"}) : cat({path, "\n"});
}

}  // namespace

void setupInit(CLI::App &app, Tool &tool) {
    CLI::App *init = app.add_subcommand("init", "Make an empty site: content/ with its snippets, blog and notes directories");
    InitOptions &o = bindCommand<InitOptions>(*init, tool, runInit);
    o.dirOption = init->add_option("DIR", o.dir, "the site root to make (default: --root, else the current directory)")
                      ->type_name("DIR");
}

}  // namespace qcli
