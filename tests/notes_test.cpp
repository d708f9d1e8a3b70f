// Notes: the file format, the store (ids, dates, order, all-or-nothing
// loading) and the five note exports.
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "core/note_frontmatter.hpp"
#include "core/notes.hpp"
#include "core/platform.hpp"
#include "ffi/frame.hpp"
#include "support/test_support.hpp"
#include "support/whole_loads.hpp"

using namespace quorlina;
using qtest::TempSite;

namespace {

const std::string kWorkedFile = "+++\nslug = \"hello-world\"\n+++\n\nFirst line.\nSecond line.";

std::string notePath(const TempSite &site, const std::string &name) {
    return site.path("content/notes/" + name);
}

void writeNote(const TempSite &site, const std::string &name, const std::string &text) {
    qtest::writeFile(notePath(site, name), text);
}

std::string fileText(const TempSite &site, const std::string &name) {
    return qtest::readFile(notePath(site, name)).value_or("<missing>");
}

qtest::TextResult list(const TempSite &site) {
    return qtest::callText([&](char **out) { return quorlina_note_list(site.c_root(), out); });
}

qtest::TextResult read(const TempSite &site, const char *id) {
    return qtest::callText([&](char **out) { return quorlina_note_read(site.c_root(), id, out); });
}

qtest::TextResult create(const TempSite &site, int64_t ts, const char *slug, const char *content) {
    return qtest::callText(
        [&](char **out) { return quorlina_note_create(site.c_root(), ts, slug, content, out); });
}

// Installs a fault hook for one scope.
struct HookGuard {
    explicit HookGuard(platform::fault::Hook h) { platform::fault::setHook(h); }
    ~HookGuard() { platform::fault::setHook(nullptr); }
};

}  // namespace

// ------------------------------------------------------------- file format

TEST(NoteFile, WorkedExampleIsFiftyFourBytes) {
    EXPECT_EQ(buildNoteFrontmatter(std::nullopt), "");
    EXPECT_EQ(buildNoteFrontmatter("hello-world"), "+++\nslug = \"hello-world\"\n+++\n");
    EXPECT_EQ(buildNoteFrontmatter("a\"b\\c"), "+++\nslug = \"a\\\"b\\\\c\"\n+++\n");

    std::string file = composeNoteFile("hello-world", "First line.\nSecond line.");
    EXPECT_EQ(file, kWorkedFile);
    EXPECT_EQ(file.size(), 54u);
    EXPECT_EQ(composeNoteFile(std::nullopt, "First line.\nSecond line."), "First line.\nSecond line.");
    EXPECT_EQ(composeNoteFile("s", ""), "+++\nslug = \"s\"\n+++\n");
    EXPECT_EQ(composeNoteFile(std::nullopt, ""), "");

    auto back = note_frontmatter::parse(file);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->frontmatter.slug, "hello-world");
    EXPECT_EQ(back->body, "First line.\nSecond line.");
}

TEST(NoteFile, ParseCases) {
    struct Case {
        std::string text;
        std::optional<std::string> slug;
        std::string body;
    } good[] = {
        {"+++\n+++\n", std::nullopt, ""},
        {"+++\nslug = hello\n+++\nx", "hello", "x"},
        {"+++\r\nslug = \"a_b-1\"\r\n+++\r\n\r\nText\r\n", "a_b-1", "Text\r\n"},
        {"+++\n# comment\ntitle = \"x\"\nslug=\"s\"\n+++\nB", "s", "B"},
        {"+++\nSlug = \"x\"\n+++\nB", std::nullopt, "B"},
        {"+++\nslug = \"a\"\nslug = \"b\"\n+++\n", "b", ""},
        {"+++\nno equals sign\n+++ \t\n  body  ", std::nullopt, "body  "},
        {"++", std::nullopt, "++"},
        {"plain\n+++\ntext", std::nullopt, "plain\n+++\ntext"},
        {"", std::nullopt, ""},
    };
    for (const Case &c : good) {
        auto r = note_frontmatter::parse(c.text);
        ASSERT_TRUE(r.ok()) << c.text;
        EXPECT_EQ(r->frontmatter.slug, c.slug) << c.text;
        EXPECT_EQ(r->body, c.body) << c.text;
        // The body is a view at the end of the parsed text.
        EXPECT_EQ(r->body.data() + r->body.size(), c.text.data() + c.text.size()) << c.text;
    }

    struct Bad {
        std::string text;
        Error error;
    } bad[] = {
        {"+++", Error::UnclosedFrontmatter},
        {"+++\n", Error::UnclosedFrontmatter},
        {"+++\nslug = \"x\"\n", Error::UnclosedFrontmatter},
        {"+++\nslug = \"\"\n+++\n", Error::InvalidSlug},
        {"+++\nslug = \"a b\"\n+++\n", Error::InvalidSlug},
        {"+++\nslug = \"x+++y\"\n+++\n", Error::InvalidSlug},
        {"+++\nslug = \"ok\"\nslug = \"no/t\"\n+++\n", Error::InvalidSlug},
        {"+++\nslug = \"\n+++\n", Error::InvalidSlug},
    };
    for (const Bad &b : bad) {
        auto r = note_frontmatter::parse(b.text);
        ASSERT_FALSE(r.ok()) << b.text;
        EXPECT_EQ(r.error(), b.error) << b.text;
    }
}

// A note without slug whose body starts with "+++" gets an empty block in
// front and reads back intact.
TEST(NoteFile, BareBodyStartingWithDelimiterReadsBackIntact) {
    EXPECT_EQ(composeNoteFile(std::nullopt, "+++\ntitle\n+++\nrest"), "+++\n+++\n\n+++\ntitle\n+++\nrest");
    EXPECT_EQ(composeNoteFile(std::nullopt, "+++"), "+++\n+++\n\n+++");
    // With a slug the writer's own closing line comes first anyway.
    EXPECT_EQ(composeNoteFile("s", "+++x"), "+++\nslug = \"s\"\n+++\n\n+++x");

    TempSite site;
    ASSERT_EQ(create(site, 1700000000, nullptr, "+++\ntitle\n+++\nrest").code, 0);
    ASSERT_EQ(create(site, 1700000001, nullptr, "+++").code, 0);
    EXPECT_EQ(fileText(site, "1700000000.md"), "+++\n+++\n\n+++\ntitle\n+++\nrest");
    EXPECT_EQ(read(site, "1700000000").text,
              R"({"date":"2023-11-14","id":"1700000000","slug":null,"content":"+++\ntitle\n+++\nrest"})");
    EXPECT_EQ(read(site, "1700000001").text,
              R"({"date":"2023-11-14","id":"1700000001","slug":null,"content":"+++"})");

    // Clearing the slug of a note whose body starts with "+++".
    ASSERT_EQ(create(site, 1700000002, "s", "+++x").code, 0);
    ASSERT_EQ(quorlina_note_update(site.c_root(), "s", nullptr, 1, nullptr), 0);
    EXPECT_EQ(fileText(site, "1700000002.md"), "+++\n+++\n\n+++x");
    EXPECT_EQ(read(site, "1700000002").text,
              R"({"date":"2023-11-14","id":"1700000002","slug":null,"content":"+++x"})");

    // New content for a note without slug.
    ASSERT_EQ(quorlina_note_update(site.c_root(), "1700000001", nullptr, 0, "+++y\n+++"), 0);
    EXPECT_EQ(fileText(site, "1700000001.md"), "+++\n+++\n\n+++y\n+++");
    EXPECT_EQ(read(site, "1700000001").text,
              R"({"date":"2023-11-14","id":"1700000001","slug":null,"content":"+++y\n+++"})");
    EXPECT_EQ(list(site).code, 0);
}

// ------------------------------------------------------------------- store

TEST(NoteStore, OnlyRegularMarkdownFilesAreNotes) {
    TempSite site;
    EXPECT_EQ(list(site).text, "[]");  // no notes directory
    writeNote(site, "index.md", "not a note");
    writeNote(site, "_index.md", "not a note");
    writeNote(site, "readme.txt", "not a note");
    writeNote(site, ".quorlina-tmp-1-2-3", "half-written");
    ASSERT_EQ(::mkdir(notePath(site, "old.md").c_str(), 0755), 0);
    qtest::writeFile(site.path("elsewhere/1700000000.md"), "+++\nslug = \"linked\"\n+++\nx");
    ASSERT_EQ(::symlink("../../elsewhere/1700000000.md", notePath(site, "1700000000.md").c_str()), 0);
    auto r = list(site);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text, "[]");
    EXPECT_EQ(read(site, "linked").code, 3);
    EXPECT_EQ(read(site, "1700000000").code, 3);
}

TEST(NoteStore, WorkedExampleListAndRead) {
    TempSite site;
    writeNote(site, "1733570000.md", "+++\nslug = \"hello-world\"\n+++\n\nFirst line.\nSecond \"quoted\".");
    writeNote(site, "1700000000.md", "Plain note");
    auto l = list(site);
    EXPECT_EQ(l.code, 0);
    EXPECT_EQ(l.text,
              R"([{"date":"2024-12-07","id":"hello-world","slug":"hello-world"},)"
              R"({"date":"2023-11-14","id":"1700000000","slug":null}])");
    const std::string full =
        R"({"date":"2024-12-07","id":"hello-world","slug":"hello-world","content":"First line.\nSecond \"quoted\"."})";
    EXPECT_EQ(read(site, "hello-world").text, full);
    EXPECT_EQ(read(site, "1733570000").text, full);  // by file stem
    EXPECT_EQ(read(site, "1700000000").text,
              R"({"date":"2023-11-14","id":"1700000000","slug":null,"content":"Plain note"})");
    auto missing = read(site, "nope");
    EXPECT_EQ(missing.code, 3);
    EXPECT_TRUE(missing.isNull);
}

TEST(NoteStore, IdsDatesAndFirstMatchInStoreOrder) {
    TempSite site;
    // The newer note carries the older one's stem as its slug.
    writeNote(site, "1800000000.md", "+++\nslug = \"1700000000\"\n+++\nnewer");
    writeNote(site, "1700000000.md", "older");
    writeNote(site, "1_600_000_000.md", "+++\nslug = \"a_b-1\"\n+++\n\n\tTab\\ \"q\" \r \x01 \xC3\xA9");
    auto notes = qtest::loadNotes(site.path("content/notes"));
    ASSERT_TRUE(notes.ok());
    ASSERT_EQ(notes->size(), 3u);
    EXPECT_EQ((*notes)[0].id, "1700000000");
    EXPECT_EQ((*notes)[0].date, "2027-01-15");
    EXPECT_EQ((*notes)[0].path, notePath(site, "1800000000.md"));
    EXPECT_EQ((*notes)[1].id, "1700000000");
    EXPECT_EQ((*notes)[2].id, "a_b-1");
    EXPECT_EQ((*notes)[2].date, "2020-09-13");
    EXPECT_EQ((*notes)[2].body(), "Tab\\ \"q\" \r \x01 \xC3\xA9");

    EXPECT_EQ(qtest::findNoteById(*notes, "1700000000"), &(*notes)[0]);
    EXPECT_EQ(qtest::findNoteById(*notes, "1800000000"), &(*notes)[0]);
    EXPECT_EQ(qtest::findNoteById(*notes, "1_600_000_000"), &(*notes)[2]);
    EXPECT_EQ(qtest::findNoteById(*notes, "1600000000"), nullptr);
    EXPECT_EQ(qtest::findNoteById(*notes, "1700000000.md"), nullptr);
    EXPECT_EQ(qtest::findNoteById(*notes, ""), nullptr);

    EXPECT_EQ(read(site, "1700000000").text,
              R"({"date":"2027-01-15","id":"1700000000","slug":"1700000000","content":"newer"})");
    EXPECT_EQ(read(site, "a_b-1").text,
              "{\"date\":\"2020-09-13\",\"id\":\"a_b-1\",\"slug\":\"a_b-1\","
              "\"content\":\"Tab\\\\ \\\"q\\\" \\r \\u0001 \xC3\xA9\"}");
    // Deleting by that id removes the first note in store order only.
    EXPECT_EQ(quorlina_note_delete(site.c_root(), "1700000000"), 0);
    EXPECT_FALSE(qtest::exists(notePath(site, "1800000000.md")));
    EXPECT_EQ(fileText(site, "1700000000.md"), "older");
}

TEST(NoteStore, DatesUseTheWholeTimestampRange) {
    TempSite site;
    writeNote(site, "-86400.md", "a");
    writeNote(site, "9223372036854775807.md", "b");
    writeNote(site, "-9223372036854775808.md", "c");
    writeNote(site, "253402300800.md", "d");
    // The order compares the date texts byte by byte, so longer years and
    // negative ones do not sort by time.
    EXPECT_EQ(list(site).text,
              R"([{"date":"292277026596-12-04","id":"9223372036854775807","slug":null},)"
              R"({"date":"1969-12-31","id":"-86400","slug":null},)"
              R"({"date":"10000-01-01","id":"253402300800","slug":null},)"
              R"({"date":"-292277022657-01-27","id":"-9223372036854775808","slug":null}])");
    EXPECT_EQ(read(site, "-86400").text,
              R"({"date":"1969-12-31","id":"-86400","slug":null,"content":"a"})");
}

TEST(NoteStore, BadFileStemWarnsAndFailsEverything) {
    struct Case {
        const char *name;
        const char *errorName;
    } cases[] = {
        {"todo.md", "InvalidCharacter"},
        {".md", "InvalidCharacter"},
        {"_1.md", "InvalidCharacter"},
        {"99999999999999999999.md", "Overflow"},
    };
    for (const Case &c : cases) {
        TempSite site;
        writeNote(site, "1700000000.md", "fine");
        writeNote(site, c.name, "text");
        testing::internal::CaptureStderr();
        auto r = list(site);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r.code, 1) << c.name;
        EXPECT_TRUE(r.isNull);
        EXPECT_EQ(err, std::string("warning: Invalid timestamp in filename '") + c.name + "': error." +
                           c.errorName + "\n");
        testing::internal::CaptureStderr();
        EXPECT_EQ(read(site, "1700000000").code, 1);
        EXPECT_EQ(quorlina_note_update(site.c_root(), "1700000000", nullptr, 0, "x"), 1);
        EXPECT_EQ(quorlina_note_delete(site.c_root(), "1700000000"), 1);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(fileText(site, "1700000000.md"), "fine");
    }
}

TEST(NoteStore, OneBrokenFileFailsEveryOperationUntilRepaired) {
    TempSite site;
    writeNote(site, "1700000000.md", "+++\nslug = \"good\"\n+++\nbody");
    writeNote(site, "1700000001.md", "+++\nslug = \"broken\"\n");
    EXPECT_EQ(list(site).code, 7);
    EXPECT_EQ(read(site, "good").code, 7);
    EXPECT_EQ(quorlina_note_update(site.c_root(), "good", nullptr, 0, "new"), 7);
    EXPECT_EQ(quorlina_note_delete(site.c_root(), "good"), 7);
    EXPECT_EQ(qtest::loadNotes(site.path("content/notes")).error(), Error::UnclosedFrontmatter);
    // Creating does not load the store.
    EXPECT_EQ(create(site, 1700000002, nullptr, "c").code, 0);

    writeNote(site, "1700000001.md", "+++\nslug = \"bro ken\"\n+++\n");
    EXPECT_EQ(list(site).code, 10);
    EXPECT_EQ(fileText(site, "1700000000.md"), "+++\nslug = \"good\"\n+++\nbody");

    writeNote(site, "1700000001.md", "repaired");
    EXPECT_EQ(list(site).code, 0);
    EXPECT_EQ(quorlina_note_delete(site.c_root(), "good"), 0);
}

namespace {
int g_opens = 0;
int g_secondOpenErrno = 0;
// Lets the directory open and fails the first note file's open.
int failSecondOpen(platform::fault::Op op) {
    if (op != platform::fault::Op::Open) return 0;
    return ++g_opens == 2 ? g_secondOpenErrno : 0;
}
}  // namespace

TEST(NoteStore, FileGoneSinceListedIsSkippedOtherOpenFailuresFail) {
    TempSite site;
    writeNote(site, "1700000000.md", "a");
    writeNote(site, "1700000001.md", "b");
    struct Case {
        int err;
        int code;  // 0: the note is skipped, the other one loads
    } cases[] = {{ENOENT, 0}, {ELOOP, 0}, {EACCES, 8}, {EMFILE, 100}};
    for (const Case &c : cases) {
        g_opens = 0;
        g_secondOpenErrno = c.err;
        HookGuard hook(failSecondOpen);
        auto notes = qtest::loadNotes(site.path("content/notes"));
        if (c.code == 0) {
            ASSERT_TRUE(notes.ok()) << c.err;
            EXPECT_EQ(notes->size(), 1u);
        } else {
            ASSERT_FALSE(notes.ok()) << c.err;
            EXPECT_EQ(ffi::mapError(notes.error()), c.code);
        }
    }
}

// ------------------------------------------------------------------ create

TEST(NoteCreate, WritesTheWorkedExampleAndReturnsThePath) {
    TempSite site;
    auto r = create(site, 1733570000, "hello-world", "First line.\nSecond line.");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text, site.root() + "/content/notes/1733570000.md");
    EXPECT_EQ(fileText(site, "1733570000.md"), kWorkedFile);

    EXPECT_EQ(create(site, 1733570001, nullptr, "First line.\nSecond line.").code, 0);
    EXPECT_EQ(fileText(site, "1733570001.md"), "First line.\nSecond line.");

    EXPECT_EQ(create(site, 1733570002, nullptr, nullptr).code, 0);
    EXPECT_EQ(fileText(site, "1733570002.md"), "");
    EXPECT_EQ(read(site, "1733570002").text,
              R"({"date":"2024-12-07","id":"1733570002","slug":null,"content":""})");

    EXPECT_EQ(create(site, 1733570003, "only-slug", nullptr).code, 0);
    EXPECT_EQ(fileText(site, "1733570003.md"), "+++\nslug = \"only-slug\"\n+++\n");
}

TEST(NoteCreate, RefusalsTouchNothing) {
    TempSite site;
    const char *badSlugs[] = {"", "a b", "a/b", "a.b", "\"q\""};
    for (const char *slug : badSlugs) {
        auto r = create(site, 1700000000, slug, "x");
        EXPECT_EQ(r.code, 10) << slug;
        EXPECT_TRUE(r.isNull);
    }
    EXPECT_EQ(create(site, -5, nullptr, "x").code, 1);
    EXPECT_EQ(create(site, INT64_MIN, "ok", "x").code, 1);
    EXPECT_EQ(create(site, -5, "a b", "x").code, 1);  // the timestamp is checked first
    EXPECT_FALSE(qtest::exists(site.path("content")));

    ASSERT_EQ(create(site, 1700000000, "first", "one").code, 0);
    auto again = create(site, 1700000000, nullptr, "two");
    EXPECT_EQ(again.code, 2);
    EXPECT_TRUE(again.isNull);
    EXPECT_EQ(fileText(site, "1700000000.md"), "+++\nslug = \"first\"\n+++\n\none");

    // An entry of that name of any kind is a duplicate, and a link is never
    // written through.
    ASSERT_EQ(::symlink("../../target.md", notePath(site, "1700000001.md").c_str()), 0);
    EXPECT_EQ(create(site, 1700000001, nullptr, "x").code, 2);
    EXPECT_FALSE(qtest::exists(site.path("target.md")));
    ASSERT_EQ(::mkdir(notePath(site, "1700000002.md").c_str(), 0755), 0);
    EXPECT_EQ(create(site, 1700000002, nullptr, "x").code, 2);
    EXPECT_EQ(qtest::listDir(site.path("content/notes")),
              (std::vector<std::string>{"1700000000.md", "1700000001.md", "1700000002.md"}));
}

// One answer per id: a slug that another note answers to, by its slug or
// by its file stem, is refused (2) by create and update, and nothing is
// written; a note may keep (or be given again) its own slug or stem.
TEST(NoteCreate, ASlugAnotherNoteAnswersToIsRefused) {
    struct Row {
        const char *what;
        std::function<int(const char *root)> call;
        int code;
    } rows[] = {
        {"create with a taken slug",
         [](const char *r) { return qtest::callText([&](char **o) { return quorlina_note_create(r, 1800000000, "review", "x", o); }).code; }, 2},
        {"create with another note's stem",
         [](const char *r) { return qtest::callText([&](char **o) { return quorlina_note_create(r, 1800000000, "1700000001", "x", o); }).code; }, 2},
        {"create with a free slug",
         [](const char *r) { return qtest::callText([&](char **o) { return quorlina_note_create(r, 1800000000, "fresh", "x", o); }).code; }, 0},
        {"create without a slug",
         [](const char *r) { return qtest::callText([&](char **o) { return quorlina_note_create(r, 1800000000, nullptr, "x", o); }).code; }, 0},
        {"update to a taken slug", [](const char *r) { return quorlina_note_update(r, "1700000001", "review", 0, nullptr); }, 2},
        {"update to another note's stem",
         [](const char *r) { return quorlina_note_update(r, "review", "1700000001", 0, nullptr); }, 2},
        {"update to its own slug", [](const char *r) { return quorlina_note_update(r, "review", "review", 0, "new"); }, 0},
        {"update to its own stem", [](const char *r) { return quorlina_note_update(r, "review", "1700000000", 0, nullptr); }, 0},
        {"update to a free slug", [](const char *r) { return quorlina_note_update(r, "1700000001", "fresh", 0, nullptr); }, 0},
    };
    for (const Row &row : rows) {
        TempSite site;
        writeNote(site, "1700000000.md", "+++\nslug = \"review\"\n+++\n\nfirst");
        writeNote(site, "1700000001.md", "second");
        const auto before = qtest::snapshot(site.root());
        EXPECT_EQ(row.call(site.c_root()), row.code) << row.what;
        if (row.code != 0) {
            EXPECT_TRUE(qtest::snapshot(site.root()) == before) << row.what;
        }
    }
}

TEST(NoteCreate, ZeroMeansNow) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        TempSite site;
        std::int64_t before = platform::nowSeconds();
        auto first = create(site, 0, nullptr, "a");
        auto second = create(site, 0, nullptr, "b");
        std::int64_t after = platform::nowSeconds();
        ASSERT_EQ(first.code, 0);
        if (before != after) continue;  // crossed a second boundary; try again
        EXPECT_EQ(first.text, site.root() + "/content/notes/" + std::to_string(before) + ".md");
        EXPECT_EQ(second.code, 2);
        EXPECT_EQ(fileText(site, std::to_string(before) + ".md"), "a");
        return;
    }
    FAIL() << "the clock never stayed within one second";
}

TEST(NoteCreate, ConcurrentCreatesOfOneTimestampHaveOneWinner) {
    TempSite site;
    constexpr int kThreads = 16;
    std::vector<int> codes(kThreads, -1);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            std::string content = "writer " + std::to_string(i) + std::string(4096, 'x');
            char *out = nullptr;
            codes[static_cast<std::size_t>(i)] =
                quorlina_note_create(site.c_root(), 1700000000, nullptr, content.c_str(), &out);
            quorlina_free(out);
        });
    }
    go = true;
    for (auto &t : threads) t.join();
    int winner = -1, duplicates = 0;
    for (int i = 0; i < kThreads; ++i) {
        if (codes[static_cast<std::size_t>(i)] == 0) {
            EXPECT_EQ(winner, -1) << "two creates succeeded";
            winner = i;
        } else {
            EXPECT_EQ(codes[static_cast<std::size_t>(i)], 2);
            ++duplicates;
        }
    }
    ASSERT_NE(winner, -1);
    EXPECT_EQ(duplicates, kThreads - 1);
    EXPECT_EQ(fileText(site, "1700000000.md"), "writer " + std::to_string(winner) + std::string(4096, 'x'));
    EXPECT_EQ(qtest::listDir(site.path("content/notes")), std::vector<std::string>{"1700000000.md"});
}

// ------------------------------------------------------------------ update

TEST(NoteUpdate, RequestIsCheckedBeforeTheDisk) {
    TempSite site;
    EXPECT_EQ(quorlina_note_update(site.c_root(), "x", nullptr, 0, nullptr), 14);
    EXPECT_EQ(quorlina_note_update(site.c_root(), "x", "s", 1, nullptr), 10);
    EXPECT_EQ(quorlina_note_update(site.c_root(), "x", "", 0, nullptr), 10);
    EXPECT_EQ(quorlina_note_update(site.c_root(), "x", "a b", 0, "c"), 10);
    EXPECT_FALSE(qtest::exists(site.path("content")));
    EXPECT_EQ(quorlina_note_update(site.c_root(), "x", nullptr, 0, "c"), 3);
    EXPECT_EQ(quorlina_note_update(site.c_root(), "x", nullptr, 1, nullptr), 3);

    // A broken store is not even read when the request itself is refused.
    writeNote(site, "1700000000.md", "+++\nunclosed");
    EXPECT_EQ(quorlina_note_update(site.c_root(), "1700000000", nullptr, 0, nullptr), 14);
    EXPECT_EQ(quorlina_note_update(site.c_root(), "1700000000", "s", 1, nullptr), 10);
    EXPECT_EQ(quorlina_note_update(site.c_root(), "1700000000", nullptr, 0, "c"), 7);
    EXPECT_EQ(fileText(site, "1700000000.md"), "+++\nunclosed");
}

TEST(NoteUpdate, SlugAndBodyChangesInPlace) {
    TempSite site;
    writeNote(site, "1700000000.md", "+++\nslug = \"hello\"\n+++\n\nOld body");
    writeNote(site, "1700000100.md", "Plain body");

    // Clearing the slug leaves the body alone; the id becomes the stem.
    ASSERT_EQ(quorlina_note_update(site.c_root(), "hello", nullptr, 1, nullptr), 0);
    EXPECT_EQ(fileText(site, "1700000000.md"), "Old body");
    EXPECT_EQ(read(site, "hello").code, 3);

    // A slug for a note without one; the file name stays.
    ASSERT_EQ(quorlina_note_update(site.c_root(), "1700000100", "new", 0, nullptr), 0);
    EXPECT_EQ(fileText(site, "1700000100.md"), "+++\nslug = \"new\"\n+++\n\nPlain body");
    EXPECT_EQ(read(site, "new").text,
              R"({"date":"2023-11-14","id":"new","slug":"new","content":"Plain body"})");

    // By file stem, new content, slug kept.
    ASSERT_EQ(quorlina_note_update(site.c_root(), "1700000100", nullptr, 0, "Next"), 0);
    EXPECT_EQ(fileText(site, "1700000100.md"), "+++\nslug = \"new\"\n+++\n\nNext");
    // Empty content is a change.
    ASSERT_EQ(quorlina_note_update(site.c_root(), "new", nullptr, 0, ""), 0);
    EXPECT_EQ(fileText(site, "1700000100.md"), "+++\nslug = \"new\"\n+++\n");
    ASSERT_EQ(quorlina_note_update(site.c_root(), "1700000000", nullptr, 0, ""), 0);
    EXPECT_EQ(fileText(site, "1700000000.md"), "");
    // Slug and content at once.
    ASSERT_EQ(quorlina_note_update(site.c_root(), "new", "renamed", 0, "B"), 0);
    EXPECT_EQ(fileText(site, "1700000100.md"), "+++\nslug = \"renamed\"\n+++\n\nB");
    EXPECT_EQ(qtest::listDir(site.path("content/notes")),
              (std::vector<std::string>{"1700000000.md", "1700000100.md"}));
}

TEST(NoteUpdate, KeepsPermissionsAndNeverFollowsLinks) {
    TempSite site;
    writeNote(site, "1700000000.md", "old");
    ASSERT_EQ(::chmod(notePath(site, "1700000000.md").c_str(), 0640), 0);
    ASSERT_EQ(quorlina_note_update(site.c_root(), "1700000000", nullptr, 0, "new"), 0);
    struct stat st {};
    ASSERT_EQ(::stat(notePath(site, "1700000000.md").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(fileText(site, "1700000000.md"), "new");

    qtest::writeFile(site.path("outside.md"), "keep");
    ASSERT_EQ(::symlink("../../outside.md", notePath(site, "1700000001.md").c_str()), 0);
    EXPECT_EQ(quorlina_note_update(site.c_root(), "1700000001", nullptr, 0, "x"), 3);
    EXPECT_EQ(quorlina_note_delete(site.c_root(), "1700000001"), 3);
    EXPECT_EQ(*qtest::readFile(site.path("outside.md")), "keep");
    EXPECT_TRUE(qtest::exists(notePath(site, "1700000001.md")));
}

namespace {
int failRename(platform::fault::Op op) { return op == platform::fault::Op::Rename ? EIO : 0; }
}  // namespace

TEST(NoteUpdate, FailedWriteLeavesTheOldFile) {
    TempSite site;
    writeNote(site, "1700000000.md", "+++\nslug = \"s\"\n+++\nold");
    {
        HookGuard hook(failRename);
        EXPECT_EQ(quorlina_note_update(site.c_root(), "s", nullptr, 1, "new"), 100);
    }
    EXPECT_EQ(fileText(site, "1700000000.md"), "+++\nslug = \"s\"\n+++\nold");
    EXPECT_EQ(qtest::listDir(site.path("content/notes")), std::vector<std::string>{"1700000000.md"});
}

// ------------------------------------------------------------------ delete

TEST(NoteDelete, BySlugOrStem) {
    TempSite site;
    EXPECT_EQ(quorlina_note_delete(site.c_root(), "x"), 3);  // no notes directory
    writeNote(site, "1700000000.md", "+++\nslug = \"s\"\n+++\na");
    writeNote(site, "1700000001.md", "b");
    EXPECT_EQ(quorlina_note_delete(site.c_root(), "unknown"), 3);
    EXPECT_EQ(quorlina_note_delete(site.c_root(), "s"), 0);
    EXPECT_EQ(quorlina_note_delete(site.c_root(), "1700000001"), 0);
    EXPECT_EQ(quorlina_note_delete(site.c_root(), "1700000001"), 3);
    EXPECT_TRUE(qtest::listDir(site.path("content/notes")).empty());
}

namespace {
std::string g_swapPath;
int g_unlinkErrno = 0;
// Replaces the note with a directory just before it is removed.
int swapForDirectory(platform::fault::Op op) {
    if (op != platform::fault::Op::Unlink) return 0;
    ::unlink(g_swapPath.c_str());
    ::mkdir(g_swapPath.c_str(), 0755);
    return g_unlinkErrno;
}
}  // namespace

TEST(NoteDelete, RefusalOnADirectoryIsIsDir) {
    for (int refusal : {0, EPERM}) {  // Linux says EISDIR, other systems EPERM
        TempSite site;
        writeNote(site, "1700000000.md", "a");
        g_swapPath = notePath(site, "1700000000.md");
        g_unlinkErrno = refusal;
        {
            HookGuard hook(swapForDirectory);
            EXPECT_EQ(quorlina_note_delete(site.c_root(), "1700000000"), 8) << refusal;
        }
        struct stat st {};
        EXPECT_TRUE(::lstat(g_swapPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    }
}
