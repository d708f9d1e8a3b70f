#include "floors.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qbench::floor {

namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Opens, reads to end of file and closes `name` in `dirfd`.
void readOne(int dirfd, const char *name, Stats &stats) {
    static thread_local char buf[1 << 16];
    int fd = ::openat(dirfd, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(std::string("open ") + name);
    std::size_t total = 0;
    for (;;) {
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) fail(std::string("read ") + name);
        if (r == 0) break;
        total += static_cast<std::size_t>(r);
    }
    ::close(fd);
    ++stats.files;
    stats.bytes += total;
    if (total > stats.largest) stats.largest = total;
}

bool isRegular(int dirfd, const dirent *e) {
    if (e->d_type == DT_REG) return true;
    if (e->d_type != DT_UNKNOWN) return false;
    struct stat st {};
    return ::fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

bool isDirectory(int dirfd, const dirent *e) {
    if (e->d_type == DT_DIR) return true;
    if (e->d_type != DT_UNKNOWN) return false;
    struct stat st {};
    return ::fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool isDot(const char *n) { return n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')); }

// The stem of a snippet candidate, or an empty view when `name` is none.
std::string_view snippetStem(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
    std::string_view stem = name.substr(0, dot);
    if (stem == "index" || stem == "_index") return {};
    return stem;
}

bool isNoteName(std::string_view name) {
    return name.size() >= 3 && name.substr(name.size() - 3) == ".md" && name != "index.md" && name != "_index.md";
}

// A decimal directory name of exactly `len` digits in [lo, hi].
bool numberIn(std::string_view s, std::size_t len, int lo, int hi) {
    if (s.size() != len) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    return v >= lo && v <= hi;
}

class DirHandle {
public:
    explicit DirHandle(DIR *d) : d_(d) {}
    ~DirHandle() {
        if (d_) ::closedir(d_);
    }
    DirHandle(const DirHandle &) = delete;
    DirHandle &operator=(const DirHandle &) = delete;
    DIR *get() const { return d_; }
    int fd() const { return ::dirfd(d_); }

private:
    DIR *d_;
};

DIR *openDir(const std::string &path) {
    DIR *d = ::opendir(path.c_str());
    if (!d) fail("opendir " + path);
    return d;
}

DIR *openChild(int dirfd, const char *name) {
    int fd = ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) fail(std::string("open ") + name);
    DIR *d = ::fdopendir(fd);
    if (!d) fail(std::string("fdopendir ") + name);
    return d;
}

// Depth 0 is the blog directory; years, months and days follow.
void walkPosts(DIR *d, int depth, Stats &stats) {
    int fd = ::dirfd(d);
    while (dirent *e = ::readdir(d)) {
        if (isDot(e->d_name)) continue;
        std::string_view name = e->d_name;
        if (depth < 3) {
            bool ok = depth == 0 ? numberIn(name, 4, 1, 9999) : depth == 1 ? numberIn(name, 2, 1, 12)
                                                                            : numberIn(name, 2, 1, 31);
            if (!ok || !isDirectory(fd, e)) continue;
            DirHandle child(openChild(fd, e->d_name));
            walkPosts(child.get(), depth + 1, stats);
        } else if (isNoteName(name) && isRegular(fd, e)) {
            readOne(fd, e->d_name, stats);
        }
    }
}

void writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t w = ::write(fd, data.data(), data.size());
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) fail("write");
        data.remove_prefix(static_cast<std::size_t>(w));
    }
}

// Writes `content` to a new temporary file in `dirfd`, durably.
const char *writeTemp(int dirfd, std::string_view content) {
    static const char kTemp[] = ".qbench-floor-tmp";
    int fd = ::openat(dirfd, kTemp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) fail("create temporary");
    writeAll(fd, content);
    if (::fsync(fd) != 0) fail("fsync");
    if (::close(fd) != 0) fail("close");
    return kTemp;
}

}  // namespace

Stats readSnippets(const std::string &dir) {
    Stats stats;
    DirHandle d(openDir(dir));
    while (dirent *e = ::readdir(d.get())) {
        if (isDot(e->d_name) || snippetStem(e->d_name).empty() || !isRegular(d.fd(), e)) continue;
        readOne(d.fd(), e->d_name, stats);
    }
    return stats;
}

Stats findSnippet(const std::string &dir, std::string_view stem) {
    Stats stats;
    DirHandle d(openDir(dir));
    while (dirent *e = ::readdir(d.get())) {
        if (isDot(e->d_name)) continue;
        std::string_view s = snippetStem(e->d_name);
        if (s.empty() || s != stem || !isRegular(d.fd(), e)) continue;
        readOne(d.fd(), e->d_name, stats);
        break;
    }
    return stats;
}

Stats readPosts(const std::string &blogDir) {
    Stats stats;
    DirHandle d(openDir(blogDir));
    walkPosts(d.get(), 0, stats);
    return stats;
}

Stats readNotes(const std::string &dir) {
    Stats stats;
    DirHandle d(openDir(dir));
    while (dirent *e = ::readdir(d.get())) {
        if (isDot(e->d_name) || !isNoteName(e->d_name) || !isRegular(d.fd(), e)) continue;
        readOne(d.fd(), e->d_name, stats);
    }
    return stats;
}

void replaceFile(const std::string &dir, const std::string &name, std::string_view content) {
    DirHandle d(openDir(dir));
    const char *tmp = writeTemp(d.fd(), content);
    if (::renameat(d.fd(), tmp, d.fd(), name.c_str()) != 0) fail("rename");
    if (::fsync(d.fd()) != 0) fail("fsync directory");
}

void publishFile(const std::string &dir, const std::string &name, std::string_view content) {
    DirHandle d(openDir(dir));
    const char *tmp = writeTemp(d.fd(), content);
    if (::linkat(d.fd(), tmp, d.fd(), name.c_str(), 0) != 0) fail("link");
    if (::unlinkat(d.fd(), tmp, 0) != 0) fail("unlink");
    if (::fsync(d.fd()) != 0) fail("fsync directory");
}

}  // namespace qbench::floor
