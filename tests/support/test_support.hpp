// Helpers shared by the tests: a temporary site directory, whole-file
// reads and writes, whole-tree snapshots, owned C strings and stderr
// capture.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "quorlina/quorlina.h"

namespace qtest {

// Removes a tree without following symbolic links.
inline void removeTree(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        ::chmod(path.c_str(), 0700);
        if (DIR *d = ::opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent *e = ::readdir(d)) {
                std::string n = e->d_name;
                if (n != "." && n != "..") names.push_back(n);
            }
            ::closedir(d);
            for (auto &n : names) removeTree(path + "/" + n);
        }
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

// A fresh empty directory below $TMPDIR (or /tmp), removed at the end.
class TempSite {
public:
    TempSite() {
        const char *base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quorlina-test-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
        root_ = buf.data();
    }
    ~TempSite() { removeTree(root_); }
    TempSite(const TempSite &) = delete;
    TempSite &operator=(const TempSite &) = delete;

    const std::string &root() const { return root_; }
    const char *c_root() const { return root_.c_str(); }
    std::string path(const std::string &rel) const { return root_ + "/" + rel; }

private:
    std::string root_;
};

// Creates every missing directory of `path`'s parent.
inline void makeParents(const std::string &path) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
    }
}

inline void writeFile(const std::string &path, const std::string &bytes) {
    makeParents(path);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + path);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::optional<std::string> readFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return std::nullopt;
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

inline bool exists(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Names in a directory, sorted; empty when it does not exist.
inline std::vector<std::string> listDir(const std::string &path) {
    std::vector<std::string> names;
    if (DIR *d = ::opendir(path.c_str())) {
        while (dirent *e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One entry of a tree: its kind ('f' file, 'd' directory, 'l' link, 'o'
// other), permission bits, and the bytes of a file or the target of a link.
struct Entry {
    char kind = 'o';
    unsigned mode = 0;
    std::string bytes;
    bool operator==(const Entry &) const = default;
};

// Every entry below a root (not the root itself), by path relative to it.
// Links are recorded, never followed.
using Snapshot = std::map<std::string, Entry>;

inline void snapshotInto(const std::string &dir, const std::string &rel, Snapshot &out) {
    DIR *d = ::opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent *e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    for (const auto &n : names) {
        std::string full = dir + "/" + n, relName = rel.empty() ? n : rel + "/" + n;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0) continue;
        Entry e;
        e.mode = st.st_mode & 07777;
        if (S_ISREG(st.st_mode)) {
            e.kind = 'f';
            e.bytes = qtest::readFile(full).value_or("<unreadable>");
        } else if (S_ISDIR(st.st_mode)) {
            e.kind = 'd';
        } else if (S_ISLNK(st.st_mode)) {
            e.kind = 'l';
            char buf[4096];
            ssize_t len = ::readlink(full.c_str(), buf, sizeof buf);
            e.bytes.assign(buf, len > 0 ? static_cast<std::size_t>(len) : 0);
        }
        out[relName] = e;
        if (e.kind == 'd') snapshotInto(full, relName, out);
    }
}

inline Snapshot snapshot(const std::string &root) {
    Snapshot s;
    snapshotInto(root, "", s);
    return s;
}

// A readable account of how two snapshots differ.
inline std::string describeDiff(const Snapshot &expected, const Snapshot &actual) {
    std::ostringstream os;
    for (const auto &[k, v] : expected) {
        auto it = actual.find(k);
        if (it == actual.end()) os << "  missing: " << k << "\n";
        else if (!(it->second == v))
            os << "  changed: " << k << " (" << v.bytes.size() << " -> " << it->second.bytes.size() << " bytes)\n";
    }
    for (const auto &[k, v] : actual)
        if (!expected.count(k)) os << "  extra: " << k << "\n";
    return os.str();
}

// A string returned by the library, released with quorlina_free.
struct Freer {
    void operator()(char *p) const { quorlina_free(p); }
};
using Owned = std::unique_ptr<char, Freer>;

// Calls `fn(&out)` and returns the code and the text (empty when NULL).
struct TextResult {
    int code;
    bool isNull;
    std::string text;
};

template <class Fn>
TextResult callText(Fn &&fn) {
    char sentinel = 0;
    char *out = &sentinel;  // every export must overwrite it with NULL or text
    int code = fn(&out);
    if (out == &sentinel) throw std::runtime_error("export left its out-parameter untouched");
    TextResult r{code, out == nullptr, out ? std::string(out) : std::string()};
    quorlina_free(out);
    return r;
}

}  // namespace qtest
