// Helpers shared by the reliability suites: whole-tree snapshots, a small
// fixture site holding every family, and JSON checks of returned texts.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "record_check.hpp"
#include "support/test_support.hpp"

namespace qrel {

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

inline Snapshot filesOnly(const Snapshot &s) {
    Snapshot out;
    for (const auto &[k, v] : s)
        if (v.kind != 'd') out[k] = v;
    return out;
}

inline std::set<std::string> dirsOf(const Snapshot &s) {
    std::set<std::string> out;
    for (const auto &[k, v] : s)
        if (v.kind == 'd') out.insert(k);
    return out;
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

// Whether `s` is the state before a call or the state after it, allowing
// for directories that were made (or pruned) while the files are those of
// one of the two states. Temporary files are never allowed.
inline bool isBeforeOrAfter(const Snapshot &s, const Snapshot &before, const Snapshot &after) {
    Snapshot files = filesOnly(s);
    if (!(files == filesOnly(before)) && !(files == filesOnly(after))) return false;
    std::set<std::string> dirs = dirsOf(s), b = dirsOf(before), a = dirsOf(after);
    for (const auto &d : dirs)
        if (!b.count(d) && !a.count(d)) return false;
    for (const auto &d : b)
        if (a.count(d) && !dirs.count(d)) return false;
    return true;
}

// Temporary files (".quorlina-tmp-...") anywhere in the tree.
inline std::vector<std::string> temporaries(const Snapshot &s) {
    std::vector<std::string> out;
    for (const auto &[k, v] : s) {
        std::size_t slash = k.rfind('/');
        std::string name = slash == std::string::npos ? k : k.substr(slash + 1);
        if (name.rfind(".quorlina-tmp-", 0) == 0) out.push_back(k);
    }
    return out;
}

// ------------------------------------------------------------------ fixture

inline const char *kSnippetA = "+++\ndescription = \"Sort a list\"\nfilename = \"sort.py\"\n+++\n\nx = 1\n";
inline const char *kSnippetB = "+++\ndescription = \"Hello \\\\ world\"\n+++\n\nputs 'hi'\n";
inline const char *kPostA =
    "+++\ntitle = \"Say \\\"hi\\\"\"\ndescription = \"First post\"\ntags = [\"travel\", \"notes\"]\n+++\n\nHello\n";
inline const char *kPostB = "+++\ntitle = \"Second\"\ndescription = \"D\"\nslug = \"intro\"\n+++\nBody\n";
inline const char *kNoteA = "+++\nslug = \"hello-world\"\n+++\n\nFirst line.\nSecond line.";
inline const char *kNoteB = "Plain note";

// A small site with two items of each family.
inline void writeFixture(const std::string &root) {
    qtest::writeFile(root + "/content/snippets/1700000000.py", kSnippetA);
    qtest::writeFile(root + "/content/snippets/1700003600.rb", kSnippetB);
    qtest::writeFile(root + "/content/blog/2024/03/09/hello.md", kPostA);
    qtest::writeFile(root + "/content/blog/2023/01/02/second.md", kPostB);
    qtest::writeFile(root + "/content/notes/1733570000.md", kNoteA);
    qtest::writeFile(root + "/content/notes/1700000000.md", kNoteB);
}

// Removes everything below `root` but keeps `root` itself.
inline void clearSite(const std::string &root) {
    for (const auto &n : qtest::listDir(root)) qtest::removeTree(root + "/" + n);
}

// ------------------------------------------------------------ list checks

enum class Family { Snippets, Posts, Notes };

inline const char *familyName(Family f) {
    switch (f) {
        case Family::Snippets: return "snippets";
        case Family::Posts: return "posts";
        case Family::Notes: return "notes";
    }
    return "?";
}

// Lists a family; returns the code and, when it is 0, the parsed array.
// A failure to meet the out-parameter or JSON rules is reported in `fault`.
struct Listing {
    int code = -1;
    qjson::Value value;
    std::string fault;
};

inline Listing listFamily(const std::string &root, Family f) {
    Listing l;
    char *out = nullptr;
    qjson::Record kind = qjson::Record::Snippet;
    switch (f) {
        case Family::Snippets: l.code = quorlina_snippet_list(root.c_str(), &out); break;
        case Family::Posts:
            l.code = quorlina_post_list(root.c_str(), &out);
            kind = qjson::Record::PostSummary;
            break;
        case Family::Notes:
            l.code = quorlina_note_list(root.c_str(), &out);
            kind = qjson::Record::NoteSummary;
            break;
    }
    if ((l.code == 0) != (out != nullptr)) l.fault = "out-parameter does not match code " + std::to_string(l.code);
    if (out) {
        std::string text(out);
        if (l.fault.empty()) l.fault = qjson::checkListText(text, kind, &l.value);
        if (!l.fault.empty()) l.fault += " in " + text.substr(0, 200);
    }
    quorlina_free(out);
    return l;
}

}  // namespace qrel
