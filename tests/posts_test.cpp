// Posts: the front-matter writer and reader, the dated tree scan, and the
// five post exports (create, list, read, update, delete).
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/civil_date.hpp"
#include "core/platform.hpp"
#include "core/post_frontmatter.hpp"
#include "core/frontmatter.hpp"
#include "core/posts.hpp"
#include "ffi/frame.hpp"
#include "support/test_support.hpp"
#include "support/whole_loads.hpp"

using namespace quorlina;
using qtest::TempSite;
using Tags = std::vector<std::string>;

namespace {

// The worked example: title Say "hi", description First post, tags travel
// and notes.
const std::string kWorkedBlock =
    "+++\n"
    "title = \"Say \\\"hi\\\"\"\n"
    "description = \"First post\"\n"
    "tags = [\"travel\", \"notes\"]\n"
    "+++\n";

std::string blogPath(const TempSite &site, const std::string &rel) { return site.path("content/blog/" + rel); }

void writePost(const TempSite &site, const std::string &rel, const std::string &text) {
    qtest::writeFile(blogPath(site, rel), text);
}

std::string fileText(const TempSite &site, const std::string &rel) {
    return qtest::readFile(blogPath(site, rel)).value_or("<missing>");
}

std::string simplePost(const std::string &title, const std::string &extra = "", const std::string &body = "") {
    return "+++\ntitle = \"" + title + "\"\ndescription = \"d\"\n" + extra + "+++\n" + body;
}

qtest::TextResult create(const TempSite &site, const char *slug, const char *title, const char *description,
                         const char *tags, const char *date) {
    return qtest::callText([&](char **out) {
        return quorlina_post_create(site.c_root(), slug, title, description, tags, date, out);
    });
}

qtest::TextResult list(const TempSite &site) {
    return qtest::callText([&](char **out) { return quorlina_post_list(site.c_root(), out); });
}

qtest::TextResult read(const TempSite &site, const char *slug) {
    return qtest::callText([&](char **out) { return quorlina_post_read(site.c_root(), slug, out); });
}

int update(const TempSite &site, const char *slug, const char *title, const char *description, const char *tags,
           const char *add = nullptr, const char *remove = nullptr) {
    return quorlina_post_update(site.c_root(), slug, title, description, tags, add, remove);
}

PostFrontmatter parseOk(const std::string &text) {
    auto r = post_frontmatter::parse(text);
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : std::string(errorName(r.error())));
    return r.ok() ? r->frontmatter : PostFrontmatter{};
}

Error parseError(const std::string &text) {
    auto r = post_frontmatter::parse(text);
    EXPECT_FALSE(r.ok());
    return r.ok() ? Error::Unexpected : r.error();
}

// The entries of a directory in the order the file system yields them.
std::vector<std::string> readdirOrder(const std::string &path) {
    std::vector<std::string> names;
    if (DIR *d = ::opendir(path.c_str())) {
        while (dirent *e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    return names;
}

std::vector<std::string> slugsOf(const std::vector<Post> &posts) {
    std::vector<std::string> out;
    for (const auto &p : posts) out.push_back(p.slug);
    return out;
}

struct HookGuard {
    explicit HookGuard(platform::fault::Hook h) { platform::fault::setHook(h); }
    ~HookGuard() { platform::fault::setHook(nullptr); }
};

}  // namespace

// ------------------------------------------------------------------ writer

TEST(PostWriter, WorkedExampleByteForByte) {
    EXPECT_EQ(buildPostFrontmatter("Say \"hi\"", "First post", {"travel", "notes"}), kWorkedBlock);
    // Without tags the block is exactly four lines.
    EXPECT_EQ(buildPostFrontmatter("T", "D", {}), "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n");
    EXPECT_EQ(buildPostFrontmatter("T", "D", {"x"}),
              "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\"x\"]\n+++\n");
}

TEST(PostWriter, OnlyQuotesAndBackslashesAreEscaped) {
    std::string out;
    appendTomlField(out, "title", "a\"b\\c\td\x01\xC3\xA9");
    EXPECT_EQ(out, "title = \"a\\\"b\\\\c\td\x01\xC3\xA9\"\n");
    EXPECT_EQ(buildPostFrontmatter("t", "", {"\"q\"", "a\\"}),
              "+++\ntitle = \"t\"\ndescription = \"\"\ntags = [\"\\\"q\\\"\", \"a\\\\\"]\n+++\n");
}

// ------------------------------------------------------------------ reader

TEST(PostReader, WorkedExampleReadsBack) {
    const std::string file = kWorkedBlock + "\n";
    auto r = post_frontmatter::parse(file);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->frontmatter.title, "Say \"hi\"");
    EXPECT_EQ(r->frontmatter.description, "First post");
    EXPECT_EQ(r->frontmatter.tags, (Tags{"travel", "notes"}));
    EXPECT_FALSE(r->frontmatter.slug.has_value());
    EXPECT_EQ(r->body, "");
    EXPECT_EQ(r->rest, "\n\n");
}

TEST(PostReader, DelimitersAndBody) {
    EXPECT_EQ(parseError(" +++\ntitle = \"a\"\ndescription = \"b\"\n+++\n"), Error::MissingFrontmatter);
    EXPECT_EQ(parseError("\xEF\xBB\xBF+++\n+++\n"), Error::MissingFrontmatter);
    EXPECT_EQ(parseError(""), Error::MissingFrontmatter);
    EXPECT_EQ(parseError("++"), Error::MissingFrontmatter);
    EXPECT_EQ(parseError("+++"), Error::UnclosedFrontmatter);
    EXPECT_EQ(parseError("+++++"), Error::UnclosedFrontmatter);
    EXPECT_EQ(parseError("+++\ntitle = \"a\"\ndescription = \"b\"\n"), Error::UnclosedFrontmatter);
    // The closing delimiter need not start a line; the body keeps its tail.
    auto r = post_frontmatter::parse("+++\ntitle = a\ndescription = b +++ \r\n\t Body \n\n");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->frontmatter.description, "b");
    EXPECT_EQ(r->body, "Body \n\n");
    EXPECT_EQ(r->rest, " \r\n\t Body \n\n");
}

TEST(PostReader, KeysValuesAndRequiredFields) {
    EXPECT_EQ(parseError("+++\ndescription = \"d\"\n+++\n"), Error::MissingTitle);
    EXPECT_EQ(parseError("+++\ntitle = \"t\"\n+++\n"), Error::MissingDescription);
    // Missing title is reported before missing description.
    EXPECT_EQ(parseError("+++\nfoo = 1\n+++\n"), Error::MissingTitle);

    PostFrontmatter fm = parseOk(
        "+++\n"
        "  # comment = ignored\n"
        "title = \"\"\n"
        "description=Hello\n"
        "date = \"not a date at all\"\n"
        "no equals sign here\n"
        "Title = \"case matters\"\n"
        "title = [\"arrays only mean something for tags\"]\n"
        "slug = my_post-2\n"
        "tags = \"not an array\"\n"
        "+++\n");
    EXPECT_EQ(fm.title, "");
    EXPECT_EQ(fm.description, "Hello");
    EXPECT_EQ(fm.slug, std::optional<std::string>("my_post-2"));
    EXPECT_TRUE(fm.tags.empty());

    fm = parseOk("+++\ntitle = \"one\"\ntitle = \"two\"\ndescription = \"\"\ntags = [a]\ntags = [b]\n+++");
    EXPECT_EQ(fm.title, "two");
    EXPECT_EQ(fm.tags, (Tags{"a", "b"}));

    // A TOML string decodes every escape. In a value that is not TOML, \" and
    // \\ are decoded and any other backslash stays.
    fm = parseOk("+++\ntitle = \"a\\\"b\\\\c\\nd\"\ndescription = x\\\"\\n\n+++\n");
    EXPECT_EQ(fm.title, "a\"b\\c\nd");
    EXPECT_EQ(fm.description, "x\"\\n");
}

TEST(PostReader, SlugKeyMustBeAValidSlug) {
    EXPECT_EQ(parseError(simplePost("t", "slug = \"my post\"\n")), Error::InvalidSlug);
    EXPECT_EQ(parseError(simplePost("t", "slug = \"\"\n")), Error::InvalidSlug);
    EXPECT_EQ(parseError(simplePost("t", "slug = a.b\n")), Error::InvalidSlug);
    EXPECT_EQ(parseOk(simplePost("t", "slug = \"intro\"\n")).slug, std::optional<std::string>("intro"));
}

TEST(PostReader, TagArraysAsDocumented) {
    EXPECT_TRUE(parseOk(simplePost("t", "tags = []\n")).tags.empty());
    EXPECT_EQ(parseOk(simplePost("t", "tags = [a, \"b\" ,, c]\n")).tags, (Tags{"a", "b", "c"}));
    EXPECT_EQ(parseOk(simplePost("t", "tags = [a] trailing, [junk]\n")).tags, (Tags{"a"}));
    // A multi-line array: one item per line, comments and blank lines skipped.
    EXPECT_EQ(parseOk(simplePost("t", "tags = [\n  \"x\",\n  # comment\n\n  y\n]\n")).tags, (Tags{"x", "y"}));
    // Items before a missing "]" are dropped and the array stays open.
    EXPECT_EQ(parseOk(simplePost("t", "tags = [\"a\", \"b\"\n  c,\n] ignored\n")).tags, (Tags{"c"}));
    // An open array swallows the lines up to a line starting with "]".
    PostFrontmatter fm = parseOk("+++\ntags = [\ntitle = \"t\"\n]\ntitle = real\ndescription = d\n+++");
    EXPECT_EQ(fm.tags, (Tags{"title = \"t\""}));
    EXPECT_EQ(fm.title, "real");
}

// Quoted tag items are strings: "," and "]" inside them belong to the tag,
// and \" and \\ are decoded. Bare items read as before.
TEST(PostReader, QuotedTagItemsAreStrings) {
    EXPECT_EQ(parseOk(simplePost("t", "tags = [\"a,b\", \"x]y\" , \"\\\"q\\\"\", \"back\\\\\", \"\\\\\"]\n")).tags,
              (Tags{"a,b", "x]y", "\"q\"", "back\\", "\\"}));
    // The "]" inside the quotes does not close the array.
    EXPECT_EQ(parseOk(simplePost("t", "tags = [\"a]b\"\n  c\n]\n")).tags, (Tags{"c"}));
    // Text after a closing quote makes a bare item, read up to "," or "]".
    EXPECT_EQ(parseOk(simplePost("t", "tags = [\"a\"x , b, \"c]d\"e]\n")).tags, (Tags{"a\"x", "b", "c"}));
    // An unclosed quote is a bare item too.
    EXPECT_EQ(parseOk(simplePost("t", "tags = [\"ab, c]\n")).tags, (Tags{"ab", "c"}));
    EXPECT_TRUE(parseOk(simplePost("t", "tags = [\"\", \"\"]\n")).tags.empty());
}

// Everything the writer can write reads back unchanged.
TEST(PostReader, WriterOutputReadsBackUnchanged) {
    const std::vector<std::string> values = {
        "plain", "Say \"hi\"", "\"", "\\", "a\\", "\\\"", "a,b", "x]y", "[z]", " spaced ", "\ttab\t",
        "#hash", "a = b", "tags = [x]", "+", "++", "caf\xC3\xA9 \xE2\x9C\x93", "\"quoted\"", "end\\\\", "]",
        ",", "\\n"};
    for (const auto &v : values) {
        std::string file = buildPostFrontmatter(v, v, {v, "after"}) + "\nbody";
        auto r = post_frontmatter::parse(file);
        ASSERT_TRUE(r.ok()) << v;
        EXPECT_EQ(r->frontmatter.title, v);
        EXPECT_EQ(r->frontmatter.description, v);
        EXPECT_EQ(r->frontmatter.tags, (Tags{v, "after"})) << v;
        EXPECT_EQ(r->body, "body");
    }
    const std::string all = buildPostFrontmatter("t", "d", values);
    auto r = post_frontmatter::parse(all);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->frontmatter.tags, values);
}

// ------------------------------------------------------------ dates, tags

TEST(PostDate, CalendarValidation) {
    for (const char *ok : {"2024-02-29", "2000-02-29", "0001-01-01", "9999-12-31", "2023-04-30"})
        EXPECT_TRUE(parsePostDate(ok).ok()) << ok;
    for (const char *bad : {"2023-02-29", "1900-02-29", "2024-13-01", "2024-00-10", "2024-1-09", "2024-01-9",
                            "2024/01/09", "2024-01-09-x", "", "2024-04-31", "2024-01-00", "abcd-01-01",
                            "2024--1-01", "-024-01-01", "0000-01-01", "0000-02-29"})
        EXPECT_EQ(parsePostDate(bad).error(), Error::InvalidDate) << bad;
    // The number reader takes a leading "+" and "_" between digits.
    auto d = parsePostDate("2_24-+2-09");
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d->year, 224);
    EXPECT_EQ(d->month, 2);
    EXPECT_EQ(d->day, 9);
}

// -------------------------------------------------------------------- scan

TEST(PostScan, MissingBlogDirectoryIsEmpty) {
    TempSite site;
    auto posts = qtest::loadPosts(blogPath(site, ""));
    ASSERT_TRUE(posts.ok());
    EXPECT_TRUE(posts->empty());
    EXPECT_EQ(qtest::loadPosts(std::string(1024, 'a')).error(), Error::NameTooLong);
}

TEST(PostScan, RecordFields) {
    TempSite site;
    writePost(site, "2024/03/09/hello.md", simplePost("Hello", "", "\n\nHi\n"));
    writePost(site, "2024/03/08/other.md", simplePost("O", "slug = \"intro\"\n"));
    writePost(site, "2023/02/31/x.md", simplePost("X"));
    writePost(site, "2022/01/01/.md", simplePost("E"));
    writePost(site, "2_24/+3/09/odd.md", simplePost("Odd"));
    auto posts = qtest::loadPosts(site.path("content/blog"));
    ASSERT_TRUE(posts.ok());
    ASSERT_EQ(posts->size(), 5u);
    // "_" sorts above the digits, so this odd but valid date comes first.
    EXPECT_EQ((*posts)[0].date, "2_24-+3-09");
    EXPECT_EQ((*posts)[0].path, blogPath(site, "2_24/+3/09/odd.md"));
    const Post &p = (*posts)[1];
    EXPECT_EQ(p.path, blogPath(site, "2024/03/09/hello.md"));
    EXPECT_EQ(p.slug, "hello");
    EXPECT_EQ(p.date, "2024-03-09");
    EXPECT_EQ(p.frontmatter.title, "Hello");
    EXPECT_EQ(p.body(), "Hi\n");
    EXPECT_EQ(post_frontmatter::parse(p.raw)->rest, "\n\n\nHi\n");
    EXPECT_EQ(p.raw, simplePost("Hello", "", "\n\nHi\n"));
    EXPECT_EQ(p.fileName(), "hello.md");
    EXPECT_EQ((*posts)[2].slug, "intro");
    EXPECT_EQ((*posts)[2].date, "2024-03-08");
    EXPECT_EQ((*posts)[3].date, "2023-02-31");
    EXPECT_EQ((*posts)[4].slug, "");
    EXPECT_EQ((*posts)[4].date, "2022-01-01");
    EXPECT_EQ(qtest::findPostBySlug(*posts, "intro"), &(*posts)[2]);
    EXPECT_EQ(qtest::findPostBySlug(*posts, "other"), nullptr);
    EXPECT_EQ(qtest::findPostBySlug(*posts, "Hello"), nullptr);
    EXPECT_EQ(qtest::findPostBySlug({}, "hello"), nullptr);
}

TEST(PostScan, NonQualifyingPathsAreSkippedUnread) {
    TempSite site;
    const std::string bad = "not a post";
    for (const char *rel : {"2024/03/09/index.md", "2024/03/09/_index.md", "2024/03/hello.md",
                            "2024/03/09/extra/hello.md", "2024/3/09/hello.md", "2024/13/09/hello.md",
                            "2024/03/00/hello.md", "0000/03/09/hello.md", "2024/03/09/hello.MD",
                            "2024/03/09/hello.md.bak", "2024/03/09/.quorlina-tmp-1-2-3", "_index.md",
                            "2024/_index.md", "10000/03/09/hello.md", "2024/03/32/hello.md", "2024/_3/09/a.md",
                            "drafts/03/09/hello.md", "2024/03/09/dir.md/x.md"})
        writePost(site, rel, bad);
    writePost(site, "2024/03/09/good.md", simplePost("Good"));
    // Links are never followed: to a post file, nor to a date directory.
    ASSERT_EQ(::symlink("good.md", blogPath(site, "2024/03/09/link.md").c_str()), 0);
    ASSERT_EQ(::symlink("2024", blogPath(site, "2025").c_str()), 0);
    ASSERT_EQ(::symlink("09", blogPath(site, "2024/03/10").c_str()), 0);
    ASSERT_EQ(::mkfifo(blogPath(site, "2024/03/09/pipe.md").c_str(), 0644), 0);

    // Count what the scan opens: the blog directory, 2024, 03, 09 and the one
    // post file, nothing else.
    static int opens;
    opens = 0;
    {
        HookGuard hook([](platform::fault::Op op) {
            if (op == platform::fault::Op::Open) ++opens;
            return 0;
        });
        auto posts = qtest::loadPosts(site.path("content/blog"));
        ASSERT_TRUE(posts.ok());
        EXPECT_EQ(slugsOf(*posts), (Tags{"good"}));
    }
    EXPECT_EQ(opens, 5);
}

TEST(PostScan, NewestFirstWithWalkOrderTies) {
    TempSite site;
    const char *names[] = {"m", "b", "z", "a", "q", "c", "x", "d", "k", "e", "y", "f"};
    for (const char *n : names) writePost(site, std::string("2024/03/09/") + n + ".md", simplePost(n));
    writePost(site, "2024/03/10/newer.md", simplePost("newer"));
    writePost(site, "2023/12/31/older.md", simplePost("older"));
    writePost(site, "2024/03/09/dup-b.md", simplePost("dup", "slug = \"b\"\n"));

    Tags expected = {"newer"};
    for (const auto &n : readdirOrder(blogPath(site, "2024/03/09")))
        expected.push_back(n == "dup-b.md" ? "b" : n.substr(0, n.size() - 3));
    expected.push_back("older");

    auto posts = qtest::loadPosts(site.path("content/blog"));
    ASSERT_TRUE(posts.ok());
    EXPECT_EQ(slugsOf(*posts), expected);
    // Of the two posts with slug "b" the one met first in the walk wins.
    std::string firstB;
    for (const auto &n : readdirOrder(blogPath(site, "2024/03/09"))) {
        if (n == "b.md" || n == "dup-b.md") {
            firstB = n == "b.md" ? "b" : "dup";
            break;
        }
    }
    const Post *b = qtest::findPostBySlug(*posts, "b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->frontmatter.title, firstB);
}

TEST(PostScan, OneBadFileFailsTheWholeScan) {
    TempSite site;
    writePost(site, "2024/03/09/good.md", simplePost("Good"));
    writePost(site, "2024/03/10/bad.md", "+++\ndescription = \"no title\"\n+++\n");
    EXPECT_EQ(qtest::loadPosts(site.path("content/blog")).error(), Error::MissingTitle);
    EXPECT_EQ(list(site).code, 7);
    EXPECT_EQ(read(site, "good").code, 7);
    EXPECT_EQ(update(site, "good", "New", nullptr, nullptr), 7);
    EXPECT_EQ(quorlina_post_delete(site.c_root(), "good"), 7);
    EXPECT_EQ(fileText(site, "2024/03/09/good.md"), simplePost("Good"));

    writePost(site, "2024/03/10/bad.md", simplePost("t", "slug = \"bad slug\"\n"));
    EXPECT_EQ(list(site).code, 10);
    writePost(site, "2024/03/10/bad.md", "no front matter");
    EXPECT_EQ(list(site).code, 7);
}

// ------------------------------------------------------------------ create

TEST(PostCreate, WritesTheDocumentedFile) {
    TempSite site;
    auto r = create(site, "hello", "Hi", "D", nullptr, "2024-03-09");
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.text, site.root() + "/content/blog/2024/03/09/hello.md");
    EXPECT_EQ(*qtest::readFile(r.text), "+++\ntitle = \"Hi\"\ndescription = \"D\"\n+++\n\n");

    r = create(site, "say-hi", "Say \"hi\"", "First post", " travel, ,notes ,\ta+b ", "2024-03-09");
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(fileText(site, "2024/03/09/say-hi.md"),
              "+++\ntitle = \"Say \\\"hi\\\"\"\ndescription = \"First post\"\n"
              "tags = [\"travel\", \"notes\", \"a+b\"]\n+++\n\n");

    // An empty tags text writes no tags line; the year is padded.
    ASSERT_EQ(create(site, "My_Post-2", "T", "D", "", "0999-01-02").code, 0);
    EXPECT_EQ(fileText(site, "0999/01/02/My_Post-2.md"), "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n\n");

    // Mode 0666 less the umask, like any new file.
    mode_t mask = ::umask(022);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(blogPath(site, "2024/03/09/hello.md").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);

    // It reads back as written.
    auto json = read(site, "say-hi");
    EXPECT_EQ(json.text,
              "{\"date\":\"2024-03-09\",\"slug\":\"say-hi\",\"title\":\"Say \\\"hi\\\"\","
              "\"description\":\"First post\",\"tags\":[\"travel\",\"notes\",\"a+b\"],\"content\":\"\"}");
}

// A slug answers to one post per date: a post of that date whose "slug"
// key says it already answers refuses the create (2), as its own file name
// does; another date is another post. A broken file of the date answers to
// nothing, and does not stop the create.
TEST(PostCreate, ASlugThatAPostOfTheDateAnswersToIsRefused) {
    struct Row {
        const char *slug;
        const char *date;
        int code;
    } rows[] = {
        {"hello", "2024-05-01", 2},   // hello-world.md says slug = "hello"
        {"hello-world", "2024-05-01", 2},  // its file is there, though it answers to "hello"
        {"other", "2024-05-01", 2},   // other.md, by its name
        {"hello", "2024-05-02", 0},   // another date
        {"fresh", "2024-05-01", 0},
    };
    for (const Row &r : rows) {
        TempSite site;
        writePost(site, "2024/05/01/hello-world.md", simplePost("Hand", "slug = \"hello\"\n", "\nBy hand.\n"));
        writePost(site, "2024/05/01/other.md", simplePost("Other"));
        writePost(site, "2024/05/01/broken.md", "+++\nslug = \"fresh\"\n");
        auto res = create(site, r.slug, "T", "D", nullptr, r.date);
        EXPECT_EQ(res.code, r.code) << r.slug << " " << r.date;
        EXPECT_EQ(res.isNull, r.code != 0);
        EXPECT_EQ(fileText(site, "2024/05/01/hello-world.md"), simplePost("Hand", "slug = \"hello\"\n", "\nBy hand.\n"));
    }
    // The delete of "hello" then removes the hand-written post, the only
    // one that answers.
    TempSite site;
    writePost(site, "2024/05/01/hello-world.md", simplePost("Hand", "slug = \"hello\"\n"));
    EXPECT_EQ(create(site, "hello", "T", "D", nullptr, "2024-05-01").code, 2);
    EXPECT_EQ(quorlina_post_delete(site.c_root(), "hello"), 0);
    EXPECT_FALSE(qtest::exists(blogPath(site, "2024/05/01/hello-world.md")));
    EXPECT_EQ(quorlina_post_delete(site.c_root(), "hello"), 3);
}

TEST(PostCreate, DefaultDateIsTodayInUtc) {
    TempSite site;
    std::string before = dateFromTimestamp(platform::nowSeconds());
    auto r = create(site, "today", "T", "D", nullptr, nullptr);
    std::string after = dateFromTimestamp(platform::nowSeconds());
    ASSERT_EQ(r.code, 0);
    auto path = [&](const std::string &d) {
        return site.root() + "/content/blog/" + d.substr(0, 4) + "/" + d.substr(5, 2) + "/" + d.substr(8, 2) +
               "/today.md";
    };
    EXPECT_TRUE(r.text == path(before) || r.text == path(after)) << r.text;
}

TEST(PostCreate, RefusedArgumentsWriteNothing) {
    TempSite site;
    struct Case {
        const char *slug, *title, *description, *tags, *date;
        int code;
    } cases[] = {
        {"", "T", "D", nullptr, "2024-03-09", 10},
        {"my post", "T", "D", nullptr, "2024-03-09", 10},
        {"a.b", "T", "D", nullptr, "2024-03-09", 10},
        {"../x", "T", "D", nullptr, "2024-03-09", 10},
        {"s", "", "D", nullptr, "2024-03-09", 7},
        {"s", "T", "", nullptr, "2024-03-09", 7},
        // Line breaks and "+++" cannot be held by the block.
        {"s", "a\nb", "D", nullptr, "2024-03-09", 7},
        {"s", "a\rb", "D", nullptr, "2024-03-09", 7},
        {"s", "a+++b", "D", nullptr, "2024-03-09", 7},
        {"s", "T", "x\n", nullptr, "2024-03-09", 7},
        {"s", "T", "+++", nullptr, "2024-03-09", 7},
        {"s", "T", "D", "ok,a+++", "2024-03-09", 7},
        {"s", "T", "D", "ok,a\rb", "2024-03-09", 7},
        // The slug is checked first, then title and description, then the date.
        {"bad slug", "", "", nullptr, "x", 10},
        {"s", "", "D", nullptr, "x", 7},
        {"s", "T", "D", nullptr, "2023-02-29", 11},
        {"s", "T", "D", nullptr, "", 11},
        {"s", "T", "D", nullptr, "2024-1-09", 11},
        {"s", "T", "D", nullptr, "0000-01-01", 11},
    };
    for (const auto &c : cases) {
        auto r = create(site, c.slug, c.title, c.description, c.tags, c.date);
        EXPECT_EQ(r.code, c.code) << c.slug << " / " << c.title << " / " << c.description << " / " << c.date;
        EXPECT_TRUE(r.isNull);
    }
    EXPECT_FALSE(qtest::exists(site.path("content")));
}

TEST(PostCreate, DuplicatesAndLinksAreNeverOverwritten) {
    TempSite site;
    ASSERT_EQ(create(site, "hello", "First", "D", nullptr, "2024-03-09").code, 0);
    auto again = create(site, "hello", "Second", "D", nullptr, "2024-03-09");
    EXPECT_EQ(again.code, 2);
    EXPECT_TRUE(again.isNull);
    EXPECT_EQ(fileText(site, "2024/03/09/hello.md"), "+++\ntitle = \"First\"\ndescription = \"D\"\n+++\n\n");
    // The same slug on another date is a second post.
    EXPECT_EQ(create(site, "hello", "Other day", "D", nullptr, "2024-03-10").code, 0);

    // A link at the file name counts as existing and is not written through.
    qtest::writeFile(site.path("outside.md"), "keep");
    ASSERT_EQ(::symlink(site.path("outside.md").c_str(), blogPath(site, "2024/03/09/linked.md").c_str()), 0);
    EXPECT_EQ(create(site, "linked", "T", "D", nullptr, "2024-03-09").code, 2);
    EXPECT_EQ(*qtest::readFile(site.path("outside.md")), "keep");

    // A date directory that is a link is not written through either.
    ::mkdir(site.path("elsewhere").c_str(), 0755);
    ASSERT_EQ(::symlink(site.path("elsewhere").c_str(), blogPath(site, "2030").c_str()), 0);
    auto r = create(site, "x", "T", "D", nullptr, "2030-01-01");
    EXPECT_EQ(r.code, 8);  // opened without following: not a directory
    EXPECT_TRUE(qtest::listDir(site.path("elsewhere")).empty());
    EXPECT_EQ(qtest::listDir(blogPath(site, "2024/03/09")), (Tags{"hello.md", "linked.md"}));
}

// A delete on another thread may prune the day directory just before the
// new file is published there; create makes it again and succeeds.
TEST(PostCreate, RetriesOnceWhenTheDayDirectoryVanishes) {
    TempSite site;
    static int links;
    links = 0;
    {
        HookGuard hook([](platform::fault::Op op) {
            if (op != platform::fault::Op::Link) return 0;
            return ++links == 1 ? ENOENT : 0;
        });
        EXPECT_EQ(create(site, "p", "T", "D", nullptr, "2024-03-09").code, 0);
    }
    EXPECT_EQ(links, 2);
    EXPECT_EQ(qtest::listDir(blogPath(site, "2024/03/09")), Tags{"p.md"});
}

// ------------------------------------------------------------- list / read

TEST(PostListRead, DocumentedRecords) {
    TempSite site;
    writePost(site, "2024/03/09/hello.md",
              "+++\ntitle = \"Hello\"\ndescription = \"First post\"\ntags = [\"a\", \"b\"]\n+++\n\nHi\n");
    auto l = list(site);
    EXPECT_EQ(l.code, 0);
    EXPECT_EQ(l.text, "[{\"date\":\"2024-03-09\",\"slug\":\"hello\",\"title\":\"Hello\",\"tags\":[\"a\",\"b\"]}]");
    auto r = read(site, "hello");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text,
              "{\"date\":\"2024-03-09\",\"slug\":\"hello\",\"title\":\"Hello\",\"description\":\"First post\","
              "\"tags\":[\"a\",\"b\"],\"content\":\"Hi\\n\"}");

    writePost(site, "2024/03/10/plain.md",
              "+++\ntitle = \"Q \\\"x\\\" \\\\ \\u\"\ndescription = \"\"\n+++\r\n\tTab\tand \x01 \"q\"");
    l = list(site);
    EXPECT_EQ(l.text,
              "[{\"date\":\"2024-03-10\",\"slug\":\"plain\",\"title\":\"Q \\\"x\\\" \\\\ \\\\u\",\"tags\":[]},"
              "{\"date\":\"2024-03-09\",\"slug\":\"hello\",\"title\":\"Hello\",\"tags\":[\"a\",\"b\"]}]");
    EXPECT_EQ(read(site, "plain").text,
              "{\"date\":\"2024-03-10\",\"slug\":\"plain\",\"title\":\"Q \\\"x\\\" \\\\ \\\\u\",\"description\":\"\","
              "\"tags\":[],\"content\":\"Tab\\tand \\u0001 \\\"q\\\"\"}");
}

TEST(PostListRead, EmptySitesAndMissingSlugs) {
    TempSite site;
    EXPECT_EQ(list(site).text, "[]");
    EXPECT_EQ(list(site).code, 0);
    auto r = read(site, "hello");
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.isNull);
    ::mkdir(site.path("content").c_str(), 0755);
    ::mkdir(site.path("content/blog").c_str(), 0755);
    EXPECT_EQ(list(site).text, "[]");
    EXPECT_EQ(read(site, "").code, 3);
}

TEST(PostListRead, DuplicateSlugReadsTheFirstListed) {
    TempSite site;
    writePost(site, "2024/03/09/same.md", simplePost("older"));
    writePost(site, "2024/03/10/other.md", simplePost("newer", "slug = \"same\"\n"));
    auto r = read(site, "same");
    EXPECT_NE(r.text.find("\"title\":\"newer\""), std::string::npos) << r.text;
}

// A slug taken from a file name may hold any byte; the JSON stays valid.
TEST(PostListRead, FileNameSlugIsEscaped) {
    TempSite site;
    writePost(site, "2024/03/09/a\"b\\c.md", simplePost("t"));
    EXPECT_EQ(list(site).text, "[{\"date\":\"2024-03-09\",\"slug\":\"a\\\"b\\\\c\",\"title\":\"t\",\"tags\":[]}]");
    EXPECT_EQ(read(site, "a\"b\\c").code, 0);
}

// ------------------------------------------------------------------ update

TEST(PostUpdate, TagRules) {
    TempSite site;
    ASSERT_EQ(create(site, "p", "T", "D", "travel,notes", "2024-03-09").code, 0);
    EXPECT_EQ(update(site, "p", nullptr, nullptr, nullptr, "travel,food", "notes"), 0);
    EXPECT_EQ(fileText(site, "2024/03/09/p.md"),
              "+++\ntitle = \"T\"\ndescription = \"D\"\ntags = [\"travel\", \"food\"]\n+++\n\n");
    EXPECT_EQ(update(site, "p", nullptr, nullptr, nullptr, "a,a", nullptr), 0);
    EXPECT_EQ(update(site, "p", nullptr, nullptr, nullptr, "b", "b"), 0);
    EXPECT_EQ(read(site, "p").text,
              "{\"date\":\"2024-03-09\",\"slug\":\"p\",\"title\":\"T\",\"description\":\"D\","
              "\"tags\":[\"travel\",\"food\",\"a\"],\"content\":\"\"}");
    // A replacement list keeps its duplicates; an empty one clears the tags.
    EXPECT_EQ(update(site, "p", nullptr, nullptr, "x, y ,x"), 0);
    EXPECT_EQ(list(site).text, "[{\"date\":\"2024-03-09\",\"slug\":\"p\",\"title\":\"T\",\"tags\":[\"x\",\"y\",\"x\"]}]");
    // Removing drops every copy; tags compare byte for byte.
    EXPECT_EQ(update(site, "p", nullptr, nullptr, nullptr, "X", "x"), 0);
    EXPECT_EQ(list(site).text, "[{\"date\":\"2024-03-09\",\"slug\":\"p\",\"title\":\"T\",\"tags\":[\"y\",\"X\"]}]");
    EXPECT_EQ(update(site, "p", nullptr, nullptr, ""), 0);
    EXPECT_EQ(fileText(site, "2024/03/09/p.md"), "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n\n");
}

TEST(PostUpdate, NothingToChangeAndRefusals) {
    TempSite site;
    ASSERT_EQ(create(site, "p", "T", "D", "a", "2024-03-09").code, 0);
    const std::string before = fileText(site, "2024/03/09/p.md");
    EXPECT_EQ(update(site, "p", nullptr, nullptr, nullptr), 14);
    EXPECT_EQ(update(site, "p", nullptr, nullptr, nullptr, "", nullptr), 14);
    EXPECT_EQ(update(site, "p", nullptr, nullptr, nullptr, " , ", ","), 14);
    EXPECT_EQ(update(site, "missing", nullptr, nullptr, nullptr), 14);
    EXPECT_EQ(update(site, "missing", nullptr, nullptr, nullptr, "x"), 3);
    EXPECT_EQ(update(site, "p", "", nullptr, nullptr), 7);
    EXPECT_EQ(update(site, "p", nullptr, "", nullptr), 7);
    EXPECT_EQ(update(site, "p", "a\nb", nullptr, nullptr), 7);
    EXPECT_EQ(update(site, "p", nullptr, "x+++", nullptr), 7);
    EXPECT_EQ(update(site, "p", nullptr, nullptr, "ok,a\rb"), 7);
    EXPECT_EQ(update(site, "p", nullptr, nullptr, nullptr, "+++"), 7);
    EXPECT_EQ(fileText(site, "2024/03/09/p.md"), before);
    EXPECT_EQ(qtest::listDir(blogPath(site, "2024/03/09")), Tags{"p.md"});

    // A stored empty description is carried over and refused.
    writePost(site, "2024/03/10/e.md", "+++\ntitle = \"t\"\ndescription = \"\"\n+++\n");
    EXPECT_EQ(update(site, "e", "New", nullptr, nullptr), 7);
    EXPECT_EQ(update(site, "e", nullptr, "now set", nullptr), 0);
}

// The body, the slug key and the untouched fields survive any number of
// updates, and the file does not grow.
TEST(PostUpdate, KeepsBodyAndSizeStable) {
    TempSite site;
    const std::string original =
        "+++\ntitle = \"Old \\\"t\\\" \\\\\"\ndescription = \"d\"\nslug = \"intro\"\ntags = [\"x\"]\n"
        "date = 2020-01-01\n+++\n\nHello\n\nMore text. +++ not a delimiter\n";
    writePost(site, "2024/03/09/file-name.md", original);
    ASSERT_EQ(update(site, "intro", nullptr, "New \"desc\" \\", nullptr), 0);
    const std::string expected =
        "+++\ntitle = \"Old \\\"t\\\" \\\\\"\ndescription = \"New \\\"desc\\\" \\\\\"\nslug = \"intro\"\n"
        "tags = [\"x\"]\ndate = 2020-01-01\n+++\n\nHello\n\nMore text. +++ not a delimiter\n";
    EXPECT_EQ(fileText(site, "2024/03/09/file-name.md"), expected);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(update(site, "intro", nullptr, "New \"desc\" \\", nullptr), 0);
    EXPECT_EQ(fileText(site, "2024/03/09/file-name.md"), expected);
    EXPECT_EQ(read(site, "intro").text,
              "{\"date\":\"2024-03-09\",\"slug\":\"intro\",\"title\":\"Old \\\"t\\\" \\\\\","
              "\"description\":\"New \\\"desc\\\" \\\\\",\"tags\":[\"x\"],"
              "\"content\":\"Hello\\n\\nMore text. +++ not a delimiter\\n\"}");
}

TEST(PostUpdate, OnlyTheChangedLineChangesAndTheTailStays) {
    TempSite site;
    // CR LF after the delimiter, text right after it, and no break at all.
    writePost(site, "2024/03/09/crlf.md", "+++\ntitle = t\ndescription = d\n+++\r\n\r\nBody\r\n");
    writePost(site, "2024/03/09/tight.md", "+++\ntitle = t\ndescription = d\n+++Body");
    writePost(site, "2024/03/09/plus.md", "+++\ntitle = t\ndescription = d\n++++\nBody");
    writePost(site, "2024/03/09/bare.md", "+++\ntitle = t\ndescription = d\n+++");
    for (const char *slug : {"crlf", "tight", "plus", "bare"}) ASSERT_EQ(update(site, slug, "T", nullptr, nullptr), 0);
    const std::string block = "+++\ntitle = \"T\"\ndescription = d\n+++";
    EXPECT_EQ(fileText(site, "2024/03/09/crlf.md"), block + "\r\n\r\nBody\r\n");
    EXPECT_EQ(fileText(site, "2024/03/09/tight.md"), block + "Body");
    EXPECT_EQ(fileText(site, "2024/03/09/plus.md"), block + "+\nBody");
    EXPECT_EQ(fileText(site, "2024/03/09/bare.md"), block);
    auto posts = qtest::loadPosts(site.path("content/blog"));
    ASSERT_TRUE(posts.ok());
    EXPECT_EQ(qtest::findPostBySlug(*posts, "crlf")->body(), "Body\r\n");
    EXPECT_EQ(qtest::findPostBySlug(*posts, "plus")->body(), "+\nBody");
}

namespace {
int failRename(platform::fault::Op op) { return op == platform::fault::Op::Rename ? EIO : 0; }
}  // namespace

TEST(PostUpdate, ReplacesAtomicallyKeepingModeAndNeverWritesThroughLinks) {
    TempSite site;
    ASSERT_EQ(create(site, "p", "T", "D", nullptr, "2024-03-09").code, 0);
    const std::string path = blogPath(site, "2024/03/09/p.md");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    {
        HookGuard hook(failRename);
        EXPECT_EQ(update(site, "p", "New", nullptr, nullptr), 100);
    }
    EXPECT_EQ(fileText(site, "2024/03/09/p.md"), "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n\n");
    EXPECT_EQ(qtest::listDir(blogPath(site, "2024/03/09")), Tags{"p.md"});
    ASSERT_EQ(update(site, "p", "New", nullptr, nullptr), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(qtest::listDir(blogPath(site, "2024/03/09")), Tags{"p.md"});

    // A link named like a post is not a post: nothing to update, target kept.
    qtest::writeFile(site.path("target.md"), simplePost("target"));
    ASSERT_EQ(::symlink(site.path("target.md").c_str(), blogPath(site, "2024/03/09/l.md").c_str()), 0);
    EXPECT_EQ(update(site, "l", "X", nullptr, nullptr), 3);
    EXPECT_EQ(*qtest::readFile(site.path("target.md")), simplePost("target"));
}

// ------------------------------------------------------------------ delete

TEST(PostDelete, PrunesEmptyDateDirectories) {
    TempSite site;
    ASSERT_EQ(create(site, "only", "T", "D", nullptr, "2024-03-09").code, 0);
    ASSERT_EQ(create(site, "keep", "T", "D", nullptr, "2023-05-06").code, 0);
    EXPECT_EQ(quorlina_post_delete(site.c_root(), "only"), 0);
    EXPECT_EQ(qtest::listDir(blogPath(site, "")), Tags{"2023"});
    EXPECT_EQ(quorlina_post_delete(site.c_root(), "only"), 3);

    ASSERT_EQ(create(site, "a", "T", "D", nullptr, "2023-05-07").code, 0);
    EXPECT_EQ(quorlina_post_delete(site.c_root(), "a"), 0);
    EXPECT_EQ(qtest::listDir(blogPath(site, "2023/05")), Tags{"06"});

    // A day directory holding anything else stays.
    qtest::writeFile(blogPath(site, "2023/05/06/photo.png"), "png");
    EXPECT_EQ(quorlina_post_delete(site.c_root(), "keep"), 0);
    EXPECT_EQ(qtest::listDir(blogPath(site, "2023/05/06")), Tags{"photo.png"});
    ::unlink(blogPath(site, "2023/05/06/photo.png").c_str());

    // The blog directory itself is never removed.
    ASSERT_EQ(create(site, "last", "T", "D", nullptr, "2022-01-01").code, 0);
    ::rmdir(blogPath(site, "2023/05/06").c_str());
    ::rmdir(blogPath(site, "2023/05").c_str());
    ::rmdir(blogPath(site, "2023").c_str());
    EXPECT_EQ(quorlina_post_delete(site.c_root(), "last"), 0);
    EXPECT_TRUE(qtest::exists(blogPath(site, "")));
    EXPECT_TRUE(qtest::listDir(blogPath(site, "")).empty());
}

TEST(PostDelete, BySlugKey) {
    TempSite site;
    writePost(site, "2024/03/09/whatever-name.md", simplePost("t", "slug = \"intro\"\n"));
    EXPECT_EQ(quorlina_post_delete(site.c_root(), "whatever-name"), 3);
    EXPECT_TRUE(qtest::exists(blogPath(site, "2024/03/09/whatever-name.md")));
    EXPECT_EQ(quorlina_post_delete(site.c_root(), "intro"), 0);
    EXPECT_FALSE(qtest::exists(blogPath(site, "2024")));
}

namespace {
std::string g_swapPath;
// Replaces the post file with a directory just before it is unlinked, then
// refuses the unlink as the system would for a directory on some systems.
int swapForDirectory(platform::fault::Op op) {
    if (op != platform::fault::Op::Unlink) return 0;
    ::unlink(g_swapPath.c_str());
    ::mkdir(g_swapPath.c_str(), 0755);
    return EPERM;
}
int refuseUnlink(platform::fault::Op op) { return op == platform::fault::Op::Unlink ? EPERM : 0; }
int refuseRmdir(platform::fault::Op op) { return op == platform::fault::Op::Rmdir ? EROFS : 0; }
}  // namespace

TEST(PostDelete, RemovalFailures) {
    TempSite site;
    ASSERT_EQ(create(site, "p", "T", "D", nullptr, "2024-03-09").code, 0);
    {
        HookGuard hook(refuseUnlink);
        EXPECT_EQ(quorlina_post_delete(site.c_root(), "p"), 100);  // PermissionDenied
    }
    g_swapPath = blogPath(site, "2024/03/09/p.md");
    {
        HookGuard hook(swapForDirectory);
        EXPECT_EQ(quorlina_post_delete(site.c_root(), "p"), 8);  // IsDir
    }
    ::rmdir(g_swapPath.c_str());
    ASSERT_EQ(create(site, "p", "T", "D", nullptr, "2024-03-09").code, 0);
    {
        // The file goes, then pruning fails and says so.
        HookGuard hook(refuseRmdir);
        EXPECT_EQ(quorlina_post_delete(site.c_root(), "p"), 100);
    }
    EXPECT_FALSE(qtest::exists(g_swapPath));
    EXPECT_TRUE(qtest::exists(blogPath(site, "2024/03/09")));
}
