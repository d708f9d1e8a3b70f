// Updates change only the front-matter values they change: hand-written
// keys, comments, quoting, array layouts, tables and the text after the
// block stay byte for byte, and an update that changes nothing writes
// nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>

#include "support/test_support.hpp"

namespace {

struct Case {
    const char *name;
    const char *file;  // below content/
    std::string before;
    std::function<int(const char *root)> update;
    std::string after;
};

const Case kCases[] = {
    {"snippet code keeps an escaped description", "snippets/1700000000.py",
     "+++\ndescription = \"Say \\\"hi\\\"\"\nfilename = \"a.py\"\n+++\n\nold",
     [](const char *r) { return quorlina_snippet_update(r, 1700000000, nullptr, "new", nullptr); },
     "+++\ndescription = \"Say \\\"hi\\\"\"\nfilename = \"a.py\"\n+++\n\nnew"},
    {"post description keeps literal title and multi-line tags", "blog/2024/10/01/lit.md",
     "+++\ntitle = 'Lit'\ndescription = \"D\"\ntags = [\n  \"a\",\n  \"b\",\n]\n+++\n\nBody\n",
     [](const char *r) { return quorlina_post_update(r, "lit", nullptr, "E", nullptr, nullptr, nullptr); },
     "+++\ntitle = 'Lit'\ndescription = \"E\"\ntags = [\n  \"a\",\n  \"b\",\n]\n+++\n\nBody\n"},
    {"post tags keep draft, date, comments and a table", "blog/2024/10/01/drafty.md",
     "+++\n# mine\ntitle = \"T\"\ndate = 2024-10-01\ndescription = \"D\"\ndraft = true\n\n[params]\n  tags = [\"x\"]\n+++\nBody",
     [](const char *r) { return quorlina_post_update(r, "drafty", nullptr, nullptr, nullptr, "wip", nullptr); },
     "+++\n# mine\ntitle = \"T\"\ndate = 2024-10-01\ndescription = \"D\"\ntags = [\"wip\"]\ndraft = true\n\n[params]\n  tags = [\"x\"]\n+++\nBody"},
    {"post title written twice keeps the line the reader took", "blog/2024/10/01/twice.md",
     "+++\ntitle = \"A\"\ndescription = \"D\"\ntitle = \"B\"\nweight = 3\n+++\n",
     [](const char *r) { return quorlina_post_update(r, "twice", "C", nullptr, nullptr, nullptr, nullptr); },
     "+++\ndescription = \"D\"\ntitle = \"C\"\nweight = 3\n+++\n"},
    {"post tags cleared lose their line, a CR in a kept value is fine", "blog/2024/10/01/cr.md",
     "+++\r\ntitle = \"T\"\r\ndescription = \"a\rb\"\r\ntags = [\"x\"] # old\r\n+++\r\n",
     [](const char *r) { return quorlina_post_update(r, "cr", nullptr, nullptr, "", nullptr, nullptr); },
     "+++\r\ntitle = \"T\"\r\ndescription = \"a\rb\"\r\n+++\r\n"},
    {"note slug cleared keeps the other lines", "notes/1700000000.md",
     "+++\nslug = \"s\"\ndraft = true\n+++\n\nBody",
     [](const char *r) { return quorlina_note_update(r, "s", nullptr, 1, nullptr); },
     "+++\ndraft = true\n+++\n\nBody"},
    {"note slug cleared from a bare block leaves the body", "notes/1700000000.md",
     "+++\nslug = \"s\"\n+++\n\nBody",
     [](const char *r) { return quorlina_note_update(r, "s", nullptr, 1, nullptr); },
     "Body"},
    {"note slug added goes on top of a block without one", "notes/1700000000.md",
     "+++\ndraft = true\n+++\n\nBody",
     [](const char *r) { return quorlina_note_update(r, "1700000000", "n", 0, "New"); },
     "+++\nslug = \"n\"\ndraft = true\n+++\n\nNew"},
    // Hand-written TOML: only the values asked for change, in their spans.
    {"post tag added to literal tags keeps their quoting", "blog/2024/10/01/lit.md",
     "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = ['a', 'b']\n+++\n",
     [](const char *r) { return quorlina_post_update(r, "lit", nullptr, nullptr, nullptr, "c", nullptr); },
     "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = ['a', 'b', \"c\"]\n+++\n"},
    {"post tag added to an array closed on its last line keeps the keys after it", "blog/2024/10/01/d.md",
     "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\"a\",\n  \"b\"]\ndraft = true\nweight = 5\n+++\n",
     [](const char *r) { return quorlina_post_update(r, "d", nullptr, nullptr, nullptr, "c", nullptr); },
     "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\"a\",\n  \"b\",\n  \"c\"]\ndraft = true\nweight = 5\n+++\n"},
    {"post tags edited item by item keep comments inside the array", "blog/2024/10/01/c.md",
     "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\n  \"release\",  # every release post\n  \"x\",\n]\n+++\n",
     [](const char *r) { return quorlina_post_update(r, "c", nullptr, nullptr, nullptr, "y", "x"); },
     "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\n  \"release\",  # every release post\n  \"y\",\n]\n+++\n"},
    {"post tag removed from one line goes with its separator", "blog/2024/10/01/one.md",
     "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\"a\", 'b', \"c\"] # three\n+++\n",
     [](const char *r) { return quorlina_post_update(r, "one", nullptr, nullptr, nullptr, nullptr, "b"); },
     "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\"a\", \"c\"] # three\n+++\n"},
    {"post tags of a CRLF array get CRLF lines", "blog/2024/10/01/crlf.md",
     "+++\r\ntitle = \"T\"\r\ndescription = \"D\"\r\ntags = [\r\n    \"a\",\r\n]\r\n+++\r\n",
     [](const char *r) { return quorlina_post_update(r, "crlf", nullptr, nullptr, nullptr, "b", nullptr); },
     "+++\r\ntitle = \"T\"\r\ndescription = \"D\"\r\ntags = [\r\n    \"a\",\r\n    \"b\",\r\n]\r\n+++\r\n"},
    {"post tags replaced keep the array's layout", "blog/2024/10/01/all.md",
     "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\n  \"a\",\n  \"b\",\n]\n+++\n",
     [](const char *r) { return quorlina_post_update(r, "all", nullptr, nullptr, "x,y", nullptr, nullptr); },
     "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\n  \"x\",\n  \"y\",\n]\n+++\n"},
    {"post description written as a multi-line string is one value", "blog/2024/10/01/ml.md",
     "+++\ntitle = \"T\"\ndescription = \"\"\"\nLong\n[not a table]\ntitle = \"inside\"\n\"\"\"\ntags = [\"a\"]\n+++\nBody",
     [](const char *r) { return quorlina_post_update(r, "ml", nullptr, "Short", nullptr, nullptr, nullptr); },
     "+++\ntitle = \"T\"\ndescription = \"Short\"\ntags = [\"a\"]\n+++\nBody"},
    {"post title is never found inside a string", "blog/2024/10/01/in.md",
     "+++\ntitle = \"T\"\ndescription = \"\"\"\ntitle = \"inside\"\n\"\"\"\n+++\nBody",
     [](const char *r) { return quorlina_post_update(r, "in", "New", nullptr, nullptr, nullptr, nullptr); },
     "+++\ntitle = \"New\"\ndescription = \"\"\"\ntitle = \"inside\"\n\"\"\"\n+++\nBody"},
    {"post value holding +++ stays whole", "blog/2024/10/01/plus.md",
     "+++\ntitle = \"T\"\ndescription = \"C+++ and more\"\n+++\nBody",
     [](const char *r) { return quorlina_post_update(r, "plus", "U", nullptr, nullptr, nullptr, nullptr); },
     "+++\ntitle = \"U\"\ndescription = \"C+++ and more\"\n+++\nBody"},
    {"post quoted tags key is the tags key", "blog/2024/10/01/q.md",
     "+++\ntitle = \"T\"\ndescription = \"D\"\n\"tags\" = [\"a\"]\n+++\n",
     [](const char *r) { return quorlina_post_update(r, "q", nullptr, nullptr, nullptr, "b", nullptr); },
     "+++\ntitle = \"T\"\ndescription = \"D\"\n\"tags\" = [\"a\", \"b\"]\n+++\n"},
    {"post key spelling, spacing and comment after a changed value stay", "blog/2024/10/01/k.md",
     "+++\n'title'   =   'Old' # keep me\ndescription = \"D\"\n+++\n",
     [](const char *r) { return quorlina_post_update(r, "k", "New", nullptr, nullptr, nullptr, nullptr); },
     "+++\n'title'   =   \"New\" # keep me\ndescription = \"D\"\n+++\n"},
    {"post dotted key is another table's; the added tags follow the last managed key", "blog/2024/10/01/dot.md",
     "+++\ntitle = \"T\"\ndescription = \"\"\"\nD\n\"\"\"\nparams.tags = [\"x\"]\n+++\n",
     [](const char *r) { return quorlina_post_update(r, "dot", nullptr, nullptr, nullptr, "y", nullptr); },
     "+++\ntitle = \"T\"\ndescription = \"\"\"\nD\n\"\"\"\ntags = [\"y\"]\nparams.tags = [\"x\"]\n+++\n"},
    {"note slug cleared keeps the body's blank lines and indentation", "notes/1700000000.md",
     "+++\nslug = \"s\"\n+++\n\n\n    code\n",
     [](const char *r) { return quorlina_note_update(r, "s", nullptr, 1, nullptr); },
     "+++\n+++\n\n\n    code\n"},
    {"note slug with a comment after it", "notes/1700000000.md",
     "+++\nslug = \"s\" # mine\n+++\nBody",
     [](const char *r) { return quorlina_note_update(r, "s", "t", 0, nullptr); },
     "+++\nslug = \"t\" # mine\n+++\nBody"},
    {"snippet description changed, literal file name kept", "snippets/1700000000.py",
     "+++\ndescription = 'Old'  # short\nfilename = 'a.py'\n+++\n\ncode",
     [](const char *r) { return quorlina_snippet_update(r, 1700000000, "New", nullptr, nullptr); },
     "+++\ndescription = \"New\"  # short\nfilename = 'a.py'\n+++\n\ncode"},
};

TEST(FormatPreservingUpdate, OnlyChangedLinesChange) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        qtest::TempSite site;
        const std::string path = site.path(std::string("content/") + c.file);
        qtest::writeFile(path, c.before);
        ASSERT_EQ(c.update(site.c_root()), 0);
        EXPECT_EQ(qtest::readFile(path).value_or("<gone>"), c.after);
    }
}

// An update whose result equals the file leaves the file alone: same
// inode, same modification time.
TEST(FormatPreservingUpdate, NothingChangedWritesNothing) {
    struct NoOp {
        const char *file;
        std::string bytes;
        std::function<int(const char *root)> update;
    };
    const NoOp cases[] = {
        {"blog/2024/10/01/p.md", "+++\ntitle = 'Same' # c\ndescription = \"D\"\ntags = ['a']\n+++\nBody",
         [](const char *r) { return quorlina_post_update(r, "p", "Same", "D", nullptr, "a", "zzz"); }},
        {"notes/1700000000.md", "+++\nslug = 's'\n+++\n\n  Body",
         [](const char *r) { return quorlina_note_update(r, "s", "s", 0, nullptr); }},
        {"snippets/1700000000.py", "+++\ndescription = \"\"\"D\"\"\"\n+++\ncode",
         [](const char *r) { return quorlina_snippet_update(r, 1700000000, "D", nullptr, nullptr); }},
    };
    for (const NoOp &c : cases) {
        SCOPED_TRACE(c.file);
        qtest::TempSite site;
        const std::string path = site.path(std::string("content/") + c.file);
        qtest::writeFile(path, c.bytes);
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        ASSERT_EQ(c.update(site.c_root()), 0);
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_EQ(qtest::readFile(path).value_or("<gone>"), c.bytes);
    }
}

}  // namespace
