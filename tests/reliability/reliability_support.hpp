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

using qtest::Entry;
using qtest::Snapshot;
using qtest::snapshot;
using qtest::describeDiff;

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
