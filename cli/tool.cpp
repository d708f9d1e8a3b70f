#include "tool.hpp"

#include <CLI/CLI.hpp>

#include "site_root.hpp"

namespace qcli {

std::optional<std::string> Tool::givenRoot() const {
    return rootOption != nullptr && rootOption->count() > 0 ? std::optional<std::string>(root) : std::nullopt;
}

std::string Tool::siteRoot() const { return resolveSiteRoot(givenRoot()); }

void addToolOptions(CLI::App &app, Tool &tool) {
    tool.rootOption = app.add_option("--root,-r", tool.root,
                                     "site root directory (default: the nearest site at or above the current directory)")
                          ->type_name("DIR");
    CLI::Option *format = app.add_option("--format", tool.format, "output: table or json")
                              ->check(CLI::IsMember({"table", "json"}))
                              ->type_name("FORMAT");
    app.add_flag("--json", tool.json, "same as --format json")->excludes(format);
}

}  // namespace qcli
