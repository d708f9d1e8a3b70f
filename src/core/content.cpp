#include "core/content.hpp"

#include <string>

namespace quorlina::content {

using platform::Dir;

Result<std::optional<Dir>> openIfPresent(std::string_view dirPath) {
    QL_TRY(platform::checkPathLength(dirPath));
    auto dir = Dir::open(dirPath);
    if (!dir) {
        if (dir.error() == Error::FileNotFound) return std::optional<Dir>{};
        return dir.error();
    }
    return std::optional<Dir>{std::move(*dir)};
}

Result<Dir> openLocked(std::string_view dirPath, Error notFound) {
    QL_TRY(platform::checkPathLength(dirPath));
    auto dir = Dir::open(dirPath);
    if (!dir) return dir.error() == Error::FileNotFound ? notFound : dir.error();
    QL_TRY(dir->lockExclusive());
    return dir;
}

Result<Dir> openLockedMaking(std::string_view dirPath) {
    auto dir = Dir::openMaking(dirPath);
    if (!dir) return dir.error();
    QL_TRY(dir->lockExclusive());
    return dir;
}

Status removeContentFile(const Dir &dir, std::string_view name, Error notFound) {
    Status removed = dir.removeFile(name);
    if (removed) return removed;
    Error e = removed.error();
    // Some systems refuse to unlink a directory with EPERM or EACCES rather
    // than EISDIR; report what the entry is.
    if ((e == Error::AccessDenied || e == Error::PermissionDenied) && dir.isChildDirectory(name)) return Error::IsDir;
    // Removed by someone else since it was found.
    if (e == Error::FileNotFound) return notFound;
    return e;
}

std::string_view baseName(std::string_view path) noexcept {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void warnInvalidTimestamp(std::string_view name, std::optional<Error> why) {
    std::string line = "warning: Invalid timestamp in filename '";
    line += name;
    line += '\'';
    if (why) {
        line += ": error.";
        line += errorName(*why);
    }
    line += '\n';
    platform::writeErrorLine(line);
}

}  // namespace quorlina::content
