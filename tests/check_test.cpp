// quorlina_check through the C interface: every file the family calls would
// fail on, in list order, with the path, code and reason their last-error
// text gives; the family filter; and what fails the call itself.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/test_support.hpp"

using qtest::TempSite;

namespace {

std::string check(const std::string &root, const char *family = nullptr, int *code = nullptr) {
    quorlina_check_options o = QUORLINA_CHECK_OPTIONS_INIT;
    o.family = family;
    auto r = qtest::callText([&](char **out) { return quorlina_check(root.c_str(), &o, out); });
    if (code) {
        *code = r.code;
    } else {
        EXPECT_EQ(r.code, 0) << quorlina_last_error();
    }
    return r.text;
}

std::string entry(const char *family, const std::string &path, int code, const std::string &reason) {
    return std::string("{\"family\":\"") + family + "\",\"path\":\"" + path + "\",\"code\":" + std::to_string(code) +
           ",\"reason\":\"" + reason + "\"}";
}

const std::string kPostOk = "+++\ntitle = \"Fine\"\ndescription = \"Works\"\n+++\nBody\n";
const std::string kSnippetOk = "+++\ndescription = \"Sort\"\n+++\nprint(1)\n";
// One byte over the 10 MiB a file may have, with a valid block at its start
// (so only its size fails it).
std::string oversized(const std::string &head) { return head + std::string(10 * 1024 * 1024 + 1 - head.size(), 'x'); }

// The broken files of every family, one per date so that the order within
// a date (the file system's) does not matter; and good files between them.
struct Broken {
    const char *family;
    const char *rel;  // below the root
    std::string bytes;
    int code;
    const char *reason;
};

std::vector<Broken> brokenFiles() {
    return {
        // Snippets, newest first: 2023-11-18, -17, -16; a name that is not a
        // timestamp sorts last.
        {"snippet", "content/snippets/1700300000.c", "+++\ndescription = \"open\"\nint x;\n", 7,
         "the front matter is not closed by \\\"+++\\\""},
        {"snippet", "content/snippets/1700200000.txt", oversized("+++\ndescription = \"big\"\n+++\n"), 100,
         "file is larger than 10 MiB"},
        {"snippet", "content/snippets/1700100000.py", "+++\nfilename = \"a.py\"\n+++\nx\n", 7,
         "description is missing"},
        {"snippet", "content/snippets/notes.txt", "+++\ndescription = \"d\"\n+++\n", 1,
         "the file name is not a timestamp"},
        // Posts, newest date first.
        {"post", "content/blog/2024/05/03/bad-slug.md", "+++\ntitle = \"T\"\ndescription = \"D\"\nslug = \"a b\"\n+++\n",
         10, "the slug is not valid"},
        {"post", "content/blog/2024/05/02/no-description.md", "+++\ntitle = \"Only a title\"\n+++\nText\n", 7,
         "description is missing"},
        {"post", "content/blog/2023/01/01/raw.md", "# Just Markdown\n", 7, "no front matter"},
        {"post", "content/blog/2022/12/31/unclosed.md", "+++\r\ntitle = \"T\"\r\ndescription = \"D\"\r\n", 7,
         "the front matter is not closed by \\\"+++\\\""},
        {"post", "content/blog/2021/06/06/huge.md", oversized(kPostOk), 100, "file is larger than 10 MiB"},
        {"post", "content/blog/2020/02/02/no-title.md", "+++\ndescription = \"D\"\n[params]\ntitle = \"not top\"\n+++\n",
         7, "title is missing"},
        // Notes, newest first; a stem that is not a timestamp sorts last.
        {"note", "content/notes/1700300000.md", "+++\nslug = \"not valid!\"\n+++\nx\n", 10, "the slug is not valid"},
        {"note", "content/notes/1700100000.md", "+++\nslug = \"open\"\nbody\n", 7,
         "the front matter is not closed by \\\"+++\\\""},
        {"note", "content/notes/draft-idea.md", "A note without a timestamp name\n", 1,
         "the file name is not a timestamp"},
    };
}

void writeGoodFiles(const TempSite &site) {
    qtest::writeFile(site.path("content/snippets/1700000000.py"), kSnippetOk);
    qtest::writeFile(site.path("content/snippets/1700250000.rb"), kSnippetOk);
    qtest::writeFile(site.path("content/blog/2024/05/04/fine.md"), kPostOk);
    qtest::writeFile(site.path("content/blog/2023/06/01/also-fine.md"), kPostOk);
    qtest::writeFile(site.path("content/notes/1700000000.md"), "Just a body\n");
    qtest::writeFile(site.path("content/notes/1700200000.md"), "+++\nslug = \"ok\"\n+++\nBody\n");
    // Entries the lists pass over, so a check passes over them too: a
    // directory named as a post or note, a section page, a symbolic link.
    ::mkdir(site.path("content/blog/2024/05/04/folder.md").c_str(), 0755);
    qtest::writeFile(site.path("content/blog/2024/05/04/_index.md"), "no front matter\n");
    ::mkdir(site.path("content/notes/1700400000.md").c_str(), 0755);
    ASSERT_EQ(::symlink("1700000000.md", site.path("content/notes/1700500000.md").c_str()), 0);
    ASSERT_EQ(::symlink("2024", site.path("content/blog/2025").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/raw.md", site.path("content/blog/2024/05/04/dangling.md").c_str()), 0);
    ASSERT_EQ(::symlink("loop.py", site.path("content/snippets/loop.py").c_str()), 0);
}

}  // namespace

TEST(Check, CleanSiteAndMissingFamiliesGiveAnEmptyList) {
    TempSite site;
    EXPECT_EQ(check(site.root()), "[]");
    writeGoodFiles(site);
    EXPECT_EQ(check(site.root()), "[]");
    for (const char *family : {"snippet", "post", "note"}) EXPECT_EQ(check(site.root(), family), "[]") << family;
    // The lists agree that nothing is broken.
    for (auto list : {quorlina_snippet_list, quorlina_post_list, quorlina_note_list}) {
        auto r = qtest::callText([&](char **o) { return list(site.c_root(), o); });
        EXPECT_EQ(r.code, 0) << quorlina_last_error();
    }
}

TEST(Check, EveryBrokenFileOfEveryFamilyInListOrder) {
    TempSite site;
    writeGoodFiles(site);
    for (const Broken &b : brokenFiles()) qtest::writeFile(site.path(b.rel), b.bytes);
    const std::string before = qtest::describeDiff({}, qtest::snapshot(site.root()));

    std::string all = "[", byFamily[3] = {"[", "[", "["};
    const char *families[3] = {"snippet", "post", "note"};
    for (const Broken &b : brokenFiles()) {
        const std::string e = entry(b.family, site.path(b.rel), b.code, b.reason);
        all += (all.size() > 1 ? "," : "") + e;
        for (int f = 0; f < 3; ++f)
            if (std::string(b.family) == families[f]) byFamily[f] += (byFamily[f].size() > 1 ? "," : "") + e;
    }
    all += "]";
    EXPECT_EQ(check(site.root()), all);
    for (int f = 0; f < 3; ++f) EXPECT_EQ(check(site.root(), families[f]), byFamily[f] + "]") << families[f];
    // A check reads only: the tree is as it was, and its last error is "".
    EXPECT_EQ(qtest::describeDiff({}, qtest::snapshot(site.root())), before);
    EXPECT_STREQ(quorlina_last_error(), "");
}

TEST(Check, NoWarningLineForANameThatIsNotATimestamp) {
    TempSite site;
    qtest::writeFile(site.path("content/snippets/readme.txt"), kSnippetOk);
    qtest::writeFile(site.path("content/notes/todo.md"), "x\n");
    // Standard error is sent to a file for the call: a list writes the
    // warning line, a check does not.
    const std::string errPath = site.path("stderr.txt");
    auto captured = [&](auto &&call) {
        fflush(stderr);
        const int saved = ::dup(2);
        FILE *f = std::fopen(errPath.c_str(), "w");
        ::dup2(::fileno(f), 2);
        call();
        fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        std::fclose(f);
        return qtest::readFile(errPath).value_or("?");
    };
    std::string text;
    const std::string checkErr = captured([&] { text = check(site.root()); });
    EXPECT_EQ(checkErr, "");
    EXPECT_EQ(text, "[" + entry("snippet", site.path("content/snippets/readme.txt"), 1, "the file name is not a timestamp") +
                        "," + entry("note", site.path("content/notes/todo.md"), 1, "the file name is not a timestamp") +
                        "]");
    const std::string listErr = captured([&] {
        auto r = qtest::callText([&](char **o) { return quorlina_snippet_list(site.c_root(), o); });
        EXPECT_EQ(r.code, 1);
    });
    EXPECT_EQ(listErr, "warning: Invalid timestamp in filename 'readme.txt'\n");
}

// For every broken file alone in a site, the failing list (and, where the
// family reads through a scan, the failing read) gives the code and the
// last-error text "path: reason" that the check's entry gives.
TEST(Check, EntriesAreWhatTheFailingCallsReport) {
    for (const Broken &b : brokenFiles()) {
        TempSite site;
        writeGoodFiles(site);
        qtest::writeFile(site.path(b.rel), b.bytes);
        int code = -1;
        const std::string text = check(site.root(), b.family, &code);
        ASSERT_EQ(code, 0) << b.rel;
        const std::string path = site.path(b.rel);
        ASSERT_EQ(text, "[" + entry(b.family, path, b.code, b.reason) + "]") << b.rel;

        // The reason as the last error has it: JSON escapes read back.
        std::string reason = b.reason;
        for (std::size_t at; (at = reason.find("\\\"")) != std::string::npos;) reason.erase(at, 1);
        const std::string expected = path + ": " + reason;
        const std::string family = b.family;
        std::vector<std::pair<std::string, std::function<int(char **)>>> calls;
        if (family == "snippet") {
            calls.push_back({"snippet_list", [&](char **o) { return quorlina_snippet_list(site.c_root(), o); }});
            const std::string name = b.rel + std::string("content/snippets/").size();
            if (name[0] >= '0' && name[0] <= '9') {
                const long long ts = std::stoll(name.substr(0, name.find('.')));
                calls.push_back({"snippet_read", [&, ts](char **o) { return quorlina_snippet_read(site.c_root(), ts, o); }});
            }
        } else if (family == "post") {
            calls.push_back({"post_list", [&](char **o) { return quorlina_post_list(site.c_root(), o); }});
            calls.push_back({"post_read", [&](char **o) { return quorlina_post_read(site.c_root(), "fine", o); }});
            calls.push_back({"post_list_ext", [&](char **o) { return quorlina_post_list_ext(site.c_root(), nullptr, o); }});
        } else {
            calls.push_back({"note_list", [&](char **o) { return quorlina_note_list(site.c_root(), o); }});
            calls.push_back({"note_read", [&](char **o) { return quorlina_note_read(site.c_root(), "ok", o); }});
            calls.push_back({"note_list_ext", [&](char **o) { return quorlina_note_list_ext(site.c_root(), nullptr, o); }});
        }
        for (auto &[what, call] : calls) {
            fflush(stderr);
            auto r = qtest::callText(call);
            EXPECT_EQ(r.code, b.code) << what << " " << b.rel;
            EXPECT_EQ(quorlina_last_error(), expected) << what;
        }
    }
}

TEST(Check, UnreadableFileAndDirectoryAreEntries) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: permission bits do not refuse a read";
    TempSite site;
    writeGoodFiles(site);
    qtest::writeFile(site.path("content/blog/2022/03/03/locked.md"), kPostOk);
    ::chmod(site.path("content/blog/2022/03/03/locked.md").c_str(), 0);
    qtest::writeFile(site.path("content/blog/2019/01/01/inside.md"), kPostOk);
    ::chmod(site.path("content/blog/2019").c_str(), 0);
    qtest::writeFile(site.path("content/notes/1600000000.md"), "x");
    ::chmod(site.path("content/notes/1600000000.md").c_str(), 0);

    EXPECT_EQ(check(site.root()),
              "[" + entry("post", site.path("content/blog/2022/03/03/locked.md"), 8, "Permission denied") + "," +
                  entry("post", site.path("content/blog/2019"), 8, "Permission denied") + "," +
                  entry("note", site.path("content/notes/1600000000.md"), 8, "Permission denied") + "]");
    // The same as the lists report, one at a time.
    auto r = qtest::callText([&](char **o) { return quorlina_note_list(site.c_root(), o); });
    EXPECT_EQ(r.code, 8);
    EXPECT_EQ(quorlina_last_error(), site.path("content/notes/1600000000.md") + ": Permission denied");
    ::chmod(site.path("content/blog/2019").c_str(), 0755);
}

TEST(Check, TheCallFailsOnlyWhenAFamilyDirectoryCannotBeRead) {
    TempSite site;
    writeGoodFiles(site);
    // The notes directory is a file: no family call can read it, and a
    // check of all families or of the notes fails as they do.
    qtest::removeTree(site.path("content/notes"));
    qtest::writeFile(site.path("content/notes"), "not a directory\n");
    auto listed = qtest::callText([&](char **o) { return quorlina_note_list(site.c_root(), o); });
    ASSERT_NE(listed.code, 0);
    const std::string listError = quorlina_last_error();
    for (const char *family : {static_cast<const char *>(nullptr), "note"}) {
        auto r = qtest::callText([&](char **o) {
            quorlina_check_options opt = QUORLINA_CHECK_OPTIONS_INIT;
            opt.family = family;
            return quorlina_check(site.c_root(), &opt, o);
        });
        EXPECT_EQ(r.code, listed.code);
        EXPECT_TRUE(r.isNull);
        EXPECT_EQ(quorlina_last_error(), listError);
    }
    // The other families are still checked alone.
    EXPECT_EQ(check(site.root(), "post"), "[]");
    EXPECT_EQ(check(site.root(), "snippet"), "[]");
}

TEST(Check, RefusedOptions) {
    TempSite site;
    struct Row {
        const char *what;
        unsigned version;
        const char *family;
        const char *lastError;
    } rows[] = {
        {"unknown family", QUORLINA_CHECK_OPTIONS_VERSION, "posts",
         "unknown family: give \"snippet\", \"post\" or \"note\", or none for all three"},
        {"empty family", QUORLINA_CHECK_OPTIONS_VERSION, "",
         "unknown family: give \"snippet\", \"post\" or \"note\", or none for all three"},
        {"version 0", 0, nullptr,
         "invalid options: a version this library does not know, or fields that cannot be combined"},
        {"newer version", QUORLINA_CHECK_OPTIONS_VERSION + 1, nullptr,
         "invalid options: a version this library does not know, or fields that cannot be combined"},
    };
    for (const Row &row : rows) {
        quorlina_check_options o{row.version, row.family};
        auto r = qtest::callText([&](char **out) { return quorlina_check(site.c_root(), &o, out); });
        EXPECT_EQ(r.code, 100) << row.what;
        EXPECT_TRUE(r.isNull) << row.what;
        EXPECT_STREQ(quorlina_last_error(), row.lastError) << row.what;
    }
    // NULL options check all three; a NULL root or out is refused.
    auto r = qtest::callText([&](char **out) { return quorlina_check(site.c_root(), nullptr, out); });
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text, "[]");
    EXPECT_EQ(quorlina_check(site.c_root(), nullptr, nullptr), 100);
    r = qtest::callText([&](char **out) { return quorlina_check(nullptr, nullptr, out); });
    EXPECT_EQ(r.code, 100);
}

TEST(Check, RelativeRootIsKeptInThePaths) {
    TempSite site;
    qtest::writeFile(site.path("site/content/notes/1700000000.md"), "+++\nslug = \"a b\"\n+++\n");
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(site.c_root()), 0);
    const std::string text = check("site");
    const std::string dotText = check("./site/");
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(text, "[" + entry("note", "site/content/notes/1700000000.md", 10, "the slug is not valid") + "]");
    EXPECT_EQ(dotText, "[" + entry("note", "./site/content/notes/1700000000.md", 10, "the slug is not valid") + "]");
}
