#include "site_root.hpp"

#include <filesystem>
#include <system_error>

#include "messages.hpp"
#include "strings.hpp"

namespace qcli {

namespace fs = std::filesystem;

namespace {

fs::path dirPath(const std::string &dir) { return dir.empty() ? fs::path(".") : fs::path(dir); }

std::string configList() {
    std::string out;
    for (const char *name : kSiteConfigFiles) {
        if (!out.empty()) out += ", ";
        out += name;
    }
    return out;
}

}  // namespace

bool isSiteRoot(const std::string &dir) {
    const fs::path base = dirPath(dir);
    std::error_code ec;
    if (fs::is_directory(base / "content", ec)) return true;
    for (const char *name : kSiteConfigFiles) {
        if (fs::is_regular_file(base / name, ec)) return true;
    }
    return false;
}

std::optional<std::string> findSiteRoot(const std::string &start) {
    fs::path dir = fs::path(start).lexically_normal();
    // Relative steps rather than absolute paths: created paths print as the
    // user would type them, and a deep current directory cannot push the
    // root past the library's path length limit.
    std::string relative;
    for (;;) {
        if (isSiteRoot(dir.empty() ? std::string(".") : dir.string())) return relative;
        fs::path parent = dir.parent_path();
        if (parent == dir || parent.empty()) return std::nullopt;
        // "/a/b/" normalises with an empty last element; step over it.
        if (!dir.has_filename()) {
            dir = parent;
            continue;
        }
        dir = std::move(parent);
        relative = relative.empty() ? std::string("..") : cat({relative, "/.."});
    }
}

std::string resolveSiteRoot(const std::optional<std::string> &given) {
    if (given) {
        if (isSiteRoot(*given)) return *given;
        throw ToolError{kExitNoInput,
                        cat({"'", oneLine(given->empty() ? std::string(".") : *given),
                             "' is not a site: it has no content/ directory and none of ", configList(),
                             " (run 'quorlina init' to make one)"})};
    }
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    if (ec) throw ToolError{kExitNoInput, cat({"cannot find the current directory: ", ec.message()})};
    if (std::optional<std::string> found = findSiteRoot(cwd.string())) return *found;
    throw ToolError{kExitNoInput,
                    cat({"no site found: neither '", oneLine(cwd.string()),
                         "' nor a directory above it has a content/ directory or one of ", configList(),
                         " (use --root, or run 'quorlina init')"})};
}

}  // namespace qcli
