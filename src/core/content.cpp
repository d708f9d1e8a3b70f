#include "core/content.hpp"

#include <cerrno>
#include <string>
#include <utility>

namespace quorlina::content {

using platform::Dir;

Result<std::optional<Dir>> openIfPresent(std::string_view dirPath) {
    QL_TRY(platform::checkPathLength(dirPath));
    auto dir = Dir::open(dirPath);
    if (!dir) {
        if (dir.error() == Error::FileNotFound) return std::optional<Dir>{};
        return std::move(dir).failure();
    }
    return std::optional<Dir>{std::move(*dir)};
}

Result<Dir> openLocked(std::string_view dirPath, Error notFound) {
    QL_TRY(platform::checkPathLength(dirPath));
    auto dir = Dir::open(dirPath);
    if (!dir) return dir.error() == Error::FileNotFound ? Failure(notFound) : std::move(dir).failure();
    QL_TRY(dir->lockExclusive());
    dir->removeTemporaries();
    return dir;
}

Result<Dir> openLockedMaking(std::string_view dirPath) {
    auto dir = Dir::openMaking(dirPath);
    if (!dir) return std::move(dir).failure();
    QL_TRY(dir->lockExclusive());
    dir->removeTemporaries();
    return dir;
}

Status removeContentFile(const Dir &dir, std::string_view name, Error notFound) {
    Status removed = dir.removeFile(name);
    if (removed) return removed;
    Error e = removed.error();
    // Some systems refuse to unlink a directory with EPERM or EACCES rather
    // than EISDIR; report what the entry is.
    if ((e == Error::AccessDenied || e == Error::PermissionDenied) && dir.isChildDirectory(name))
        return concerning(dir.pathOf(name), Failure(Error::IsDir, EISDIR));
    // Removed by someone else since it was found.
    if (e == Error::FileNotFound) return notFound;
    return removed;
}

std::string_view baseName(std::string_view path) noexcept {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

Failure badTimestampName(std::string path, std::optional<Error> why) {
    Failure f = concerning(std::move(path), Error::InvalidTimestamp);
    f.badName = true;
    f.nameCause = why;
    return f;
}

}  // namespace quorlina::content
