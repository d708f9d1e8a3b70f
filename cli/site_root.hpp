// Finding the site a command works on.
//
// A site root is a directory with a content/ directory or a site
// configuration file. Commands look for it from the current directory
// upwards, the way git looks for .git, unless --root names it; either way a
// directory that is not a site is refused before the library is called, so
// that a mistyped root never gets a content tree created below it.
#pragma once

#include <optional>
#include <string>

namespace qcli {

// The configuration file names that mark a site root (besides content/).
inline constexpr const char *kSiteConfigFiles[] = {"hugo.toml", "config.toml", "hugo.yaml", "config.yaml"};

// Whether `dir` has a content/ directory or a site configuration file
// (symbolic links are followed). "" is the current directory.
bool isSiteRoot(const std::string &dir);

// The nearest site root at or above `start` (an absolute directory),
// expressed relative to it: "" for `start` itself, then "..", "../..", and
// so on. Nothing when no directory up to the file system root is a site.
std::optional<std::string> findSiteRoot(const std::string &start);

// The root to hand the library: `given` (from --root) when it is a site,
// else the nearest site at or above the current directory. Throws a
// ToolError with status 66 when there is no site.
std::string resolveSiteRoot(const std::optional<std::string> &given);

}  // namespace qcli
