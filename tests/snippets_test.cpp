// The snippet family through the C interface: exact file bytes, exact JSON,
// order, result codes, and what stays on disk when a call fails.
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/platform.hpp"
#include "core/snippet_frontmatter.hpp"
#include "core/snippets.hpp"
#include "support/test_support.hpp"

using qtest::callText;
using qtest::TempSite;

namespace {

const std::string kSortFile =
    "+++\ndescription = \"Sort a list\"\nfilename = \"sort.py\"\n+++\n\nx = 1";
const std::string kSortJson =
    "{\"id\":\"1700000000\",\"date\":\"2023-11-14\",\"description\":\"Sort a list\","
    "\"filename\":\"sort.py\",\"code\":\"\\nx = 1\"}";

std::string snippetFile(const std::string &description, const std::string &code) {
    return "+++\ndescription = \"" + description + "\"\n+++\n\n" + code;
}

class Snippets : public ::testing::Test {
protected:
    TempSite site;
    std::string dir() const { return site.path("content/snippets"); }
    std::string file(const std::string &name) const { return dir() + "/" + name; }
    void put(const std::string &name, const std::string &bytes) { qtest::writeFile(file(name), bytes); }

    qtest::TextResult create(int64_t ts, const char *desc, const char *code, const char *filename) {
        return callText([&](char **out) {
            return quorlina_snippet_create(site.c_root(), ts, desc, code, filename, out);
        });
    }
    qtest::TextResult list() {
        return callText([&](char **out) { return quorlina_snippet_list(site.c_root(), out); });
    }
    qtest::TextResult read(int64_t ts) {
        return callText([&](char **out) { return quorlina_snippet_read(site.c_root(), ts, out); });
    }
};

}  // namespace

TEST_F(Snippets, CreateWritesTheExactFileAndReturnsItsPath) {
    auto r = create(1700000000, "Sort a list", "x = 1", "sort.py");
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.text, site.root() + "/content/snippets/1700000000.py");
    EXPECT_EQ(*qtest::readFile(file("1700000000.py")), kSortFile);
    EXPECT_EQ(qtest::listDir(dir()), std::vector<std::string>{"1700000000.py"});
}

TEST_F(Snippets, ReadGivesTheRecordWithOneLineBreakKept) {
    put("1700000000.py", kSortFile);
    auto r = read(1700000000);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.text, kSortJson);
    auto l = list();
    ASSERT_EQ(l.code, 0);
    EXPECT_EQ(l.text, "[" + kSortJson + "]");
}

TEST_F(Snippets, RelativeRootGivesRelativePath) {
    ASSERT_EQ(::chdir(site.c_root()), 0);
    auto r = callText([](char **out) { return quorlina_snippet_create("site", 1700000000, "D", "c", "a.sh", out); });
    auto r2 = callText([](char **out) { return quorlina_snippet_create("", 1700000001, "D", "c", "b.sh", out); });
    ASSERT_EQ(::chdir("/"), 0);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text, "site/content/snippets/1700000000.sh");
    EXPECT_EQ(r2.text, "content/snippets/1700000001.sh");
    EXPECT_TRUE(qtest::exists(site.path("site/content/snippets/1700000000.sh")));
}

TEST_F(Snippets, ExtensionCaseIsKeptInTheName) {
    ASSERT_EQ(create(1700000000, "Main", "int main(){}", "Main.PY").code, 0);
    EXPECT_TRUE(qtest::exists(file("1700000000.PY")));
    EXPECT_EQ(read(1700000000).text,
              "{\"id\":\"1700000000\",\"date\":\"2023-11-14\",\"description\":\"Main\",\"filename\":\"Main.PY\","
              "\"code\":\"\\nint main(){}\"}");
}

TEST_F(Snippets, CreateValidationCodesComeBeforeAnyDiskAccess) {
    struct Case {
        int64_t ts;
        const char *desc;
        const char *filename;
        int code;
    } cases[] = {
        {-1, "D", "a.py", 1},
        {INT64_MIN, "D", "a.py", 1},
        {1, "", "a.py", 5},
        {1, "say \"hi\"", "a.py", 5},
        {1, "two\nlines", "a.py", 5},
        {1, "cr\rhere", "a.py", 5},
        {1, "a +++ b", "a.py", 5},
        {1, "D", "", 6},
        {1, "D", "dir/a.py", 6},
        {1, "D", "dir\\a.py", 6},
        {1, "D", "q\".py", 6},
        {1, "D", "a\n.py", 6},
        {1, "D", "a+++b.py", 6},
        {1, "D", "Makefile", 4},
        {1, "D", "a.", 4},
        {1, "D", "a.b+c", 4},
        {1, "D", "a.p y", 4},
    };
    for (const auto &c : cases) {
        auto r = create(c.ts, c.desc, "code", c.filename);
        EXPECT_EQ(r.code, c.code) << c.desc << " / " << c.filename;
        EXPECT_TRUE(r.isNull);
    }
    EXPECT_FALSE(qtest::exists(site.path("content")));
}

TEST_F(Snippets, DuplicateStemIsRefusedWhateverTheExtension) {
    put("1700000000.md", snippetFile("Old", "keep"));
    auto r = create(1700000000, "New", "x", "sort.py");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.isNull);
    EXPECT_FALSE(qtest::exists(file("1700000000.py")));
    // Validation is decided first.
    EXPECT_EQ(create(1700000000, "bad\"desc", "x", "sort.py").code, 5);
    EXPECT_EQ(*qtest::readFile(file("1700000000.md")), snippetFile("Old", "keep"));
}

TEST_F(Snippets, CreateNeverWritesThroughASymlink) {
    qtest::writeFile(site.path("outside.txt"), "precious");
    ASSERT_EQ(::mkdir(site.path("content").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir().c_str(), 0755), 0);
    ASSERT_EQ(::symlink(site.path("outside.txt").c_str(), file("1700000000.py").c_str()), 0);
    EXPECT_EQ(create(1700000000, "D", "evil", "a.py").code, 2);
    EXPECT_EQ(*qtest::readFile(site.path("outside.txt")), "precious");
    EXPECT_EQ(qtest::listDir(dir()), std::vector<std::string>{"1700000000.py"});
}

TEST_F(Snippets, ConcurrentCreatesOfOneTimestampGiveExactlyOneSuccess) {
    constexpr int kThreads = 8;
    std::atomic<int> ok{0}, dup{0}, other{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            std::string code = "thread " + std::to_string(i);
            std::string name = "t" + std::to_string(i) + ".py";
            char *out = nullptr;
            int rc = quorlina_snippet_create(site.c_root(), 1700000000, "Race", code.c_str(), name.c_str(), &out);
            quorlina_free(out);
            (rc == 0 ? ok : rc == 2 ? dup : other)++;
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(ok.load(), 1);
    EXPECT_EQ(dup.load(), kThreads - 1);
    EXPECT_EQ(other.load(), 0);
    EXPECT_EQ(qtest::listDir(dir()).size(), 1u);
}

TEST_F(Snippets, BackslashesInTheDescriptionSurviveEveryRoundTrip) {
    ASSERT_EQ(create(1700000000, "a\\\\b and c:\\dir\\", "x", "w.bat").code, 0);
    EXPECT_EQ(*qtest::readFile(file("1700000000.bat")),
              "+++\ndescription = \"a\\\\\\\\b and c:\\\\dir\\\\\"\nfilename = \"w.bat\"\n+++\n\nx");
    const std::string json =
        "{\"id\":\"1700000000\",\"date\":\"2023-11-14\",\"description\":\"a\\\\\\\\b and c:\\\\dir\\\\\","
        "\"filename\":\"w.bat\",\"code\":\"\\nx\"}";
    EXPECT_EQ(read(1700000000).text, json);
    // Updates that do not touch the description keep it.
    for (int i = 0; i < 3; ++i) ASSERT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(read(1700000000).text, json);
}

TEST_F(Snippets, HandWrittenFilesReadAsBefore) {
    // A file with a doubled backslash written by hand reads as one backslash.
    put("1700000000.py", "+++\ndescription = \"a\\\\b\"\n+++\ncode");
    EXPECT_EQ(read(1700000000).text,
              "{\"id\":\"1700000000\",\"date\":\"2023-11-14\",\"description\":\"a\\\\b\",\"filename\":"
              "\"1700000000.py\",\"code\":\"code\"}");
    // Comments, blank lines, unknown keys, an empty filename, repeated keys,
    // CRLF line ends, and an unquoted value with a trailing comment.
    put("1700000001.rb",
        "+++\r\n# note\r\n\r\nauthor = \"me\"\r\nfilename =\r\ndescription = \"first\"\r\n"
        "description = last # kept\r\n+++\r\n\r\nputs 1\r\n");
    EXPECT_EQ(read(1700000001).text,
              "{\"id\":\"1700000001\",\"date\":\"2023-11-14\",\"description\":\"last # kept\",\"filename\":"
              "\"1700000001.rb\",\"code\":\"\\r\\nputs 1\\r\\n\"}");
    // \"-quoted values (not TOML) lose their quotes.
    put("1700000002.c", "+++\ndescription = \\\"quoted\\\"\nfilename = \"x.H\"\n+++\nint x;");
    EXPECT_EQ(read(1700000002).text,
              "{\"id\":\"1700000002\",\"date\":\"2023-11-14\",\"description\":\"quoted\",\"filename\":"
              "\"x.H\",\"code\":\"int x;\"}");
    // "+++" inside a string does not end the block; a bare value holding one
    // does.
    put("1700000003.c", "+++\ndescription = \"a+++b\"\n+++\n");
    EXPECT_EQ(read(1700000003).text,
              "{\"id\":\"1700000003\",\"date\":\"2023-11-14\",\"description\":\"a+++b\",\"filename\":"
              "\"1700000003.c\",\"code\":\"\"}");
    put("1700000004.c", "+++\ndescription = a+++b\n+++\n");
    EXPECT_EQ(read(1700000004).text,
              "{\"id\":\"1700000004\",\"date\":\"2023-11-14\",\"description\":\"a\",\"filename\":"
              "\"1700000004.c\",\"code\":\"b\\n+++\\n\"}");
}

TEST_F(Snippets, ControlBytesInCodeAreValidJson) {
    put("1700000000.txt", snippetFile("Bytes", std::string("a\x01\tb\0c\x7f", 7)));
    EXPECT_EQ(read(1700000000).text,
              "{\"id\":\"1700000000\",\"date\":\"2023-11-14\",\"description\":\"Bytes\",\"filename\":"
              "\"1700000000.txt\",\"code\":\"\\na\\u0001\\tb\\u0000c\x7f\"}");
}

TEST_F(Snippets, ListIsNewestFirstWithFileSystemOrderForTies) {
    // Two snippets on 2024-05-01 and one on 2023-01-01.
    put("1714521600.py", snippetFile("may-a", ""));
    put("1672531200.py", snippetFile("jan", ""));
    put("1714525200.py", snippetFile("may-b", ""));
    // The tie keeps the order in which the directory yields the files.
    std::vector<std::string> may;
    auto d = quorlina::platform::Dir::open(dir());
    for (auto e = d->next(); e.ok() && *e; e = d->next()) {
        std::string n((*e)->name);
        if (n != "1672531200.py") may.push_back(n.substr(0, 10));
    }
    ASSERT_EQ(may.size(), 2u);
    auto rec = [](const std::string &id, const std::string &date, const std::string &desc) {
        return "{\"id\":\"" + id + "\",\"date\":\"" + date + "\",\"description\":\"" + desc + "\",\"filename\":\"" +
               id + ".py\",\"code\":\"\\n\"}";
    };
    auto descOf = [](const std::string &id) { return id == "1714521600" ? "may-a" : "may-b"; };
    EXPECT_EQ(list().text, "[" + rec(may[0], "2024-05-01", descOf(may[0])) + "," +
                               rec(may[1], "2024-05-01", descOf(may[1])) + "," +
                               rec("1672531200", "2023-01-01", "jan") + "]");
}

TEST_F(Snippets, EmptyAndMissingDirectoriesListAsEmpty) {
    EXPECT_EQ(list().text, "[]");
    EXPECT_EQ(list().code, 0);
    ASSERT_EQ(::mkdir(site.path("content").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir().c_str(), 0755), 0);
    EXPECT_EQ(list().text, "[]");
    EXPECT_EQ(read(1700000000).code, 3);
}

TEST_F(Snippets, NonCandidatesAreNeverLoaded) {
    const std::string junk = "not a snippet";
    for (const char *name : {"index.md", "_index.md", ".hidden", "README", "1700000000.", ".quorlina-tmp-1-2-3"})
        put(name, junk);
    ASSERT_EQ(::mkdir(file("1700000000.d").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(file("1700000001.fifo").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("index.md", file("1700000002.py").c_str()), 0);
    put("1700000003.py", kSortFile);
    auto r = list();
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.text.find("\"id\":\"1700000003\""), 2u);
    EXPECT_EQ(r.text.find("},{"), std::string::npos);
    EXPECT_EQ(read(1700000002).code, 3);
}

TEST_F(Snippets, BadFileNamesFailTheListWithAWarning) {
    put("1700000000.py", kSortFile);
    put("notes.md", kSortFile);
    testing::internal::CaptureStderr();
    auto r = list();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "warning: Invalid timestamp in filename 'notes.md'\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.isNull);
    // Read loads only the matching file.
    testing::internal::CaptureStderr();
    EXPECT_EQ(read(1700000000).code, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(Snippets, OverflowingStemNamesTheParseError) {
    put("99999999999999999999.py", kSortFile);
    testing::internal::CaptureStderr();
    EXPECT_EQ(list().code, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "warning: Invalid timestamp in filename '99999999999999999999.py': error.Overflow\n");
}

// A snippet whose stem is not a timestamp fails a read and an update of its
// stem with 1 and the same warning line a list writes.
TEST_F(Snippets, ReadAndUpdateOfABadStemWriteTheListsWarning) {
    put("-5.py", kSortFile);
    const std::string warning = "warning: Invalid timestamp in filename '-5.py'\n";
    struct Row {
        const char *what;
        std::function<int()> call;
    } rows[] = {
        {"list", [&] { return list().code; }},
        {"read", [&] { return read(-5).code; }},
        {"update", [&] { return quorlina_snippet_update(site.c_root(), -5, "New", nullptr, nullptr); }},
        {"update with a new extension", [&] { return quorlina_snippet_update(site.c_root(), -5, nullptr, nullptr, "a.rb"); }},
    };
    for (const Row &r : rows) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(r.call(), 1) << r.what;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), warning) << r.what;
    }
    EXPECT_EQ(qtest::listDir(dir()), std::vector<std::string>{"-5.py"});
    EXPECT_EQ(qtest::readFile(file("-5.py")), std::optional<std::string>(kSortFile));
}

// A control byte in a file name never reaches the terminal: the warning
// line spells it \xNN and stays one line.
TEST(WarningLine, ControlBytesInFileNamesAreSpelledOut) {
    struct Row {
        const char *family;
        std::string name;
        std::string shown;
    } rows[] = {
        {"snippets", "a\nb.py", "'a\\x0ab.py'"},
        {"snippets", "\x1b[31mred.py", "'\\x1b[31mred.py'"},
        {"snippets", "del\x7f\t.py", "'del\\x7f\\x09.py'"},
        {"notes", "x\ry.md", "'x\\x0dy.md': error.InvalidCharacter"},
        {"notes", "caf\xc3\xa9.md", "'caf\xc3\xa9.md': error.InvalidCharacter"},
    };
    for (const Row &r : rows) {
        TempSite site;
        qtest::writeFile(site.path(std::string("content/") + r.family + "/" + r.name), kSortFile);
        testing::internal::CaptureStderr();
        auto res = callText([&](char **o) {
            return std::string(r.family) == "notes" ? quorlina_note_list(site.c_root(), o)
                                                    : quorlina_snippet_list(site.c_root(), o);
        });
        EXPECT_EQ(res.code, 1) << r.shown;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "warning: Invalid timestamp in filename " + r.shown + "\n");
    }
}

TEST_F(Snippets, FrontMatterFaultsComeBeforeNameFaults) {
    put("abc.py", "no front matter");
    testing::internal::CaptureStderr();
    EXPECT_EQ(list().code, 7);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(Snippets, MalformedFilesFailWithSeven) {
    const char *bodies[] = {"", "++", " +++\ndescription = \"x\"\n+++\n", "+++\ndescription = \"x\"\n",
                            "+++\nfilename = \"a.py\"\n+++\n", "+++\ndescription = \"\"\n+++\n",
                            "+++\ndescription =\n+++\n"};
    for (const char *b : bodies) {
        put("1700000000.py", b);
        EXPECT_EQ(list().code, 7) << b;
        EXPECT_EQ(read(1700000000).code, 7) << b;
        EXPECT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, "New", nullptr, nullptr), 7) << b;
        EXPECT_EQ(*qtest::readFile(file("1700000000.py")), b);
    }
}

// The records a scan makes of one file: its own extension lowercased, the
// language from the front matter's file name, and a name that cannot be a
// snippet's is refused or not taken for a snippet at all.
TEST_F(Snippets, ExtensionIsLowercasedAndChecked) {
    struct Row {
        const char *name;
        std::string body;
        int records;  // -1: the scan fails with InvalidExtension
        const char *extension;
        const char *language;
    } rows[] = {
        {"1700000000.P-Y", snippetFile("ok", ""), 1, "p-y", "p-y"},
        {"1700000001.p+y", snippetFile("bad", ""), -1, "", ""},
        {"1700000002", snippetFile("no dot", ""), 0, "", ""},
        {"1700000003.py", "+++\ndescription = \"x\"\nfilename = \"Build.GRADLE\"\n+++\n", 1, "py", "gradle"},
    };
    for (const Row &r : rows) {
        qtest::removeTree(dir());
        put(r.name, r.body);
        std::vector<quorlina::Snippet> seen;
        testing::internal::CaptureStderr();
        quorlina::Status st = quorlina::visitSnippets(dir(), [&](const quorlina::Snippet &sn, std::string_view) { seen.push_back(sn); });
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << r.name;
        if (r.records < 0) {
            ASSERT_FALSE(st.ok()) << r.name;
            EXPECT_EQ(st.error(), quorlina::Error::InvalidExtension) << r.name;
            continue;
        }
        ASSERT_TRUE(st.ok()) << r.name;
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(r.records)) << r.name;
        if (seen.empty()) continue;
        EXPECT_EQ(seen[0].extension, r.extension) << r.name;
        EXPECT_EQ(seen[0].language, r.language) << r.name;
        EXPECT_EQ(seen[0].path, dir() + "/" + r.name);
    }
}

TEST_F(Snippets, LookupMatchesTheExactTimestampText) {
    put("0017.py", snippetFile("padded", "x"));
    put("1700000000.txt", snippetFile("text", "y"));
    auto l = list();
    ASSERT_EQ(l.code, 0);
    EXPECT_NE(l.text.find("{\"id\":\"0017\",\"date\":\"1970-01-01\""), std::string::npos);
    EXPECT_EQ(read(17).code, 3);
    EXPECT_EQ(read(-5).code, 3);
    auto r = read(1700000000);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.text.find("\"filename\":\"1700000000.txt\""), std::string::npos);
}

TEST_F(Snippets, UpdateWithANewExtensionRenames) {
    ASSERT_EQ(create(1700000000, "Sort a list", "x = 1", "sort.py").code, 0);
    ASSERT_EQ(::chmod(file("1700000000.py").c_str(), 0600), 0);
    ASSERT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, nullptr, nullptr, "sort.rb"), 0);
    EXPECT_EQ(qtest::listDir(dir()), std::vector<std::string>{"1700000000.rb"});
    EXPECT_EQ(*qtest::readFile(file("1700000000.rb")),
              "+++\ndescription = \"Sort a list\"\nfilename = \"sort.rb\"\n+++\n\nx = 1");
    struct stat st {};
    ASSERT_EQ(::stat(file("1700000000.rb").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(Snippets, UpdateKeepsEverythingNotGivenAndIsStable) {
    ASSERT_EQ(create(1700000000, "Sort a list", "x = 1", "sort.py").code, 0);
    ASSERT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, "Sorted", nullptr, nullptr), 0);
    EXPECT_EQ(*qtest::readFile(file("1700000000.py")),
              "+++\ndescription = \"Sorted\"\nfilename = \"sort.py\"\n+++\n\nx = 1");
    for (int i = 0; i < 3; ++i) ASSERT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(*qtest::readFile(file("1700000000.py")),
              "+++\ndescription = \"Sorted\"\nfilename = \"sort.py\"\n+++\n\nx = 1");
    ASSERT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, nullptr, "y = 2\n", nullptr), 0);
    EXPECT_EQ(*qtest::readFile(file("1700000000.py")),
              "+++\ndescription = \"Sorted\"\nfilename = \"sort.py\"\n+++\n\ny = 2\n");
    // A CRLF file written by hand: an update that changes nothing leaves
    // it byte for byte, and a new description keeps its line break.
    put("1700000001.py", "+++\r\ndescription = \"w\"\r\n+++\r\n\r\ncode\r\n");
    ASSERT_EQ(quorlina_snippet_update(site.c_root(), 1700000001, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(*qtest::readFile(file("1700000001.py")), "+++\r\ndescription = \"w\"\r\n+++\r\n\r\ncode\r\n");
    ASSERT_EQ(quorlina_snippet_update(site.c_root(), 1700000001, "v", nullptr, nullptr), 0);
    EXPECT_EQ(*qtest::readFile(file("1700000001.py")), "+++\r\ndescription = \"v\"\r\n+++\r\n\r\ncode\r\n");
}

TEST_F(Snippets, UpdateValidatesOnlyWhatIsGivenAndWritesNothingOnFailure) {
    ASSERT_EQ(create(1700000000, "Sort a list", "x = 1", "sort.py").code, 0);
    EXPECT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, "bad\"", nullptr, nullptr), 5);
    EXPECT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, "a+++", nullptr, nullptr), 5);
    EXPECT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, nullptr, nullptr, "a/b.py"), 6);
    EXPECT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, nullptr, nullptr, "Makefile"), 4);
    EXPECT_EQ(quorlina_snippet_update(site.c_root(), 1700000001, "x", nullptr, nullptr), 3);
    EXPECT_EQ(quorlina_snippet_update(site.c_root(), -1, "x", nullptr, nullptr), 3);
    EXPECT_EQ(*qtest::readFile(file("1700000000.py")), kSortFile);
    EXPECT_EQ(qtest::listDir(dir()), std::vector<std::string>{"1700000000.py"});
}

TEST_F(Snippets, UpdateNeverRemovesTheFileItWrote) {
    // Two names for one file, as a case-insensitive file system presents
    // 1700000000.PY and 1700000000.py: the old name must stay.
    put("1700000000.PY", snippetFile("Upper", "x"));
    ASSERT_EQ(::link(file("1700000000.PY").c_str(), file("1700000000.py").c_str()), 0);
    ASSERT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, "Lower", nullptr, nullptr), 0);
    EXPECT_EQ(qtest::listDir(dir()), (std::vector<std::string>{"1700000000.PY", "1700000000.py"}));
    EXPECT_EQ(*qtest::readFile(file("1700000000.py")), "+++\ndescription = \"Lower\"\n+++\n\nx");
}

namespace {
// Fails the step that publishes a file: the rename over an old name, or the
// link of a new one.
int failRename(quorlina::platform::fault::Op op) {
    using quorlina::platform::fault::Op;
    return op == Op::Rename || op == Op::Link ? EIO : 0;
}
int failSync(quorlina::platform::fault::Op op) { return op == quorlina::platform::fault::Op::Sync ? EIO : 0; }
}  // namespace

TEST_F(Snippets, FailedWritesLeaveTheOldStateByteForByte) {
    ASSERT_EQ(create(1700000000, "Sort a list", "x = 1", "sort.py").code, 0);
    quorlina::platform::fault::setHook(failRename);
    EXPECT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, "New", "y", nullptr), 100);
    EXPECT_EQ(quorlina_snippet_update(site.c_root(), 1700000000, nullptr, nullptr, "s.rb"), 100);
    quorlina::platform::fault::setHook(failSync);
    auto r = create(1700000001, "Other", "z", "z.py");
    quorlina::platform::fault::setHook(nullptr);
    EXPECT_EQ(r.code, 100);
    EXPECT_TRUE(r.isNull);
    EXPECT_EQ(qtest::listDir(dir()), std::vector<std::string>{"1700000000.py"});
    EXPECT_EQ(*qtest::readFile(file("1700000000.py")), kSortFile);
}

TEST_F(Snippets, DeleteRemovesOnlyTheMatchingFile) {
    put("1700000000.py", "anything at all");
    put("1700000001.py", kSortFile);
    EXPECT_EQ(quorlina_snippet_delete(site.c_root(), 1700000000), 0);
    EXPECT_EQ(quorlina_snippet_delete(site.c_root(), 1700000000), 3);
    EXPECT_EQ(quorlina_snippet_delete(site.c_root(), 42), 3);
    EXPECT_EQ(qtest::listDir(dir()), std::vector<std::string>{"1700000001.py"});
    TempSite empty;
    EXPECT_EQ(quorlina_snippet_delete(empty.c_root(), 1), 3);
}

TEST(SnippetBody, LayoutWithAndWithoutFileName) {
    EXPECT_EQ(quorlina::buildSnippetBody("Sort a list", std::string_view("sort.py"), "x = 1"), kSortFile);
    EXPECT_EQ(quorlina::buildSnippetBody("D", std::nullopt, ""), "+++\ndescription = \"D\"\n+++\n\n");
}

// A value reads as TOML reads it when it is a TOML value, else by the line
// rules: one pair of quotes (or of \" quotes) goes, \" and \\ are read.
TEST(SnippetReader, ValuesReadAsTomlOrByTheLineRules) {
    struct Case {
        const char *value;
        const char *reads;
    };
    const Case cases[] = {
        {"\"a\\\\b\"", "a\\b"},
        {"\"say \\\"x\\\"\"", "say \"x\""},
        {"\"\"", ""},
        {"\"tab\\tnew\\nline\"", "tab\tnew\nline"},
        {"\"\\u00e9\\U0001F600\"", "\xC3\xA9\xF0\x9F\x98\x80"},
        {"'C:\\dir\\'", "C:\\dir\\"},
        {"\"x.py\" # the name", "x.py"},
        {"\"\"\"\nmulti\\\n   line\"\"\"", "multiline"},
        {"'''\r\nraw \\n'''", "raw \\n"},
        {"42", "42"},
        // Not TOML.
        {"\\\"q\\\"", "q"},
        {"\"", "\""},
        {"plain # comment", "plain # comment"},
        {"\"a\\nb\\\"", "a\\nb\\"},
        {"\"x\" \"y\"", "x\" \"y"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        std::string file = std::string("+++\ndescription = \"d\"\nfilename = ") + c.value + "\n+++\ncode";
        auto r = quorlina::snippet_frontmatter::parse(file);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r->frontmatter.filename, std::optional<std::string>(c.reads));
        EXPECT_EQ(file.substr(r->codeOffset), "code");
    }
}
