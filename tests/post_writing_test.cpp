// Writing posts and notes completely through the extended exports: a new
// post with a body, a draft flag and a `date` key; a post's body, draft
// flag or whole text changed in files written by hand, by Hugo and by
// Zola; a tag renamed or removed across every post; a note's whole text
// replaced. Edited blocks are checked against Python's tomllib when it is
// there.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/platform.hpp"
#include "core/post_frontmatter.hpp"
#include "core/posts.hpp"
#include "support/test_support.hpp"
#include "support/tomllib.hpp"

using qtest::TempSite;

namespace {

std::string fileAt(const TempSite &site, const std::string &rel) {
    return qtest::readFile(site.path(rel)).value_or("<missing>");
}

// The TOML between the delimiters of a post file, as the library finds it.
std::string blockOf(const std::string &file) {
    auto parsed = quorlina::post_frontmatter::parse(file);
    if (!parsed) return "<not a post>";
    const std::size_t close = static_cast<std::size_t>(parsed->rest.data() - file.data()) - 3;
    return file.substr(3, close - 3);
}

struct FileStamp {
    ino_t ino = 0;
    long sec = 0, nsec = 0;
    bool operator==(const FileStamp &) const = default;
};

FileStamp stampOf(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return {st.st_ino, static_cast<long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec)};
}

qtest::TextResult createExt(const TempSite &site, const char *slug, const char *tags, const char *date,
                            const quorlina_post_create_options *o) {
    return qtest::callText([&](char **out) {
        return quorlina_post_create_ext(site.c_root(), slug, "T", "D", tags, date, o, out);
    });
}

quorlina_post_create_options createOptions(const char *body, int draft, int dateKey) {
    quorlina_post_create_options o = QUORLINA_POST_CREATE_OPTIONS_INIT;
    o.body = body;
    o.draft = draft;
    o.date_key = dateKey;
    return o;
}

}  // namespace

// ------------------------------------------------------------ create

TEST(PostCreateExt, WritesTheBlockInItsOrderAndTheBodyByteForByte) {
    struct Case {
        const char *name;
        const char *tags;
        const char *body;
        int draft, dateKey;
        std::string file;
        const char *tomllib;  // the block as tomllib reads it
    };
    const Case cases[] = {
        {"date key only", nullptr, nullptr, 0, 1,
         "+++\ntitle = \"T\"\ndescription = \"D\"\ndate = 2024-05-01\n+++\n\n",
         R"({"date": "2024-05-01", "description": "D", "title": "T"})"},
        {"everything", "a, b", "Hello.\n", 1, 1,
         "+++\ntitle = \"T\"\ndescription = \"D\"\ndate = 2024-05-01\ndraft = true\ntags = [\"a\", \"b\"]\n+++\n\nHello.\n",
         R"({"date": "2024-05-01", "description": "D", "draft": true, "tags": ["a", "b"], "title": "T"})"},
        {"draft without date key", "x", "Body", 1, 0,
         "+++\ntitle = \"T\"\ndescription = \"D\"\ndraft = true\ntags = [\"x\"]\n+++\n\nBody",
         R"({"description": "D", "draft": true, "tags": ["x"], "title": "T"})"},
        {"a body holding delimiter lines", nullptr, "+++\nnot = \"front matter\"\n+++\ntext\n", 0, 0,
         "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n\n+++\nnot = \"front matter\"\n+++\ntext\n",
         R"({"description": "D", "title": "T"})"},
        {"any bytes in a body", nullptr, "\xff\xfe raw\r\n\t\x01 bytes", 0, 1,
         "+++\ntitle = \"T\"\ndescription = \"D\"\ndate = 2024-05-01\n+++\n\n\xff\xfe raw\r\n\t\x01 bytes",
         R"({"date": "2024-05-01", "description": "D", "title": "T"})"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempSite site;
        const quorlina_post_create_options o = createOptions(c.body, c.draft, c.dateKey);
        auto r = createExt(site, "p", c.tags, "2024-05-01", &o);
        ASSERT_EQ(r.code, 0) << quorlina_last_error();
        EXPECT_EQ(r.text, site.root() + "/content/blog/2024/05/01/p.md");
        const std::string file = fileAt(site, "content/blog/2024/05/01/p.md");
        EXPECT_EQ(file, c.file);
        // The body reads back as it was given.
        auto post = quorlina::readPost(site.root() + "/content/blog", "p");
        ASSERT_TRUE(post.ok());
        EXPECT_EQ(post->body(), c.body ? c.body : "");
        if (qtoml::available()) {
            EXPECT_EQ(qtoml::asJson(site.root(), blockOf(file)), c.tomllib);
        }
    }
    if (!qtoml::available()) GTEST_SKIP() << "python3 with tomllib not found: blocks not compared with tomllib";
}

// The defaults of the INIT macro, and NULL options, write the date key; with
// everything off the file is the one quorlina_post_create writes.
TEST(PostCreateExt, DefaultsAndTheOldCreate) {
    TempSite site;
    ASSERT_EQ(createExt(site, "null-options", "t", "2024-02-29", nullptr).code, 0);
    EXPECT_EQ(fileAt(site, "content/blog/2024/02/29/null-options.md"),
              "+++\ntitle = \"T\"\ndescription = \"D\"\ndate = 2024-02-29\ntags = [\"t\"]\n+++\n\n");
    const quorlina_post_create_options init = QUORLINA_POST_CREATE_OPTIONS_INIT;
    ASSERT_EQ(createExt(site, "init", "t", "2024-02-29", &init).code, 0);
    EXPECT_EQ(fileAt(site, "content/blog/2024/02/29/init.md"), fileAt(site, "content/blog/2024/02/29/null-options.md"));

    const quorlina_post_create_options off = createOptions(nullptr, 0, 0);
    ASSERT_EQ(createExt(site, "ext", "a,b", "2023-01-02", &off).code, 0);
    auto old = qtest::callText([&](char **out) {
        return quorlina_post_create(site.c_root(), "old", "T", "D", "a,b", "2023-01-02", out);
    });
    ASSERT_EQ(old.code, 0);
    EXPECT_EQ(fileAt(site, "content/blog/2023/01/02/ext.md"), fileAt(site, "content/blog/2023/01/02/old.md"));

    // Without a date, today's: the key names the date of the directory.
    ASSERT_EQ(createExt(site, "today", nullptr, nullptr, nullptr).code, 0);
    auto read = qtest::callText([&](char **out) { return quorlina_post_read(site.c_root(), "today", out); });
    ASSERT_EQ(read.code, 0);
    const std::string key = "\"date\":\"";
    const std::string date = read.text.substr(read.text.find(key) + key.size(), 10);
    EXPECT_EQ(fileAt(site, "content/blog/" + date.substr(0, 4) + "/" + date.substr(5, 2) + "/" + date.substr(8, 2) +
                               "/today.md"),
              "+++\ntitle = \"T\"\ndescription = \"D\"\ndate = " + date + "\n+++\n\n");
}

// The full record reads the flag and the date key a create wrote, and the
// flag an update set or cleared.
TEST(PostCreateExt, TheRecordReadsTheFlagAndTheDateKey) {
    TempSite site;
    const quorlina_post_create_options o = createOptions("Body\n", 1, 1);
    ASSERT_EQ(createExt(site, "p", nullptr, "2024-05-01", &o).code, 0);
    auto record = [&] {
        return qtest::callText([&](char **out) { return quorlina_post_read_ext(site.c_root(), "p", nullptr, out); });
    };
    auto r = record();
    ASSERT_EQ(r.code, 0);
    EXPECT_NE(r.text.find("\"draft\":true"), std::string::npos) << r.text;
    EXPECT_NE(r.text.find("\"date_key\":\"2024-05-01\""), std::string::npos) << r.text;
    quorlina_post_update_options u = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    u.draft = 0;
    ASSERT_EQ(quorlina_post_update_ext(site.c_root(), "p", &u), 0);
    r = record();
    EXPECT_NE(r.text.find("\"draft\":false"), std::string::npos) << r.text;
    EXPECT_EQ(fileAt(site, "content/blog/2024/05/01/p.md"),
              "+++\ntitle = \"T\"\ndescription = \"D\"\ndate = 2024-05-01\ndraft = false\n+++\n\nBody\n");
    u.draft = 1;
    ASSERT_EQ(quorlina_post_update_ext(site.c_root(), "p", &u), 0);
    r = record();
    EXPECT_NE(r.text.find("\"draft\":true"), std::string::npos) << r.text;
}

TEST(PostCreateExt, RefusesWhatCreateRefusesAndUnknownOptions) {
    TempSite site;
    quorlina_post_create_options o = createOptions("Body", 1, 1);
    ASSERT_EQ(createExt(site, "taken", nullptr, "2024-05-01", &o).code, 0);
    const qtest::Snapshot before = qtest::snapshot(site.root());
    EXPECT_EQ(createExt(site, "taken", nullptr, "2024-05-01", &o).code, 2);
    EXPECT_EQ(createExt(site, "bad slug", nullptr, "2024-05-01", &o).code, 10);
    EXPECT_EQ(createExt(site, "index", nullptr, "2024-05-01", &o).code, 10);
    EXPECT_EQ(createExt(site, "p", nullptr, "2024-02-30", &o).code, 11);
    EXPECT_EQ(createExt(site, "p", "bad\ntag", "2024-05-01", &o).code, 7);
    o.version = 0;
    EXPECT_EQ(createExt(site, "p", nullptr, "2024-05-01", &o).code, 100);
    o.version = QUORLINA_POST_CREATE_OPTIONS_VERSION + 1;
    EXPECT_EQ(createExt(site, "p", nullptr, "2024-05-01", &o).code, 100);
    EXPECT_NE(std::string(quorlina_last_error()).find("invalid options"), std::string::npos);
    EXPECT_TRUE(qtest::snapshot(site.root()) == before);
}

// ------------------------------------------------------------ update

namespace {

struct UpdateCase {
    const char *name;
    std::string before;
    std::function<void(quorlina_post_update_options &)> set;
    std::string after;
    // The top-level keys tomllib should see changed (JSON; null: removed);
    // nullptr when the file before is not TOML.
    const char *changed;
};

quorlina_post_update_options updateOptions(const std::function<void(quorlina_post_update_options &)> &set) {
    quorlina_post_update_options o = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    if (set) set(o);
    return o;
}

const std::string kHugo =
    "+++\n"
    "# Written by hugo new content\n"
    "title = 'Rust 1.39.0'   # the release\n"
    "date = 2024-05-01T10:00:00Z\n"
    "draft = false\n"
    "description = \"Async/await\"\n"
    "tags = ['rust', \"release\"]\n"
    "+++\n"
    "\n"
    "Body with\n"
    "+++\n"
    "in it.\n";

const std::string kZola =
    "+++\n"
    "title = \"Zola post\"\n"
    "description = \"D\"\n"
    "date = 2024-05-01\n"
    "\n"
    "[extra]\n"
    "author = \"me\"\n"
    "+++\n"
    "Body\n";

}  // namespace

TEST(PostUpdateExt, EditsHandWrittenFilesInTheirOwnLayout) {
    const UpdateCase cases[] = {
        {"hugo draft = false set", kHugo, [](auto &o) { o.draft = 1; },
         "+++\n# Written by hugo new content\ntitle = 'Rust 1.39.0'   # the release\ndate = 2024-05-01T10:00:00Z\n"
         "draft = true\ndescription = \"Async/await\"\ntags = ['rust', \"release\"]\n+++\n\nBody with\n+++\nin it.\n",
         R"({"draft": true})"},
        {"zola: draft goes before the table", kZola, [](auto &o) { o.draft = 1; },
         "+++\ntitle = \"Zola post\"\ndescription = \"D\"\ndate = 2024-05-01\ndraft = true\n\n[extra]\nauthor = \"me\"\n"
         "+++\nBody\n",
         R"({"draft": true})"},
        {"quoted keys, literal strings, a multi-line array",
         "+++\n\"title\" = '''Literal \"title\"'''\n'description' = 'single'\ntags = [\n  \"a\",   # first\n  'b',\n]\n"
         "[taxonomies]\ncategories = [\"x\"]\n+++\n",
         [](auto &o) { o.draft = 1; },
         "+++\n\"title\" = '''Literal \"title\"'''\n'description' = 'single'\ntags = [\n  \"a\",   # first\n  'b',\n]\n"
         "draft = true\n[taxonomies]\ncategories = [\"x\"]\n+++\n",
         R"({"draft": true})"},
        {"crlf: draft and body", "+++\r\ntitle = \"T\"\r\ndescription = \"D\"\r\n+++\r\n\r\nOld body\r\n",
         [](auto &o) {
             o.draft = 1;
             o.body = "New\r\nbody\r\n";
         },
         "+++\r\ntitle = \"T\"\r\ndescription = \"D\"\r\ndraft = true\r\n+++\r\n\r\nNew\r\nbody\r\n", R"({"draft": true})"},
        {"clearing keeps the comment", "+++\ntitle = \"T\"\ndescription = \"D\"\ndraft = true # wip\n+++\nx\n",
         [](auto &o) { o.draft = 0; }, "+++\ntitle = \"T\"\ndescription = \"D\"\ndraft = false # wip\n+++\nx\n",
         R"({"draft": false})"},
        {"a draft key in a table is not the post's",
         "+++\ntitle = \"Old\"\ndescription = \"D\"\n[params]\ndraft = true\n+++\n",
         [](auto &o) {
             o.title = "New";
             o.draft = 1;
         },
         "+++\ntitle = \"New\"\ndescription = \"D\"\ndraft = true\n[params]\ndraft = true\n+++\n",
         R"({"title": "New", "draft": true})"},
        {"after a dotted key; tags added too",
         "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\"a\"]\nauthor.name = \"me\"\n+++\n",
         [](auto &o) {
             o.draft = 1;
             o.add_tags = "b";
         },
         "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\"a\", \"b\"]\nauthor.name = \"me\"\ndraft = true\n+++\n",
         R"({"draft": true, "tags": ["a", "b"]})"},
        {"cleared with a tag removed",
         "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\"a\", \"b\"]\ndraft = true\n+++\n\nBody",
         [](auto &o) {
             o.draft = 0;
             o.remove_tags = "a";
         },
         "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\"b\"]\ndraft = false\n+++\n\nBody",
         R"({"draft": false, "tags": ["b"]})"},
        {"a flag that is not TOML is written anew", "+++\ntitle = \"T\"\ndescription = \"D\"\ndraft = yes\n+++\n",
         [](auto &o) { o.draft = 1; }, "+++\ntitle = \"T\"\ndescription = \"D\"\ndraft = true\n+++\n", nullptr},
        {"hugo body: block, closing line and blank line kept", kHugo, [](auto &o) { o.body = "New body\n+++\n"; },
         "+++\n# Written by hugo new content\ntitle = 'Rust 1.39.0'   # the release\ndate = 2024-05-01T10:00:00Z\n"
         "draft = false\ndescription = \"Async/await\"\ntags = ['rust', \"release\"]\n+++\n\nNew body\n+++\n",
         "{}"},
        {"zola body right after the closing line", kZola, [](auto &o) { o.body = "+++\nlines\n"; },
         "+++\ntitle = \"Zola post\"\ndescription = \"D\"\ndate = 2024-05-01\n\n[extra]\nauthor = \"me\"\n+++\n+++\nlines\n",
         "{}"},
        {"a closing line without a break gets one", "+++\ntitle = \"T\"\ndescription = \"D\"\n+++",
         [](auto &o) { o.body = "B"; }, "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\nB", "{}"},
        {"blank lines before the body stay", "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n\n\nOld",
         [](auto &o) { o.body = "New"; }, "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n\n\nNew", "{}"},
        {"an empty body", "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n\nOld\n", [](auto &o) { o.body = ""; },
         "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n\n", "{}"},
        {"title and body", "+++\ntitle = \"T\" # keep me\ndescription = \"D\"\n+++\nOld",
         [](auto &o) {
             o.title = "New \"T\"";
             o.body = "New";
         },
         "+++\ntitle = \"New \\\"T\\\"\" # keep me\ndescription = \"D\"\n+++\nNew", R"({"title": "New \"T\""})"},
    };
    for (const UpdateCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempSite site;
        const std::string rel = "content/blog/2024/05/01/p.md";
        qtest::writeFile(site.path(rel), c.before);
        const quorlina_post_update_options o = updateOptions(c.set);
        ASSERT_EQ(quorlina_post_update_ext(site.c_root(), "p", &o), 0) << quorlina_last_error();
        const std::string after = fileAt(site, rel);
        EXPECT_EQ(after, c.after);
        if (qtoml::available() && c.changed) {
            EXPECT_EQ(qtoml::changedOnly(site.root(), blockOf(c.before), blockOf(after), c.changed), "ok");
        }
    }
    if (!qtoml::available()) GTEST_SKIP() << "python3 with tomllib not found: blocks not compared with tomllib";
}

// The shared path: quorlina_post_update and the same fields through the
// extended export give the same bytes.
TEST(PostUpdateExt, FrontMatterFieldsAsPostUpdate) {
    TempSite a, b;
    const std::string rel = "content/blog/2024/05/01/p.md";
    for (const TempSite *s : {&a, &b}) qtest::writeFile(s->path(rel), kHugo);
    ASSERT_EQ(quorlina_post_update(a.c_root(), "p", "New", "Other", nullptr, "x, y", "rust"), 0);
    quorlina_post_update_options o = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    o.title = "New";
    o.description = "Other";
    o.add_tags = "x, y";
    o.remove_tags = "rust";
    ASSERT_EQ(quorlina_post_update_ext(b.c_root(), "p", &o), 0);
    EXPECT_EQ(fileAt(b, rel), fileAt(a, rel));
    EXPECT_NE(fileAt(b, rel), kHugo);
}

TEST(PostUpdateExt, AChangeThatChangesNothingWritesNothing) {
    const UpdateCase cases[] = {
        {"set on a draft", "+++\ntitle = \"T\"\ndescription = \"D\"\ndraft = true\n+++\n", [](auto &o) { o.draft = 1; }, "", ""},
        {"clear without a flag", kZola, [](auto &o) { o.draft = 0; }, "", ""},
        {"clear on false", kHugo, [](auto &o) { o.draft = 0; }, "", ""},
        {"the same body", kHugo, [](auto &o) { o.body = "Body with\n+++\nin it.\n"; }, "", ""},
        {"the same text", kZola, [](auto &o) { o.text = kZola.c_str(); }, "", ""},
        {"the same title and flag", kHugo,
         [](auto &o) {
             o.title = "Rust 1.39.0";
             o.draft = 0;
         },
         "", ""},
    };
    for (const UpdateCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempSite site;
        const std::string path = site.path("content/blog/2024/05/01/p.md");
        qtest::writeFile(path, c.before);
        const FileStamp before = stampOf(path);
        const quorlina_post_update_options o = updateOptions(c.set);
        ASSERT_EQ(quorlina_post_update_ext(site.c_root(), "p", &o), 0) << quorlina_last_error();
        EXPECT_TRUE(stampOf(path) == before);
        EXPECT_EQ(qtest::readFile(path).value_or("<gone>"), c.before);
    }
}

TEST(PostUpdateExt, TextReplacesTheWholeFileWhenItReadsAsAPost) {
    TempSite site;
    const std::string rel = "content/blog/2024/05/01/p.md";
    qtest::writeFile(site.path(rel), kHugo);
    const std::string edited =
        "+++\r\n# edited\r\ntitle = \"Renamed\"\r\ndescription = ''\r\nslug = \"renamed\"\r\n[extra]\r\nx = 1\r\n+++\r\nNew\r\n";
    quorlina_post_update_options o = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    o.text = edited.c_str();
    ASSERT_EQ(quorlina_post_update_ext(site.c_root(), "p", &o), 0) << quorlina_last_error();
    EXPECT_EQ(fileAt(site, rel), edited);
    auto read = qtest::callText([&](char **out) { return quorlina_post_read(site.c_root(), "renamed", out); });
    ASSERT_EQ(read.code, 0);
    EXPECT_NE(read.text.find("\"title\":\"Renamed\""), std::string::npos) << read.text;
    EXPECT_EQ(qtest::listDir(site.path("content/blog/2024/05/01")), std::vector<std::string>{"p.md"});
}

TEST(PostUpdateExt, TextThatDoesNotReadAsThePostLeavesTheFile) {
    struct Case {
        const char *name;
        std::string text;
        std::function<void(quorlina_post_update_options &)> more;
        int code;
        const char *reason;  // after "<path>: ", or the whole text when the path is not named
    };
    const Case cases[] = {
        {"no front matter", "Just text\n", nullptr, 7, "no front matter"},
        {"no description", "+++\ntitle = \"T\"\n+++\n", nullptr, 7, "description is missing"},
        {"not closed", "+++\ntitle = \"T\"\ndescription = \"D\"\n", nullptr, 7, "the front matter is not closed by \"+++\""},
        {"a bad slug", "+++\ntitle = \"T\"\ndescription = \"D\"\nslug = \"bad slug\"\n+++\n", nullptr, 10,
         "the slug is not valid"},
        {"another post's file name", "+++\ntitle = \"T\"\ndescription = \"D\"\nslug = \"other\"\n+++\n", nullptr, 2, nullptr},
        {"another post's slug key", "+++\ntitle = \"T\"\ndescription = \"D\"\nslug = 'keyed'\n+++\n", nullptr, 2, nullptr},
        {"a block that is not UTF-8", "+++\ntitle = \"caf\xe9\"\ndescription = \"D\"\n+++\n", nullptr, 7,
         "a value the front matter cannot hold, or one that would not read back"},
        {"with a title", "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n", [](auto &o) { o.title = "x"; }, 100, nullptr},
        {"with a cleared flag", "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n", [](auto &o) { o.draft = 0; }, 100, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempSite site;
        qtest::writeFile(site.path("content/blog/2024/05/01/p.md"), kHugo);
        qtest::writeFile(site.path("content/blog/2024/05/01/other.md"), "+++\ntitle = \"O\"\ndescription = \"D\"\n+++\n");
        qtest::writeFile(site.path("content/blog/2024/05/01/k.md"),
                         "+++\ntitle = \"K\"\ndescription = \"D\"\nslug = \"keyed\"\n+++\n");
        const qtest::Snapshot before = qtest::snapshot(site.root());
        quorlina_post_update_options o = QUORLINA_POST_UPDATE_OPTIONS_INIT;
        o.text = c.text.c_str();
        if (c.more) c.more(o);
        EXPECT_EQ(quorlina_post_update_ext(site.c_root(), "p", &o), c.code);
        if (c.reason) {
            EXPECT_EQ(std::string(quorlina_last_error()), site.root() + "/content/blog/2024/05/01/p.md: " + c.reason);
        }
        EXPECT_TRUE(qtest::snapshot(site.root()) == before);
    }
}

TEST(PostUpdateExt, OptionsThatAreNotUnderstoodChangeNothing) {
    TempSite site;
    const std::string rel = "content/blog/2024/05/01/p.md";
    qtest::writeFile(site.path(rel), kHugo);
    EXPECT_EQ(quorlina_post_update_ext(site.c_root(), "p", nullptr), 14);
    quorlina_post_update_options o = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    EXPECT_EQ(quorlina_post_update_ext(site.c_root(), "p", &o), 14);
    o.draft = 2;
    EXPECT_EQ(quorlina_post_update_ext(site.c_root(), "p", &o), 100);
    o.draft = 1;
    o.version = 0;
    EXPECT_EQ(quorlina_post_update_ext(site.c_root(), "p", &o), 100);
    o.version = QUORLINA_POST_UPDATE_OPTIONS_VERSION + 1;
    EXPECT_EQ(quorlina_post_update_ext(site.c_root(), "p", &o), 100);
    o.version = QUORLINA_POST_UPDATE_OPTIONS_VERSION;
    EXPECT_EQ(quorlina_post_update_ext(site.c_root(), "nope", &o), 3);
    EXPECT_EQ(quorlina_post_update_ext(nullptr, "p", &o), 100);
    EXPECT_EQ(fileAt(site, rel), kHugo);
}

// A block that only reads as it does because of what follows it (a
// multi-line string left open, so the line rules read the key) keeps no
// new body that would close the string and move the block's end.
TEST(PostUpdateExt, ABodyThatWouldReopenTheBlockIsRefused) {
    TempSite site;
    const std::string rel = "content/blog/2024/05/01/p.md";
    const std::string before = "+++\ntitle = '''Open\ndescription = \"D\"\n+++\nOld\n";
    qtest::writeFile(site.path(rel), before);
    auto read = qtest::callText([&](char **out) { return quorlina_post_read(site.c_root(), "p", out); });
    ASSERT_EQ(read.code, 0) << quorlina_last_error();
    quorlina_post_update_options o = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    o.body = "closes it'''\n+++\n";
    EXPECT_EQ(quorlina_post_update_ext(site.c_root(), "p", &o), 7);
    EXPECT_EQ(std::string(quorlina_last_error()), site.path(rel) + ": a value the front matter cannot hold, or one that would not read back");
    EXPECT_EQ(fileAt(site, rel), before);
    o.body = "Harmless\n";
    EXPECT_EQ(quorlina_post_update_ext(site.c_root(), "p", &o), 0);
    EXPECT_EQ(fileAt(site, rel), "+++\ntitle = '''Open\ndescription = \"D\"\n+++\nHarmless\n");
}

// ------------------------------------------------------------ tags

namespace {

struct TagSite {
    TempSite site;
    std::vector<std::pair<std::string, std::string>> files = {
        {"2024/01/01/p1.md", "+++\ntitle = \"P1\"\ndescription = \"D\"\ntags = [\"rust\", \"go\"]\n+++\nBody\n"},
        {"2024/01/01/p2.md", "+++\ntitle = 'P2'\ndescription = 'D'\ntags = ['rust']\n+++\n"},
        {"2023/06/15/p3.md",
         "+++\ntitle = \"P3\"\ndescription = \"D\"\ntags = [\n  \"web\",\n  \"rust\",   # main topic\n  \"wasm\",\n]\n"
         "[extra]\nx = 1\n+++\n"},
        {"2023/06/15/p4.md", "+++\ntitle = \"P4\"\ndescription = \"D\"\ntags = [\"rust\", \"systems\", \"rust\"]\n+++\n"},
        {"2022/02/02/p5.md", "+++\ntitle = \"P5\"\ndescription = \"D\"\ntags = [\"go\"]\n+++\n"},
        {"2022/02/02/p6.md", "+++\ntitle = \"P6\"\ndescription = \"D\"\ntags = [\"Rust\"]\n+++\n"},
    };
    TagSite() {
        for (const auto &[rel, bytes] : files) qtest::writeFile(path(rel), bytes);
    }
    std::string path(const std::string &rel) const { return site.path("content/blog/" + rel); }
    std::string text(const std::string &rel) const { return qtest::readFile(path(rel)).value_or("<missing>"); }
};

int renameTag(const TempSite &site, const char *from, const char *to, std::size_t *changed) {
    return quorlina_post_rename_tag(site.c_root(), from, to, nullptr, changed);
}

}  // namespace

TEST(PostRenameTag, RenamesItemByItemInEveryPost) {
    TagSite s;
    const FileStamp p5 = stampOf(s.path("2022/02/02/p5.md"));
    const FileStamp p6 = stampOf(s.path("2022/02/02/p6.md"));
    std::size_t changed = 99;
    ASSERT_EQ(renameTag(s.site, "rust", "systems", &changed), 0) << quorlina_last_error();
    EXPECT_EQ(changed, 4u);
    EXPECT_EQ(s.text("2024/01/01/p1.md"), "+++\ntitle = \"P1\"\ndescription = \"D\"\ntags = [\"go\", \"systems\"]\n+++\nBody\n");
    EXPECT_EQ(s.text("2024/01/01/p2.md"), "+++\ntitle = 'P2'\ndescription = 'D'\ntags = [\"systems\"]\n+++\n");
    EXPECT_EQ(s.text("2023/06/15/p3.md"),
              "+++\ntitle = \"P3\"\ndescription = \"D\"\ntags = [\n  \"web\",\n  \"wasm\",\n  \"systems\",\n]\n"
              "[extra]\nx = 1\n+++\n");
    EXPECT_EQ(s.text("2023/06/15/p4.md"), "+++\ntitle = \"P4\"\ndescription = \"D\"\ntags = [\"systems\"]\n+++\n");
    // Posts without the tag (a tag differing in case is another tag) are
    // not written.
    EXPECT_TRUE(stampOf(s.path("2022/02/02/p5.md")) == p5);
    EXPECT_TRUE(stampOf(s.path("2022/02/02/p6.md")) == p6);
    if (qtoml::available()) {
        for (const auto &[rel, bytes] : s.files) {
            if (rel.find("p5") != std::string::npos || rel.find("p6") != std::string::npos) continue;
            SCOPED_TRACE(rel);
            const std::string json = qtoml::asJson(s.site.root(), blockOf(s.text(rel)));
            EXPECT_NE(json.find("\"systems\"]"), std::string::npos) << json;
            EXPECT_EQ(json.find("\"rust\""), std::string::npos) << json;
        }
    }
    // Once more: nothing has the tag any longer.
    ASSERT_EQ(renameTag(s.site, "rust", "systems", &changed), 0);
    EXPECT_EQ(changed, 0u);
}

TEST(PostRenameTag, RemovesATag) {
    TagSite s;
    std::size_t changed = 0;
    ASSERT_EQ(renameTag(s.site, " rust ", nullptr, &changed), 0) << quorlina_last_error();
    EXPECT_EQ(changed, 4u);
    EXPECT_EQ(s.text("2024/01/01/p1.md"), "+++\ntitle = \"P1\"\ndescription = \"D\"\ntags = [\"go\"]\n+++\nBody\n");
    EXPECT_EQ(s.text("2024/01/01/p2.md"), "+++\ntitle = 'P2'\ndescription = 'D'\n+++\n");
    EXPECT_EQ(s.text("2023/06/15/p3.md"),
              "+++\ntitle = \"P3\"\ndescription = \"D\"\ntags = [\n  \"web\",\n  \"wasm\",\n]\n[extra]\nx = 1\n+++\n");
    EXPECT_EQ(s.text("2023/06/15/p4.md"), "+++\ntitle = \"P4\"\ndescription = \"D\"\ntags = [\"systems\"]\n+++\n");
    // The count may be left out.
    ASSERT_EQ(quorlina_post_rename_tag(s.site.c_root(), "go", "golang", nullptr, nullptr), 0);
    EXPECT_EQ(s.text("2022/02/02/p5.md"), "+++\ntitle = \"P5\"\ndescription = \"D\"\ntags = [\"golang\"]\n+++\n");
}

// The same edit as removing the old tag and adding the new one with
// quorlina_post_update, post by post.
TEST(PostRenameTag, AsPerPostUpdates) {
    TagSite a, b;
    std::size_t changed = 0;
    ASSERT_EQ(renameTag(a.site, "rust", "lang", &changed), 0);
    for (const char *slug : {"p1", "p2", "p3", "p4"})
        ASSERT_EQ(quorlina_post_update(b.site.c_root(), slug, nullptr, nullptr, nullptr, "lang", "rust"), 0) << slug;
    EXPECT_TRUE(qtest::snapshot(a.site.root()) == qtest::snapshot(b.site.root()));
}

// A tag a file holds with a comma in it (which no tag list can name) is
// reached by its exact text.
TEST(PostRenameTag, AnOldTagMayHoldAComma) {
    TempSite site;
    const std::string path = site.path("content/blog/2024/01/01/c.md");
    qtest::writeFile(path, "+++\ntitle = \"C\"\ndescription = \"D\"\ntags = ['a,b', 'c'] # kept\n+++\n");
    std::size_t changed = 0;
    ASSERT_EQ(renameTag(site, "a,b", "ab", &changed), 0) << quorlina_last_error();
    EXPECT_EQ(changed, 1u);
    EXPECT_EQ(qtest::readFile(path).value_or(""),
              "+++\ntitle = \"C\"\ndescription = \"D\"\ntags = ['c', \"ab\"] # kept\n+++\n");
}

TEST(PostRenameTag, ABrokenPostFailsTheCallBeforeAnyChange) {
    TagSite s;
    qtest::writeFile(s.path("2021/03/03/broken.md"), "+++\ntitle = \"B\"\ntags = [\"rust\"]\n+++\n");
    const qtest::Snapshot before = qtest::snapshot(s.site.root());
    std::size_t changed = 99;
    EXPECT_EQ(renameTag(s.site, "rust", "systems", &changed), 7);
    EXPECT_EQ(changed, 0u);
    EXPECT_EQ(std::string(quorlina_last_error()), s.path("2021/03/03/broken.md") + ": description is missing");
    EXPECT_TRUE(qtest::snapshot(s.site.root()) == before);
}

TEST(PostRenameTag, RefusedTagsAndEqualTags) {
    TagSite s;
    const qtest::Snapshot before = qtest::snapshot(s.site.root());
    std::size_t changed = 99;
    EXPECT_EQ(renameTag(s.site, "rust", "rust", &changed), 0);
    EXPECT_EQ(changed, 0u);
    EXPECT_EQ(renameTag(s.site, "rust", "", &changed), 7);
    EXPECT_EQ(renameTag(s.site, "rust", "  ", &changed), 7);
    EXPECT_EQ(renameTag(s.site, "rust", "a,b", &changed), 7);
    EXPECT_EQ(renameTag(s.site, "rust", "x+++", &changed), 7);
    EXPECT_EQ(renameTag(s.site, "rust", "line\nbreak", &changed), 7);
    EXPECT_EQ(renameTag(s.site, "", "x", &changed), 7);
    EXPECT_EQ(renameTag(s.site, nullptr, "x", &changed), 100);
    quorlina_tag_options o = QUORLINA_TAG_OPTIONS_INIT;
    o.version = 0;
    EXPECT_EQ(quorlina_post_rename_tag(s.site.c_root(), "rust", "x", &o, &changed), 100);
    EXPECT_EQ(changed, 0u);
    EXPECT_TRUE(qtest::snapshot(s.site.root()) == before);
    // A site without posts has nothing to rename.
    TempSite empty;
    EXPECT_EQ(renameTag(empty, "rust", "x", &changed), 0);
    EXPECT_EQ(changed, 0u);
    EXPECT_TRUE(qtest::listDir(empty.root()).empty());
}

namespace {

long g_renames = 0;
long g_failRenameAt = 0;

int failNthRename(quorlina::platform::fault::Op op) {
    if (op != quorlina::platform::fault::Op::Rename) return 0;
    return ++g_renames == g_failRenameAt ? EIO : 0;
}

}  // namespace

// A write that fails part way leaves the posts written so far written, each
// whole, and the count says how many.
TEST(PostRenameTag, AFailedWriteCountsThePostsChangedSoFar) {
    for (long failAt : {1, 2, 3}) {
        SCOPED_TRACE("rename " + std::to_string(failAt) + " fails");
        TagSite s;
        g_renames = 0;
        g_failRenameAt = failAt;
        quorlina::platform::fault::setHook(failNthRename);
        std::size_t changed = 99;
        const int code = renameTag(s.site, "rust", "systems", &changed);
        quorlina::platform::fault::setHook(nullptr);
        EXPECT_EQ(code, 100);
        EXPECT_EQ(changed, static_cast<std::size_t>(failAt - 1));
        // Every post is either as it was or renamed, and exactly `changed`
        // of them are renamed.
        std::size_t renamed = 0;
        for (const auto &[rel, bytes] : s.files) {
            const std::string now = s.text(rel);
            if (now != bytes) {
                ++renamed;
                EXPECT_NE(now.find("\"systems\""), std::string::npos) << rel;
                EXPECT_EQ(now.find("rust\""), std::string::npos) << rel;
            }
        }
        EXPECT_EQ(renamed, changed);
        // The rest follows on a second call.
        ASSERT_EQ(renameTag(s.site, "rust", "systems", &changed), 0);
        EXPECT_EQ(changed, 4u - (failAt - 1));
    }
}

// Renames and updates from many threads at once lose nothing: each call
// holds the family lock from its read to its write.
TEST(PostRenameTag, ConcurrentRenamesAndUpdatesLoseNothing) {
    TempSite site;
    constexpr int kThreads = 6, kEach = 4;
    std::string tags;
    for (int k = 0; k < kThreads * kEach; ++k) tags += std::string(k ? ", " : "") + "\"r" + std::to_string(k) + "\"";
    for (const char *name : {"a", "b"})
        qtest::writeFile(site.path(std::string("content/blog/2024/01/0") + (name[0] == 'a' ? "1/" : "2/") + name + ".md"),
                         "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [" + tags + "]\n+++\n");
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const int k = t * kEach + i;
                const std::string from = "r" + std::to_string(k), to = "s" + std::to_string(k);
                const std::string added = "u" + std::to_string(k);
                std::size_t changed = 0;
                if (renameTag(site, from.c_str(), to.c_str(), &changed) != 0 || changed != 2) ++failures;
                quorlina_post_update_options o = QUORLINA_POST_UPDATE_OPTIONS_INIT;
                o.add_tags = added.c_str();
                if (quorlina_post_update_ext(site.c_root(), k % 2 ? "a" : "b", &o) != 0) ++failures;
            }
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    for (const char *slug : {"a", "b"}) {
        auto post = quorlina::readPost(site.root() + "/content/blog", slug);
        ASSERT_TRUE(post.ok());
        const auto &got = post->frontmatter.tags;
        for (int k = 0; k < kThreads * kEach; ++k) {
            const std::string n = std::to_string(k);
            EXPECT_EQ(std::count(got.begin(), got.end(), "r" + n), 0) << slug << " r" << n;
            EXPECT_EQ(std::count(got.begin(), got.end(), "s" + n), 1) << slug << " s" << n;
            EXPECT_EQ(std::count(got.begin(), got.end(), "u" + n), (k % 2 ? slug[0] == 'a' : slug[0] == 'b') ? 1 : 0)
                << slug << " u" << n;
        }
    }
}

// ------------------------------------------------------------ notes

TEST(NoteUpdateExt, TextReplacesTheNoteWhenItReadsAsOne) {
    TempSite site;
    qtest::writeFile(site.path("content/notes/1700000000.md"), "Plain note");
    qtest::writeFile(site.path("content/notes/1700000001.md"), "+++\nslug = \"taken\"\n+++\n\nOther");
    const std::string text = "+++\n# mine\nslug = 'fresh'\n+++\n\nNew body";
    quorlina_note_update_options o = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
    o.text = text.c_str();
    ASSERT_EQ(quorlina_note_update_ext(site.c_root(), "1700000000", &o), 0) << quorlina_last_error();
    EXPECT_EQ(fileAt(site, "content/notes/1700000000.md"), text);
    auto read = qtest::callText([&](char **out) { return quorlina_note_read(site.c_root(), "fresh", out); });
    ASSERT_EQ(read.code, 0);
    EXPECT_NE(read.text.find("\"content\":\"New body\""), std::string::npos) << read.text;
    // The same text again writes nothing.
    const FileStamp stamp = stampOf(site.path("content/notes/1700000000.md"));
    ASSERT_EQ(quorlina_note_update_ext(site.c_root(), "fresh", &o), 0);
    EXPECT_TRUE(stampOf(site.path("content/notes/1700000000.md")) == stamp);
    // A body alone is a note too.
    o.text = "Only a body";
    ASSERT_EQ(quorlina_note_update_ext(site.c_root(), "fresh", &o), 0);
    EXPECT_EQ(fileAt(site, "content/notes/1700000000.md"), "Only a body");
}

TEST(NoteUpdateExt, TextThatDoesNotReadAsTheNoteLeavesTheFile) {
    struct Case {
        const char *name;
        const char *text;
        std::function<void(quorlina_note_update_options &)> more;
        int code;
    };
    const Case cases[] = {
        {"not closed", "+++\nslug = \"x\"\n", nullptr, 7},
        {"a bad slug", "+++\nslug = \"bad slug\"\n+++\n", nullptr, 10},
        {"another note's slug", "+++\nslug = \"taken\"\n+++\n", nullptr, 2},
        {"another note's stem", "+++\nslug = \"1700000001\"\n+++\n", nullptr, 2},
        {"a block that is not UTF-8", "+++\n# caf\xe9\nslug = \"s\"\n+++\n", nullptr, 7},
        {"with content", "x", [](auto &o) { o.content = "y"; }, 100},
        {"with a cleared slug", "x", [](auto &o) { o.clear_slug = 1; }, 100},
        {"with a slug", "x", [](auto &o) { o.slug = "s"; }, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempSite site;
        qtest::writeFile(site.path("content/notes/1700000000.md"), "Plain note");
        qtest::writeFile(site.path("content/notes/1700000001.md"), "+++\nslug = \"taken\"\n+++\n\nOther");
        const qtest::Snapshot before = qtest::snapshot(site.root());
        quorlina_note_update_options o = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
        o.text = c.text;
        if (c.more) c.more(o);
        EXPECT_EQ(quorlina_note_update_ext(site.c_root(), "1700000000", &o), c.code);
        if (c.code == 7 || c.code == 10) {
            EXPECT_EQ(std::string(quorlina_last_error()).rfind(site.path("content/notes/1700000000.md") + ": ", 0), 0u)
                << quorlina_last_error();
        }
        EXPECT_TRUE(qtest::snapshot(site.root()) == before);
    }
}

// Slug and content through the extended export write what
// quorlina_note_update writes.
TEST(NoteUpdateExt, FieldsAsNoteUpdate) {
    TempSite a, b;
    const std::string note = "+++\n# c\nslug = 'old' # x\n+++\n\n  Body";
    for (const TempSite *s : {&a, &b}) qtest::writeFile(s->path("content/notes/1700000000.md"), note);
    ASSERT_EQ(quorlina_note_update(a.c_root(), "old", "new", 0, nullptr), 0);
    quorlina_note_update_options o = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
    o.slug = "new";
    ASSERT_EQ(quorlina_note_update_ext(b.c_root(), "old", &o), 0);
    EXPECT_EQ(fileAt(b, "content/notes/1700000000.md"), fileAt(a, "content/notes/1700000000.md"));
    EXPECT_EQ(fileAt(b, "content/notes/1700000000.md"), "+++\n# c\nslug = \"new\" # x\n+++\n\n  Body");

    ASSERT_EQ(quorlina_note_update(a.c_root(), "new", nullptr, 1, "Fresh"), 0);
    o = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
    o.clear_slug = 1;
    o.content = "Fresh";
    ASSERT_EQ(quorlina_note_update_ext(b.c_root(), "new", &o), 0);
    EXPECT_EQ(fileAt(b, "content/notes/1700000000.md"), fileAt(a, "content/notes/1700000000.md"));

    EXPECT_EQ(quorlina_note_update_ext(b.c_root(), "1700000000", nullptr), 14);
    o = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
    o.version = 7;
    o.content = "x";
    EXPECT_EQ(quorlina_note_update_ext(b.c_root(), "1700000000", &o), 100);
    EXPECT_EQ(fileAt(b, "content/notes/1700000000.md"), fileAt(a, "content/notes/1700000000.md"));
}
