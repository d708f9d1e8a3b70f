// Reading content files: whole, or only as far as their front matter.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/platform.hpp"
#include "core/platform_sys.hpp"

namespace quorlina::platform {

using namespace sys;
using fault::Op;

namespace {

// The size of the open `fd`, which must be a regular file of at most
// `limit` bytes: IsDir, NotRegularFile or FileTooBig otherwise.
Result<std::size_t> regularFileSize(int fd, std::size_t limit) noexcept {
    struct stat st {};
    QL_TRY(sysCall(Op::Stat, [&] { return ::fstat(fd, &st); }).status());
    if (S_ISDIR(st.st_mode)) return Error::IsDir;
    if (!S_ISREG(st.st_mode)) return Error::NotRegularFile;
    if (static_cast<std::uint64_t>(st.st_size) > limit) return Error::FileTooBig;
    return static_cast<std::size_t>(st.st_size);
}

// O_NONBLOCK keeps a FIFO that replaced a listed file from blocking us; it
// has no effect on regular files.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;

// Reads the open `fd`, which must be a regular file of at most `limit`
// bytes, into `buffer` from its start (replacing what it held, keeping its
// storage): to its end or, given `settled`, until settled(bytes so far) is
// true. Closes `fd`. Returns the count of bytes read.
Result<std::size_t> readOpened(int fd, std::string &buffer, std::size_t limit,
                               bool (*settled)(std::string_view head)) {
    FdGuard guard(fd);
    auto size = regularFileSize(fd, limit);
    if (!size) return size.error();
    const bool whole = settled == nullptr;
    // A whole file is read with one byte more than its size, so that its end
    // is seen in one read when the size is right (a buffer that is already
    // larger is used whole). A head read asks first for one page, or the
    // whole file and one byte when that is less, which holds the front
    // matter of nearly every file, and then at most doubles what it has.
    constexpr std::size_t kFirstHeadRead = 4096;
    const std::size_t first = whole ? *size + 1 : std::min(*size + 1, kFirstHeadRead);
    if (buffer.size() < first) buffer.resize(first);
    std::size_t have = 0;
    for (;;) {
        if (have == buffer.size()) {
            if (buffer.size() > limit) return Error::FileTooBig;
            std::size_t grown = whole ? buffer.size() + buffer.size() / 2 + 4096 : buffer.size() * 2;
            buffer.resize(std::min(limit + 1, grown));
        }
        std::size_t room = whole ? buffer.size() : std::min(buffer.size(), std::max(first, have * 2));
        std::size_t asked = room - have;
        auto r = sysCall(Op::Read, [&] { return ::read(fd, buffer.data() + have, asked); });
        if (!r.ok()) return r.error();
        if (r.ret == 0) break;
        have += static_cast<std::size_t>(r.ret);
        if (have > limit) return Error::FileTooBig;
        // A regular file returns fewer bytes than asked for only at its end,
        // so the usual file (whose size fstat gave) takes one read, not two.
        if (static_cast<std::size_t>(r.ret) < asked) break;
        if (!whole && settled(std::string_view(buffer.data(), have))) break;
    }
    return have;
}

// readOpened for the head of the file `fd` opened, or the failure to open it.
Result<std::string_view> readHead(Sys<int> fd, std::string &buffer, bool (*settled)(std::string_view head),
                                  std::size_t limit) {
    if (!fd.ok()) return fd.error();
    auto have = readOpened(fd.ret, buffer, limit, settled);
    if (!have) return have.error();
    return std::string_view(buffer.data(), *have);
}

}  // namespace

Status Dir::readFileInto(std::string_view name, std::string &data, std::size_t limit) const {
    return withName(name, [&](const char *n) -> Status {
        auto fd = sysOpenAt(this->fd(), n, kReadFlags);
        if (!fd.ok()) return fd.error();
        auto have = readOpened(fd.ret, data, limit, nullptr);
        if (!have) return have.error();
        data.resize(*have);
        return {};
    });
}

Result<std::string> Dir::readFile(std::string_view name, std::size_t limit) const {
    std::string data;
    QL_TRY(readFileInto(name, data, limit));
    return data;
}

Result<std::string_view> Dir::readFileHead(std::string_view name, std::string &buffer,
                                           bool (*settled)(std::string_view head), std::size_t limit) const {
    return withName(name, [&](const char *n) {
        return readHead(sysOpenAt(this->fd(), n, kReadFlags), buffer, settled, limit);
    });
}

}  // namespace quorlina::platform
