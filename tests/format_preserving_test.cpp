// Updates change only the front-matter lines of the values they change:
// hand-written keys, comments, quoting, tables and the text after the
// block stay byte for byte.
#include <gtest/gtest.h>

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

}  // namespace
