// The frame every export shares, one table per rule with a row per export:
// a NULL where a pointer is required returns 100 with *out NULL and touches
// nothing, a path of 1024 bytes or more returns 100, and so does a file over
// 10 MiB.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/platform.hpp"
#include "support/test_support.hpp"

using qtest::TempSite;

namespace {

// An export called with a site root and an out-parameter it may ignore.
using Call = int (*)(const char *root, char **out);

// Every entry below `dir` with the bytes of each file: the same before and
// after a call that changed nothing.
std::string treeOf(const std::string &dir) {
    std::string out;
    for (const auto &name : qtest::listDir(dir)) {
        const std::string path = dir + "/" + name;
        out += path + "\n" + qtest::readFile(path).value_or("") + "\n" + treeOf(path);
    }
    return out;
}

// Calls `call` on `root` and expects `code`, *out NULL when the export is
// given an out-parameter, and the tree below `site` unchanged.
void expectRefused(const std::string &what, bool givesOut, const std::string &site, const std::string &root,
                   Call call, int code) {
    const std::string before = treeOf(site);
    char sentinel = 0;
    char *out = &sentinel;
    EXPECT_EQ(call(root.c_str(), &out), code) << what;
    if (givesOut) {
        EXPECT_EQ(out, nullptr) << what;
    }
    if (out != &sentinel) quorlina_free(out);  // text from a call that should have failed
    EXPECT_EQ(treeOf(site), before) << what;
}

// Calls `call` on `root`: the code, and the text if it returned one.
qtest::TextResult run(Call call, const std::string &root) {
    char *out = nullptr;
    const int code = call(root.c_str(), &out);
    qtest::TextResult r{code, out == nullptr, out ? std::string(out) : std::string()};
    quorlina_free(out);
    return r;
}

// Whether the export named first in `what` has an out-parameter.
bool hasOut(const std::string &what) {
    return what.find("_create") != std::string::npos || what.find("_list") != std::string::npos ||
           what.find("_read") != std::string::npos || what.starts_with("check");
}

// A directory `<root>/<dir>` of exactly `length` bytes (made of names of at
// most 200 bytes); returns the root, which is created.
std::string rootWithDirOf(const TempSite &site, const std::string &dir, std::size_t length) {
    std::string root = site.root() + "/r";
    const std::size_t rootLength = length - dir.size() - 1;
    while (root.size() < rootLength) {
        const std::size_t left = rootLength - root.size();
        std::size_t piece = std::min<std::size_t>(200, left - 1);
        if (left - 1 - piece == 1) --piece;  // no "/name" fits in one byte
        root += "/" + std::string(piece, 'r');
    }
    qtest::writeFile(root + "/.keep", "");
    return root;
}

// A check of one family.
int checkOne(const char *root, const char *family, char **out) {
    quorlina_check_options o = QUORLINA_CHECK_OPTIONS_INIT;
    o.family = family;
    return quorlina_check(root, &o, out);
}

// A list of full records with their bodies.
int listWithContent(int (*list)(const char *, const quorlina_record_options *, char **), const char *root, char **out) {
    quorlina_record_options o = QUORLINA_RECORD_OPTIONS_INIT;
    o.content = 1;
    return list(root, &o, out);
}

const char *const kSnippets = "content/snippets";
const char *const kBlog = "content/blog";
const char *const kNotes = "content/notes";

}  // namespace

TEST(Frame, NullArgumentsReturn100WithOutNullAndTouchNothing) {
    using R = const char *;
    using O = char **;
    struct Row {
        const char *what;
        bool givesOut;  // whether *out must be set to NULL
        Call call;
    } rows[] = {
        {"snippet_create root", true, [](R, O o) { return quorlina_snippet_create(nullptr, 1, "d", "c", "a.py", o); }},
        {"snippet_create description", true, [](R r, O o) { return quorlina_snippet_create(r, 1, nullptr, "c", "a.py", o); }},
        {"snippet_create code", true, [](R r, O o) { return quorlina_snippet_create(r, 1, "d", nullptr, "a.py", o); }},
        {"snippet_create filename", true, [](R r, O o) { return quorlina_snippet_create(r, 1, "d", "c", nullptr, o); }},
        {"snippet_create out", false, [](R r, O) { return quorlina_snippet_create(r, 1, "d", "c", "a.py", nullptr); }},
        {"snippet_list root", true, [](R, O o) { return quorlina_snippet_list(nullptr, o); }},
        {"snippet_list out", false, [](R r, O) { return quorlina_snippet_list(r, nullptr); }},
        {"snippet_read root", true, [](R, O o) { return quorlina_snippet_read(nullptr, 1700000000, o); }},
        {"snippet_read out", false, [](R r, O) { return quorlina_snippet_read(r, 1700000000, nullptr); }},
        {"snippet_update root", false, [](R, O) { return quorlina_snippet_update(nullptr, 1700000000, "d", nullptr, nullptr); }},
        {"snippet_delete root", false, [](R, O) { return quorlina_snippet_delete(nullptr, 1700000000); }},

        {"post_create root", true, [](R, O o) { return quorlina_post_create(nullptr, "s", "T", "D", nullptr, nullptr, o); }},
        {"post_create slug", true, [](R r, O o) { return quorlina_post_create(r, nullptr, "T", "D", nullptr, nullptr, o); }},
        {"post_create title", true, [](R r, O o) { return quorlina_post_create(r, "s", nullptr, "D", nullptr, nullptr, o); }},
        {"post_create description", true, [](R r, O o) { return quorlina_post_create(r, "s", "T", nullptr, nullptr, nullptr, o); }},
        {"post_create out", false, [](R r, O) { return quorlina_post_create(r, "s", "T", "D", nullptr, "2024-03-09", nullptr); }},
        {"post_list root", true, [](R, O o) { return quorlina_post_list(nullptr, o); }},
        {"post_list out", false, [](R r, O) { return quorlina_post_list(r, nullptr); }},
        {"post_read root", true, [](R, O o) { return quorlina_post_read(nullptr, "p", o); }},
        {"post_read slug", true, [](R r, O o) { return quorlina_post_read(r, nullptr, o); }},
        {"post_read out", false, [](R r, O) { return quorlina_post_read(r, "p", nullptr); }},
        {"post_update root", false, [](R, O) { return quorlina_post_update(nullptr, "p", "T", nullptr, nullptr, nullptr, nullptr); }},
        {"post_update slug", false, [](R r, O) { return quorlina_post_update(r, nullptr, "T", nullptr, nullptr, nullptr, nullptr); }},
        {"post_delete root", false, [](R, O) { return quorlina_post_delete(nullptr, "p"); }},
        {"post_delete slug", false, [](R r, O) { return quorlina_post_delete(r, nullptr); }},

        {"note_create root", true, [](R, O o) { return quorlina_note_create(nullptr, 1, nullptr, nullptr, o); }},
        {"note_create out", false, [](R r, O) { return quorlina_note_create(r, 1, nullptr, nullptr, nullptr); }},
        {"note_list root", true, [](R, O o) { return quorlina_note_list(nullptr, o); }},
        {"note_list out", false, [](R r, O) { return quorlina_note_list(r, nullptr); }},
        {"note_read root", true, [](R, O o) { return quorlina_note_read(nullptr, "1700000000", o); }},
        {"note_read id", true, [](R r, O o) { return quorlina_note_read(r, nullptr, o); }},
        {"note_read out", false, [](R r, O) { return quorlina_note_read(r, "1700000000", nullptr); }},
        {"note_update root", false, [](R, O) { return quorlina_note_update(nullptr, "1700000000", nullptr, 0, "x"); }},
        {"note_update id", false, [](R r, O) { return quorlina_note_update(r, nullptr, nullptr, 0, "x"); }},
        {"note_delete root", false, [](R, O) { return quorlina_note_delete(nullptr, "1700000000"); }},
        {"note_delete id", false, [](R r, O) { return quorlina_note_delete(r, nullptr); }},

        {"check root", true, [](R, O o) { return quorlina_check(nullptr, nullptr, o); }},
        {"check out", false, [](R r, O) { return quorlina_check(r, nullptr, nullptr); }},
        {"post_list_ext root", true, [](R, O o) { return quorlina_post_list_ext(nullptr, nullptr, o); }},
        {"post_list_ext out", false, [](R r, O) { return quorlina_post_list_ext(r, nullptr, nullptr); }},
        {"post_read_ext root", true, [](R, O o) { return quorlina_post_read_ext(nullptr, "p", nullptr, o); }},
        {"post_read_ext slug", true, [](R r, O o) { return quorlina_post_read_ext(r, nullptr, nullptr, o); }},
        {"post_read_ext out", false, [](R r, O) { return quorlina_post_read_ext(r, "p", nullptr, nullptr); }},
        {"note_list_ext root", true, [](R, O o) { return quorlina_note_list_ext(nullptr, nullptr, o); }},
        {"note_list_ext out", false, [](R r, O) { return quorlina_note_list_ext(r, nullptr, nullptr); }},
        {"note_read_ext root", true, [](R, O o) { return quorlina_note_read_ext(nullptr, "1700000000", nullptr, o); }},
        {"note_read_ext id", true, [](R r, O o) { return quorlina_note_read_ext(r, nullptr, nullptr, o); }},
        {"note_read_ext out", false, [](R r, O) { return quorlina_note_read_ext(r, "1700000000", nullptr, nullptr); }},
    };
    // Each call on an empty site, where nothing may be created, and on one
    // holding the item of each family that the calls name.
    for (bool seeded : {false, true}) {
        TempSite site;
        if (seeded) {
            qtest::writeFile(site.path("content/snippets/1700000000.py"), "+++\ndescription = \"d\"\n+++\nx");
            qtest::writeFile(site.path("content/blog/2024/03/09/p.md"), "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n");
            qtest::writeFile(site.path("content/notes/1700000000.md"), "a");
        }
        for (const Row &row : rows)
            expectRefused(row.what + std::string(seeded ? " (seeded)" : ""), row.givesOut, site.root(), site.root(),
                          row.call, 100);
    }
}

// A family directory of 1023 bytes is usable: a name in it is looked up
// (3), only a new file's longer path is refused. At 1024 bytes every export
// of the family refuses it.
TEST(Frame, FamilyDirectoryPathLimitIs1023Bytes) {
    using R = const char *;
    using O = char **;
    struct Row {
        const char *what;
        const char *dir;
        int codeAt1023;
        Call call;
    } rows[] = {
        {"snippet_create", kSnippets, 100, [](R r, O o) { return quorlina_snippet_create(r, 1, "d", "c", "a.py", o); }},
        {"snippet_list", kSnippets, 0, [](R r, O o) { return quorlina_snippet_list(r, o); }},
        {"snippet_read", kSnippets, 3, [](R r, O o) { return quorlina_snippet_read(r, 1, o); }},
        {"snippet_update", kSnippets, 3, [](R r, O) { return quorlina_snippet_update(r, 1, "d", nullptr, nullptr); }},
        {"snippet_delete", kSnippets, 3, [](R r, O) { return quorlina_snippet_delete(r, 1); }},
        {"post_create", kBlog, 100, [](R r, O o) { return quorlina_post_create(r, "p", "T", "D", nullptr, "2024-03-09", o); }},
        {"post_list", kBlog, 0, [](R r, O o) { return quorlina_post_list(r, o); }},
        {"post_read", kBlog, 3, [](R r, O o) { return quorlina_post_read(r, "p", o); }},
        {"post_update", kBlog, 3, [](R r, O) { return quorlina_post_update(r, "p", "T", nullptr, nullptr, nullptr, nullptr); }},
        {"post_delete", kBlog, 3, [](R r, O) { return quorlina_post_delete(r, "p"); }},
        {"note_create", kNotes, 100, [](R r, O o) { return quorlina_note_create(r, 1, nullptr, "x", o); }},
        {"note_list", kNotes, 0, [](R r, O o) { return quorlina_note_list(r, o); }},
        {"note_read", kNotes, 3, [](R r, O o) { return quorlina_note_read(r, "1", o); }},
        {"note_update", kNotes, 3, [](R r, O) { return quorlina_note_update(r, "1", nullptr, 0, "y"); }},
        {"note_delete", kNotes, 3, [](R r, O) { return quorlina_note_delete(r, "1"); }},
        {"check snippets", kSnippets, 0, [](R r, O o) { return checkOne(r, "snippet", o); }},
        {"check posts", kBlog, 0, [](R r, O o) { return checkOne(r, "post", o); }},
        {"check notes", kNotes, 0, [](R r, O o) { return checkOne(r, "note", o); }},
        {"post_list_ext", kBlog, 0, [](R r, O o) { return quorlina_post_list_ext(r, nullptr, o); }},
        {"post_read_ext", kBlog, 3, [](R r, O o) { return quorlina_post_read_ext(r, "p", nullptr, o); }},
        {"note_list_ext", kNotes, 0, [](R r, O o) { return quorlina_note_list_ext(r, nullptr, o); }},
        {"note_read_ext", kNotes, 3, [](R r, O o) { return quorlina_note_read_ext(r, "1", nullptr, o); }},
    };
    for (const Row &row : rows) {
        TempSite site;
        const std::string fits = rootWithDirOf(site, row.dir, 1023);
        const std::string tooLong = rootWithDirOf(site, row.dir, 1024);
        ASSERT_EQ(fits.size() + 1 + std::string(row.dir).size(), 1023u);
        qtest::makeParents(fits + "/" + row.dir + "/");
        qtest::makeParents(tooLong + "/" + row.dir + "/");
        if (row.codeAt1023 == 0) {
            auto listed = run(row.call, fits);
            EXPECT_EQ(listed.code, 0) << row.what;
            EXPECT_EQ(listed.text, "[]") << row.what;
        } else {
            expectRefused(row.what + std::string(" at 1023"), hasOut(row.what), site.root(), fits, row.call,
                          row.codeAt1023);
        }
        expectRefused(row.what, hasOut(row.what), site.root(), tooLong, row.call, 100);
    }
}

// In a shorter directory the limit applies to the path of the entry: a new
// file of 1024 bytes is refused and one of 1023 written; an existing one is
// listed but neither rewritten nor removed.
TEST(Frame, EntryPathLimitIs1023Bytes) {
    using R = const char *;
    using O = char **;
    struct Row {
        const char *what;
        const char *dir;
        const char *entry;  // below dir: seeded first unless the row creates it
        std::size_t entryLength;
        bool create;
        int code;
        Call call;
    } rows[] = {
        {"snippet_create", kSnippets, "1700000000.py", 1024, true, 100,
         [](R r, O o) { return quorlina_snippet_create(r, 1700000000, "d", "c", "a.py", o); }},
        {"snippet_create", kSnippets, "1700000000.py", 1023, true, 0,
         [](R r, O o) { return quorlina_snippet_create(r, 1700000000, "d", "c", "a.py", o); }},
        {"snippet_list", kSnippets, "1700000000.py", 1024, false, 0, [](R r, O o) { return quorlina_snippet_list(r, o); }},
        {"snippet_update", kSnippets, "1700000000.py", 1024, false, 100,
         [](R r, O) { return quorlina_snippet_update(r, 1700000000, "n", nullptr, nullptr); }},
        {"snippet_delete", kSnippets, "1700000000.py", 1024, false, 100,
         [](R r, O) { return quorlina_snippet_delete(r, 1700000000); }},
        {"post_create", kBlog, "2024/03/09/p.md", 1024, true, 100,
         [](R r, O o) { return quorlina_post_create(r, "p", "T", "D", nullptr, "2024-03-09", o); }},
        {"post_create", kBlog, "2024/03/09/p.md", 1023, true, 0,
         [](R r, O o) { return quorlina_post_create(r, "p", "T", "D", nullptr, "2024-03-09", o); }},
        {"post_list", kBlog, "2024/03/09/p.md", 1024, false, 0, [](R r, O o) { return quorlina_post_list(r, o); }},
        {"post_update", kBlog, "2024/03/09/p.md", 1024, false, 100,
         [](R r, O) { return quorlina_post_update(r, "p", "New", nullptr, nullptr, nullptr, nullptr); }},
        {"post_delete", kBlog, "2024/03/09/p.md", 1024, false, 100, [](R r, O) { return quorlina_post_delete(r, "p"); }},
        {"note_create", kNotes, "1700000000.md", 1024, true, 100,
         [](R r, O o) { return quorlina_note_create(r, 1700000000, nullptr, "x", o); }},
        {"note_create", kNotes, "1700000000.md", 1023, true, 0,
         [](R r, O o) { return quorlina_note_create(r, 1700000000, nullptr, "x", o); }},
        {"note_list", kNotes, "1700000000.md", 1024, false, 0, [](R r, O o) { return quorlina_note_list(r, o); }},
        {"note_update", kNotes, "1700000000.md", 1024, false, 100,
         [](R r, O) { return quorlina_note_update(r, "1700000000", nullptr, 0, "y"); }},
        {"note_delete", kNotes, "1700000000.md", 1024, false, 100,
         [](R r, O) { return quorlina_note_delete(r, "1700000000"); }},
    };
    const std::string seeds[] = {"+++\ndescription = \"d\"\n+++\nx", "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n", "x"};
    for (const Row &row : rows) {
        TempSite site;
        const std::string dir = row.dir, entry = row.entry;
        const std::string root = rootWithDirOf(site, dir, row.entryLength - entry.size() - 1);
        const std::string path = root + "/" + dir + "/" + entry;
        ASSERT_EQ(path.size(), row.entryLength);
        if (!row.create) qtest::writeFile(path, seeds[dir == kSnippets ? 0 : dir == kBlog ? 1 : 2]);
        if (row.code != 0) {
            expectRefused(row.what, hasOut(row.what), site.root(), root, row.call, row.code);
            continue;
        }
        auto r = run(row.call, root);
        EXPECT_EQ(r.code, 0) << row.what;
        if (row.create) {
            EXPECT_EQ(r.text, path) << row.what;
            EXPECT_TRUE(qtest::exists(path)) << row.what;
        } else {
            EXPECT_NE(r.text.find(dir == kBlog ? "\"slug\":\"p\"" : "1700000000"), std::string::npos) << r.text;
        }
    }
}

// A file of exactly 10 MiB is read whole; one byte more fails every export
// that reads it, and an update then writes nothing.
TEST(Frame, FilesOverTenMebibytesReturn100) {
    using R = const char *;
    using O = char **;
    const std::size_t limit = quorlina::platform::kReadLimit;
    struct Row {
        const char *what;
        const char *file;
        const char *head;      // the file's text before its body of "x"s
        const char *jsonHead;  // read: the JSON text before the body, "" for others
        Call call;
    } rows[] = {
        {"snippet_list", "content/snippets/1700000000.txt", "+++\ndescription = \"big\"\n+++\n", "",
         [](R r, O o) { return quorlina_snippet_list(r, o); }},
        {"snippet_read", "content/snippets/1700000000.txt", "+++\ndescription = \"big\"\n+++\n",
         "{\"id\":\"1700000000\",\"date\":\"2023-11-14\",\"description\":\"big\",\"filename\":\"1700000000.txt\","
         "\"code\":\"",
         [](R r, O o) { return quorlina_snippet_read(r, 1700000000, o); }},
        {"snippet_update", "content/snippets/1700000000.txt", "+++\ndescription = \"big\"\n+++\n", "",
         [](R r, O) { return quorlina_snippet_update(r, 1700000000, "new", "y", nullptr); }},
        {"post_list", "content/blog/2024/03/09/p.md", "+++\ntitle = \"t\"\ndescription = \"d\"\n+++\n", "",
         [](R r, O o) { return quorlina_post_list(r, o); }},
        {"post_read", "content/blog/2024/03/09/p.md", "+++\ntitle = \"t\"\ndescription = \"d\"\n+++\n",
         "{\"date\":\"2024-03-09\",\"slug\":\"p\",\"title\":\"t\",\"description\":\"d\",\"tags\":[],\"content\":\"",
         [](R r, O o) { return quorlina_post_read(r, "p", o); }},
        {"post_update", "content/blog/2024/03/09/p.md", "+++\ntitle = \"t\"\ndescription = \"d\"\n+++\n", "",
         [](R r, O) { return quorlina_post_update(r, "p", "n", nullptr, nullptr, nullptr, nullptr); }},
        {"note_list", "content/notes/1700000000.md", "", "", [](R r, O o) { return quorlina_note_list(r, o); }},
        {"note_read", "content/notes/1700000000.md", "",
         "{\"date\":\"2023-11-14\",\"id\":\"1700000000\",\"slug\":null,\"content\":\"",
         [](R r, O o) { return quorlina_note_read(r, "1700000000", o); }},
        {"note_update", "content/notes/1700000000.md", "", "",
         [](R r, O) { return quorlina_note_update(r, "1700000000", nullptr, 0, "y"); }},
        {"post_list_ext", "content/blog/2024/03/09/p.md", "+++\ntitle = \"t\"\ndescription = \"d\"\n+++\n", "",
         [](R r, O o) { return listWithContent(quorlina_post_list_ext, r, o); }},
        {"post_read_ext", "content/blog/2024/03/09/p.md", "+++\ntitle = \"t\"\ndescription = \"d\"\n+++\n", "",
         [](R r, O o) { return quorlina_post_read_ext(r, "p", nullptr, o); }},
        {"note_list_ext", "content/notes/1700000000.md", "", "",
         [](R r, O o) { return listWithContent(quorlina_note_list_ext, r, o); }},
        {"note_read_ext", "content/notes/1700000000.md", "", "",
         [](R r, O o) { return quorlina_note_read_ext(r, "1700000000", nullptr, o); }},
    };
    for (const Row &row : rows) {
        TempSite site;
        const std::string head = row.head, body(limit - head.size(), 'x');
        qtest::writeFile(site.path(row.file), head + body);
        auto r = run(row.call, site.root());
        EXPECT_EQ(r.code, 0) << row.what;
        if (*row.jsonHead) {
            EXPECT_TRUE(r.text == row.jsonHead + body + "\"}") << row.what;  // not printed: 10 MiB
        }

        qtest::writeFile(site.path(row.file), head + body + "x");
        expectRefused(row.what, hasOut(row.what), site.root(), site.root(), row.call, 100);
    }
}
