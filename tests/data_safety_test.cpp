// Data safety through the C interface: what a replaced file may carry over
// (permission bits, owner), what a write may produce (nothing the library
// cannot read back: files over the read limit, bytes a TOML basic string
// cannot hold, post names the scan skips), a snippet rename that would land
// on another file, and names refused before anything is made on disk.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/platform.hpp"
#include "support/test_support.hpp"

using qtest::callText;
using qtest::TempSite;

namespace {

// The largest content file the library reads back, in bytes.
constexpr std::size_t kLimit = 10u * 1024 * 1024;
constexpr int64_t kTs = 1700000000;
// The empty file that marks a directory while a write's temporary may be
// in it.
const std::string kWritingMark = ".quorlina-tmp-writing";

// ------------------------------------------------------------------ helpers

unsigned modeOf(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0xFFFFFFFFu;
    return st.st_mode & 07777;
}

std::string octal(unsigned mode) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0%o", mode);
    return buf;
}

std::string hexByte(char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", static_cast<unsigned char>(c));
    return buf;
}

// Collects what went wrong over a table, so that one failure lists every
// case instead of a screen per case.
struct Mismatches {
    std::string lines;
    void code(int got, int want, const std::string &what) {
        if (got != want) lines += "\n  " + what + ": returned " + std::to_string(got) + ", want " + std::to_string(want);
    }
    void check(bool ok, const std::string &what) {
        if (!ok) lines += "\n  " + what;
    }
};

// One item of each family, made and changed through the C interface.
// SnippetRenamed is a snippet whose update gives it another extension.
enum class Kind { Snippet, SnippetRenamed, Note, Post };
constexpr Kind kAllKinds[] = {Kind::Snippet, Kind::SnippetRenamed, Kind::Note, Kind::Post};
constexpr Kind kFamilies[] = {Kind::Snippet, Kind::Note, Kind::Post};

const char *kindName(Kind k) {
    switch (k) {
        case Kind::Snippet: return "snippet";
        case Kind::SnippetRenamed: return "snippet (renamed)";
        case Kind::Note: return "note";
        case Kind::Post: return "post";
    }
    return "?";
}

// Creates the item of the family; returns the path the library reported.
std::string createItem(const TempSite &site, Kind k) {
    const char *r = site.c_root();
    auto res = callText([&](char **out) {
        switch (k) {
            case Kind::Snippet:
            case Kind::SnippetRenamed: return quorlina_snippet_create(r, kTs, "D", "x = 1", "a.py", out);
            case Kind::Note: return quorlina_note_create(r, kTs, "n", "body", out);
            case Kind::Post: return quorlina_post_create(r, "p", "T", "D", "a", "2024-03-09", out);
        }
        return -1;
    });
    EXPECT_EQ(res.code, 0) << kindName(k);
    return res.text;
}

// Where the item's file is after an update.
std::string pathAfterUpdate(const TempSite &site, Kind k) {
    switch (k) {
        case Kind::Snippet: return site.path("content/snippets/1700000000.py");
        case Kind::SnippetRenamed: return site.path("content/snippets/1700000000.rb");
        case Kind::Note: return site.path("content/notes/1700000000.md");
        case Kind::Post: return site.path("content/blog/2024/03/09/p.md");
    }
    return {};
}

// Rewrites the item with `value` as its code, body or title (a renamed
// snippet takes the name b.rb instead).
int updateItem(const TempSite &site, Kind k, const std::string &value) {
    const char *r = site.c_root();
    switch (k) {
        case Kind::Snippet: return quorlina_snippet_update(r, kTs, nullptr, value.c_str(), nullptr);
        case Kind::SnippetRenamed: return quorlina_snippet_update(r, kTs, nullptr, nullptr, "b.rb");
        case Kind::Note: return quorlina_note_update(r, "1700000000", nullptr, 0, value.c_str());
        case Kind::Post: return quorlina_post_update(r, "p", value.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    return -1;
}

// Creates a second item of the family whose file would hold more than
// kLimit bytes.
qtest::TextResult createOversized(const TempSite &site, Kind k) {
    const char *r = site.c_root();
    return callText([&](char **out) {
        switch (k) {
            case Kind::Snippet:
            case Kind::SnippetRenamed: {
                std::string code(kLimit, 'x');
                return quorlina_snippet_create(r, kTs + 1, "D", code.c_str(), "big.py", out);
            }
            case Kind::Note: {
                std::string body(kLimit + 1, 'x');
                return quorlina_note_create(r, kTs + 1, nullptr, body.c_str(), out);
            }
            case Kind::Post: {
                std::string description(kLimit, 'x');
                return quorlina_post_create(r, "big", "T", description.c_str(), nullptr, "2024-03-10", out);
            }
        }
        return -1;
    });
}

int listItems(const TempSite &site, Kind k) {
    const char *r = site.c_root();
    return callText([&](char **out) {
               switch (k) {
                   case Kind::Snippet:
                   case Kind::SnippetRenamed: return quorlina_snippet_list(r, out);
                   case Kind::Note: return quorlina_note_list(r, out);
                   case Kind::Post: return quorlina_post_list(r, out);
               }
               return -1;
           })
        .code;
}

int readItem(const TempSite &site, Kind k) {
    const char *r = site.c_root();
    return callText([&](char **out) {
               switch (k) {
                   case Kind::Snippet:
                   case Kind::SnippetRenamed: return quorlina_snippet_read(r, kTs, out);
                   case Kind::Note: return quorlina_note_read(r, "1700000000", out);
                   case Kind::Post: return quorlina_post_read(r, "p", out);
               }
               return -1;
           })
        .code;
}

int deleteItem(const TempSite &site, Kind k) {
    const char *r = site.c_root();
    switch (k) {
        case Kind::Snippet:
        case Kind::SnippetRenamed: return quorlina_snippet_delete(r, kTs);
        case Kind::Note: return quorlina_note_delete(r, "1700000000");
        case Kind::Post: return quorlina_post_delete(r, "p");
    }
    return -1;
}

// Every test here runs under a watchdog: a hang fails it.
class DataSafety : public ::testing::Test {
protected:
    void SetUp() override { ::alarm(120); }
    void TearDown() override { ::alarm(0); }
};

// Sets the process umask for one scope.
struct UmaskGuard {
    explicit UmaskGuard(mode_t m) : old(::umask(m)) {}
    ~UmaskGuard() { ::umask(old); }
    mode_t old;
};

// ---------------------------------------------------- replacement files

struct ModeCase {
    unsigned before, after;
};

// For every family: an item given mode `before` has mode `after` once it
// has been updated.
void checkModesAfterUpdate(std::initializer_list<ModeCase> cases) {
    Mismatches m;
    int checked = 0, unchecked = 0;
    std::string refused;  // the modes this system would not give
    for (Kind k : kAllKinds) {
        for (const ModeCase &c : cases) {
            TempSite site;
            const std::string path = createItem(site, k);
            const std::string what = std::string(kindName(k)) + " " + octal(c.before);
            ASSERT_EQ(::chmod(path.c_str(), c.before), 0) << what;
            if (modeOf(path) != c.before) {
                // Without privilege the system may drop a set-group-id bit:
                // the case cannot run here, which the test reports below.
                ++unchecked;
                if ((refused + " ").find(" " + octal(c.before) + " ") == std::string::npos) refused += " " + octal(c.before);
                continue;
            }
            m.code(updateItem(site, k, "changed"), 0, what);
            const unsigned mode = modeOf(pathAfterUpdate(site, k));
            m.check(mode == c.after, what + " became " + octal(mode) + ", want " + octal(c.after));
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
    EXPECT_TRUE(m.lines.empty()) << m.lines;
    if (unchecked > 0) {
        GTEST_SKIP() << "this system does not give a file the mode" << refused << " here: " << unchecked << " of "
                     << checked + unchecked << " cases were not checked";
    }
}

TEST_F(DataSafety, ReplacementKeepsThePermissionBits) {
    checkModesAfterUpdate({{0600, 0600}, {0640, 0640}, {0755, 0755}});
}

// Only the 0777 bits are carried over: a rewrite never hands out set-user-id
// or set-group-id, and drops the sticky bit.
TEST_F(DataSafety, ReplacementDropsSetIdAndStickyBits) {
    checkModesAfterUpdate({{04755, 0755}, {02755, 0755}, {01777, 0777}, {06700, 0700}});
}

// While an update of a 0600 file is being written, no file in its directory
// is readable by anyone else (a watcher lists the directory throughout).
TEST_F(DataSafety, ReplacementIsNeverMoreOpenWhileWritten) {
    UmaskGuard mask(022);  // what a plain create would get: 0644
    const std::string a(256 * 1024, 'a'), b(256 * 1024, 'b');
    for (Kind k : kFamilies) {
        TempSite site;
        const std::string path = createItem(site, k);
        ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
        const std::string dir = path.substr(0, path.rfind('/'));

        std::atomic<bool> stop{false};
        std::mutex m;
        std::string seen;
        std::thread watcher([&] {
            while (!stop.load()) {
                DIR *d = ::opendir(dir.c_str());
                if (!d) continue;
                while (dirent *e = ::readdir(d)) {
                    struct stat st {};
                    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                    if (!S_ISREG(st.st_mode) || (st.st_mode & 07777 & ~0600u) == 0) continue;
                    std::lock_guard<std::mutex> lock(m);
                    seen = std::string(e->d_name) + " with mode " + octal(st.st_mode & 07777);
                    stop = true;
                }
                ::closedir(d);
            }
        });
        for (int i = 0; i < 200 && !stop.load(); ++i) EXPECT_EQ(updateItem(site, k, i % 2 ? a : b), 0);
        stop = true;
        watcher.join();
        EXPECT_EQ(seen, "") << kindName(k);
        EXPECT_EQ(octal(modeOf(path)), "0600") << kindName(k);
    }
}

// Root rewriting someone else's file leaves it theirs.
TEST_F(DataSafety, UpdateByRootKeepsTheOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    Mismatches m;
    for (Kind k : kAllKinds) {
        TempSite site;
        const std::string path = createItem(site, k);
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        m.code(updateItem(site, k, "changed"), 0, kindName(k));
        struct stat st {};
        ASSERT_EQ(::lstat(pathAfterUpdate(site, k).c_str(), &st), 0) << kindName(k);
        m.check(st.st_uid == 65534 && st.st_gid == 65534, std::string(kindName(k)) + " is owned by " +
                                                              std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid));
    }
    EXPECT_TRUE(m.lines.empty()) << m.lines;
}

// ----------------------------------------------- files the reader refuses

// A note without slug is its body byte for byte: 10 MiB is the largest file
// written, one byte more is refused.
TEST_F(DataSafety, TenMebibytesIsTheLargestFileWritten) {
    TempSite site;
    const std::string body(kLimit, 'n');
    auto made = callText([&](char **out) { return quorlina_note_create(site.c_root(), kTs, nullptr, body.c_str(), out); });
    ASSERT_EQ(made.code, 0);
    EXPECT_EQ(qtest::readFile(site.path("content/notes/1700000000.md")).value_or("").size(), kLimit);
    auto back = callText([&](char **out) { return quorlina_note_read(site.c_root(), "1700000000", out); });
    EXPECT_EQ(back.code, 0);
    EXPECT_EQ(quorlina_note_delete(site.c_root(), "1700000000"), 0);

    const std::string over(kLimit + 1, 'n');
    auto refused = callText([&](char **out) { return quorlina_note_create(site.c_root(), kTs, nullptr, over.c_str(), out); });
    EXPECT_EQ(refused.code, 100);
    EXPECT_TRUE(refused.isNull);
    EXPECT_FALSE(qtest::exists(site.path("content/notes/1700000000.md")));
}

TEST_F(DataSafety, OversizedCreateLeavesNoTrace) {
    Mismatches m;
    for (Kind k : kFamilies) {
        TempSite site;
        auto r = createOversized(site, k);
        m.code(r.code, 100, std::string(kindName(k)) + " create");
        m.check(r.isNull, std::string(kindName(k)) + " create handed out a path");
        m.check(!qtest::exists(site.path("content")), std::string(kindName(k)) + " create made content/");
    }
    EXPECT_TRUE(m.lines.empty()) << m.lines;
}

// An update or create that would grow a file past the limit changes
// nothing, and every call keeps working afterwards.
TEST_F(DataSafety, OversizedWritesChangeNothingAndTheSiteStaysUsable) {
    const std::string big(kLimit, 'x');
    Mismatches m;
    for (Kind k : kFamilies) {
        const std::string name = kindName(k);
        TempSite site;
        createItem(site, k);
        const qtest::Snapshot before = qtest::snapshot(site.root());
        m.code(updateItem(site, k, big), 100, name + " update");
        m.code(createOversized(site, k).code, 100, name + " create");
        const qtest::Snapshot after = qtest::snapshot(site.root());
        m.check(after == before, name + " files changed:\n" + qtest::describeDiff(before, after));
        m.code(listItems(site, k), 0, name + " list afterwards");
        m.code(readItem(site, k), 0, name + " read afterwards");
        m.code(deleteItem(site, k), 0, name + " delete afterwards");
    }
    // A note growing past the limit by its body alone.
    TempSite site;
    createItem(site, Kind::Note);
    const std::string over(kLimit + 1, 'x');
    m.code(quorlina_note_update(site.c_root(), "1700000000", nullptr, 1, over.c_str()), 100,
           "note update to a bare body of 10 MiB + 1");
    m.check(qtest::readFile(site.path("content/notes/1700000000.md")) == "+++\nslug = \"n\"\n+++\n\nbody",
            "note file changed");
    m.code(quorlina_note_delete(site.c_root(), "1700000000"), 0, "note delete afterwards");
    EXPECT_TRUE(m.lines.empty()) << m.lines;
}

// Control bytes other than tab cannot stand in a TOML basic string, and a
// TOML document is UTF-8, so no description, file name, title or tag may
// carry either (one Latin-1 title stops Hugo building the whole site).
// Nothing is written.
TEST_F(DataSafety, ControlBytesAndBrokenUtf8AreRefusedInFrontMatterStrings) {
    std::vector<std::string> bad;
    for (int c = 0x01; c <= 0x1F; ++c)
        if (c != '\t' && c != '\n' && c != '\r') bad.emplace_back(1, static_cast<char>(c));
    bad.emplace_back("\x7F");
    // Latin-1, a lone continuation byte, a cut sequence, an overlong form, a
    // surrogate, a code point past U+10FFFF, and bytes UTF-8 never uses.
    for (const char *u : {"\xE9", "\x80", "\xC3", "\xE2\x82", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                          "\xF4\x90\x80\x80", "\xFF", "\xF8\x88\x80\x80\x80"})
        bad.emplace_back(u);

    TempSite site;
    const char *r = site.c_root();
    createItem(site, Kind::Snippet);
    createItem(site, Kind::Post);
    const qtest::Snapshot before = qtest::snapshot(site.root());
    auto snippetCreate = [&](const std::string &desc, const std::string &name) {
        return callText([&](char **out) { return quorlina_snippet_create(r, kTs + 1, desc.c_str(), "x", name.c_str(), out); }).code;
    };
    auto postCreate = [&](const std::string &title, const std::string &desc, const std::string &tags) {
        return callText([&](char **out) {
                   return quorlina_post_create(r, "q", title.c_str(), desc.c_str(), tags.c_str(), "2024-03-09", out);
               }).code;
    };
    Mismatches m;
    for (const std::string &c : bad) {
        const std::string s = "a" + c + "b", name = "a" + c + ".py", tags = "ok," + s;
        std::string b = " with";
        for (char x : c) b += " " + hexByte(x);
        m.code(snippetCreate(s, "a.py"), 5, "snippet create, description" + b);
        m.code(snippetCreate("D", name), 6, "snippet create, file name" + b);
        m.code(quorlina_snippet_update(r, kTs, s.c_str(), nullptr, nullptr), 5, "snippet update, description" + b);
        m.code(quorlina_snippet_update(r, kTs, nullptr, nullptr, name.c_str()), 6, "snippet update, file name" + b);
        m.code(postCreate(s, "D", "t"), 7, "post create, title" + b);
        m.code(postCreate("T", s, "t"), 7, "post create, description" + b);
        m.code(postCreate("T", "D", tags), 7, "post create, tags" + b);
        m.code(quorlina_post_update(r, "p", s.c_str(), nullptr, nullptr, nullptr, nullptr), 7, "post update, title" + b);
        m.code(quorlina_post_update(r, "p", nullptr, s.c_str(), nullptr, nullptr, nullptr), 7,
               "post update, description" + b);
        m.code(quorlina_post_update(r, "p", nullptr, nullptr, tags.c_str(), nullptr, nullptr), 7, "post update, tags" + b);
        m.code(quorlina_post_update(r, "p", nullptr, nullptr, nullptr, s.c_str(), nullptr), 7,
               "post update, added tag" + b);
    }
    EXPECT_TRUE(m.lines.empty()) << m.lines;
    const qtest::Snapshot after = qtest::snapshot(site.root());
    EXPECT_TRUE(after == before) << qtest::describeDiff(before, after);
}

// A tab is allowed in a basic string and is written and read back as it is.
TEST_F(DataSafety, TabStaysAllowed) {
    TempSite site;
    const char *r = site.c_root();
    ASSERT_EQ(callText([&](char **out) { return quorlina_snippet_create(r, kTs, "a\tb", "x", "t\tab.py", out); }).code, 0);
    EXPECT_EQ(qtest::readFile(site.path("content/snippets/1700000000.py")),
              std::optional<std::string>("+++\ndescription = \"a\tb\"\nfilename = \"t\tab.py\"\n+++\n\nx"));
    EXPECT_EQ(callText([&](char **out) { return quorlina_snippet_read(r, kTs, out); }).text,
              "{\"id\":\"1700000000\",\"date\":\"2023-11-14\",\"description\":\"a\\tb\",\"filename\":\"t\\tab.py\","
              "\"code\":\"\\nx\"}");

    ASSERT_EQ(callText([&](char **out) { return quorlina_post_create(r, "p", "T\tT", "D\tD", "x\ty", "2024-03-09", out); }).code,
              0);
    EXPECT_EQ(qtest::readFile(site.path("content/blog/2024/03/09/p.md")),
              std::optional<std::string>("+++\ntitle = \"T\tT\"\ndescription = \"D\tD\"\ntags = [\"x\ty\"]\n+++\n\n"));
    EXPECT_EQ(quorlina_post_update(r, "p", "U\tU", nullptr, nullptr, "z\tz", nullptr), 0);
    EXPECT_EQ(callText([&](char **out) { return quorlina_post_read(r, "p", out); }).text,
              "{\"date\":\"2024-03-09\",\"slug\":\"p\",\"title\":\"U\\tU\",\"description\":\"D\\tD\","
              "\"tags\":[\"x\\ty\",\"z\\tz\"],\"content\":\"\"}");
}

// index.md and _index.md are section pages the scan never lists as posts.
TEST_F(DataSafety, IndexSlugsAreRefused) {
    for (const char *slug : {"index", "_index"}) {
        TempSite site;
        auto r = callText(
            [&](char **out) { return quorlina_post_create(site.c_root(), slug, "T", "D", nullptr, "2024-03-09", out); });
        EXPECT_EQ(r.code, 10) << slug;
        EXPECT_TRUE(r.isNull) << slug;
        EXPECT_FALSE(qtest::exists(site.path("content"))) << slug;
    }
}

// ------------------------------------------------------------ snippet rename

// Two files share the timestamp. Renaming one to the other's extension
// would replace the other (or, found the other way round, rewrite a file
// while its twin stays): either way the call is refused and both stay.
TEST_F(DataSafety, SnippetRenameNeverReplacesAnotherFile) {
    TempSite site;
    const std::string py = "+++\ndescription = \"Python\"\nfilename = \"a.py\"\n+++\n\nprint(1)\n";
    const std::string rs = "+++\ndescription = \"Rust\"\nfilename = \"b.rs\"\n+++\n\nfn main() {}\n";
    qtest::writeFile(site.path("content/snippets/1700000000.py"), py);
    qtest::writeFile(site.path("content/snippets/1700000000.rs"), rs);
    EXPECT_EQ(quorlina_snippet_update(site.c_root(), kTs, nullptr, nullptr, "c.rs"), 2);
    EXPECT_EQ(qtest::readFile(site.path("content/snippets/1700000000.py")), std::optional<std::string>(py));
    EXPECT_EQ(qtest::readFile(site.path("content/snippets/1700000000.rs")), std::optional<std::string>(rs));
    EXPECT_EQ(qtest::listDir(site.path("content/snippets")),
              (std::vector<std::string>{"1700000000.py", "1700000000.rs"}));
}

// An extension change first rewrites the file under its old name, then
// moves it with an exclusive rename (the second rename of the call). When
// the move is refused the call fails with the file-system code and the one
// file keeps its old name; where the file system cannot rename exclusively
// the name is checked and a plain rename moves it. Either way the file
// keeps its inode, so its owner and bits.
namespace {
int g_renames = 0;
int g_moveErrno = 0;
int failTheMove(quorlina::platform::fault::Op op) {
    if (op != quorlina::platform::fault::Op::Rename) return 0;
    return ++g_renames == 2 ? g_moveErrno : 0;
}
}  // namespace

TEST_F(DataSafety, SnippetMoveThatFailsLeavesOneFile) {
    struct Row {
        int err;
        int code;
        const char *left;  // the one file afterwards
        std::string path;  // the last-error text names it, after the root, and the system's reason
    } rows[] = {
        {EPERM, 100, "1700000000.py", "/content/snippets/1700000000.py"},
        {EXDEV, 100, "1700000000.py", "/content/snippets/1700000000.py"},
        {EINVAL, 0, "1700000000.rb", ""},
        {ENOSYS, 0, "1700000000.rb", ""},
    };
    for (const Row &row : rows) {
        TempSite site;
        const std::string dir = site.path("content/snippets");
        qtest::writeFile(dir + "/1700000000.py", "+++\ndescription = \"D\"\nfilename = \"a.py\"\n+++\n\nx\n");
        ASSERT_EQ(::chmod((dir + "/1700000000.py").c_str(), 0640), 0);
        const bool root = ::geteuid() == 0;
        if (root) {
            ASSERT_EQ(::chown((dir + "/1700000000.py").c_str(), 65534, 65534), 0);
        }
        struct stat was {};
        ASSERT_EQ(::stat((dir + "/1700000000.py").c_str(), &was), 0);
        g_renames = 0;
        g_moveErrno = row.err;
        quorlina::platform::fault::setHook(failTheMove);
        int code = quorlina_snippet_update(site.c_root(), kTs, nullptr, nullptr, "b.rb");
        quorlina::platform::fault::setHook(nullptr);
        EXPECT_EQ(code, row.code) << row.err;
        EXPECT_EQ(qtest::listDir(dir), std::vector<std::string>{row.left}) << row.err;
        if (row.code != 0) {
            EXPECT_EQ(quorlina_last_error(), site.root() + row.path + ": " + std::strerror(row.err));
        }
        EXPECT_EQ(qtest::readFile(dir + "/" + row.left),
                  std::optional<std::string>("+++\ndescription = \"D\"\nfilename = \"b.rb\"\n+++\n\nx\n"))
            << row.err;
        struct stat now {};
        ASSERT_EQ(::stat((dir + "/" + row.left).c_str(), &now), 0);
        EXPECT_EQ(now.st_mode & 07777, 0640u) << row.err;
        if (root) {
            EXPECT_EQ(now.st_uid, 65534u) << row.err;
        }
    }
}

// --------------------------------------------------------------- litter

// Temporaries left by killed writers are removed by the next create, update
// or delete in their directory, which holds the family lock (so no live
// writer owns them). A killed writer leaves the mark of its write in flight
// beside them, which goes too. Only regular files named exactly as the
// library names its temporaries go; links (and what they point to),
// directories, other kinds and look-alike names stay.
TEST_F(DataSafety, TheNextWriteRemovesTemporariesOfKilledWriters) {
    const std::vector<std::string> litter = {".quorlina-tmp-4242-0-1a2b3c", ".quorlina-tmp-1-17-0", kWritingMark};
    const std::vector<std::string> kept = {".quorlina-tmp-4242-0-1a2b3c~", ".quorlina-tmp-x-0-1", ".quorlina-tmp-1-2-",
                                           "quorlina-tmp-1-2-3", ".quorlina-tmp-1-2-3G", ".quorlina-tmp--2-3",
                                           ".quorlina-tmp-9-9-9dir", ".quorlina-tmp-8-8-8link"};
    struct Row {
        const char *what;
        const char *dir;  // below the root
        std::function<int(const char *root)> call;
    } rows[] = {
        {"snippet create", "content/snippets",
         [](const char *r) { return callText([&](char **o) { return quorlina_snippet_create(r, 1800000000, "D", "x", "a.py", o); }).code; }},
        {"snippet update", "content/snippets", [](const char *r) { return quorlina_snippet_update(r, kTs, "New", nullptr, nullptr); }},
        {"snippet delete", "content/snippets", [](const char *r) { return quorlina_snippet_delete(r, kTs); }},
        {"note create", "content/notes",
         [](const char *r) { return callText([&](char **o) { return quorlina_note_create(r, 1800000000, nullptr, "x", o); }).code; }},
        {"note update", "content/notes", [](const char *r) { return quorlina_note_update(r, "1700000000", nullptr, 0, "y"); }},
        {"note delete", "content/notes", [](const char *r) { return quorlina_note_delete(r, "1700000000"); }},
        {"post create", "content/blog/2024/03/09",
         [](const char *r) {
             return callText([&](char **o) { return quorlina_post_create(r, "new", "T", "D", nullptr, "2024-03-09", o); }).code;
         }},
        {"post update", "content/blog/2024/03/09",
         [](const char *r) { return quorlina_post_update(r, "hello", "New", nullptr, nullptr, nullptr, nullptr); }},
        {"post delete", "content/blog/2024/03/09", [](const char *r) { return quorlina_post_delete(r, "other"); }},
    };
    for (const Row &row : rows) {
        TempSite site;
        qtest::writeFile(site.path("content/snippets/1700000000.py"), "+++\ndescription = \"D\"\n+++\n\nx");
        qtest::writeFile(site.path("content/notes/1700000000.md"), "note");
        qtest::writeFile(site.path("content/blog/2024/03/09/hello.md"), "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n");
        qtest::writeFile(site.path("content/blog/2024/03/09/other.md"), "+++\ntitle = \"O\"\ndescription = \"D\"\n+++\n");
        qtest::writeFile(site.path("outside"), "keep");
        const std::string dir = site.path(row.dir);
        for (const auto &name : litter) qtest::writeFile(dir + "/" + name, "half-written");
        for (const auto &name : kept) {
            if (name.ends_with("dir")) {
                ASSERT_EQ(::mkdir((dir + "/" + name).c_str(), 0755), 0);
            } else if (name.ends_with("link")) {
                ASSERT_EQ(::symlink("../../../../../outside", (dir + "/" + name).c_str()), 0);
            } else {
                qtest::writeFile(dir + "/" + name, "not ours");
            }
        }
        ASSERT_EQ(row.call(site.c_root()), 0) << row.what;
        for (const auto &name : litter) EXPECT_FALSE(qtest::exists(dir + "/" + name)) << row.what << ": " << name;
        for (const auto &name : kept) EXPECT_TRUE(qtest::exists(dir + "/" + name)) << row.what << ": " << name;
        EXPECT_EQ(qtest::readFile(site.path("outside")), std::optional<std::string>("keep"));
    }
}

// A writer that dies at any system call of its write leaves its mark beside
// every temporary it leaves, and the next write in the directory leaves
// neither; the item is then whole, as before or as the write makes it. The
// writer is a child process whose fault hook ends it at the k-th call of
// one kind, for every kind and every k the write reaches.
namespace {
quorlina::platform::fault::Op g_dieAt{};
long g_dieAfter = 0;  // 0: only count
long g_calls = 0;
int dieAtTheCall(quorlina::platform::fault::Op op) {
    if (op != g_dieAt) return 0;
    if (++g_calls == g_dieAfter) ::_exit(42);
    return 0;
}

std::vector<std::string> temporariesIn(const std::string &dir) {
    std::vector<std::string> out;
    for (const auto &name : qtest::listDir(dir))
        if (name.starts_with(".quorlina-tmp-")) out.push_back(name);
    return out;
}
}  // namespace

TEST_F(DataSafety, AWriterKilledAtAnyCallLeavesItsMarkBesideItsTemporary) {
    using Op = quorlina::platform::fault::Op;
    struct Row {
        const char *what;
        const char *dir;   // below the root
        const char *item;  // the file the write makes or replaces, in `dir`
        std::function<int(const char *root)> call;
        std::function<int(const char *root)> next;  // another write in `dir`
    } rows[] = {
        {"snippet update", "content/snippets", "1700000000.py",
         [](const char *r) { return quorlina_snippet_update(r, kTs, "New", "y = 2\n", nullptr); },
         [](const char *r) { return quorlina_snippet_update(r, kTs + 1, "Other", nullptr, nullptr); }},
        {"note create", "content/notes", "1800000000.md",
         [](const char *r) { return callText([&](char **o) { return quorlina_note_create(r, 1800000000, "n", "x", o); }).code; },
         [](const char *r) { return quorlina_note_update(r, "1700000000", nullptr, 0, "y"); }},
        {"post update", "content/blog/2024/03/09", "hello.md",
         [](const char *r) { return quorlina_post_update(r, "hello", "New", nullptr, nullptr, nullptr, nullptr); },
         [](const char *r) { return quorlina_post_delete(r, "other"); }},
    };
    const Op ops[] = {Op::Open, Op::Write, Op::Sync, Op::Chmod, Op::Chown, Op::Rename, Op::Link,
                      Op::Unlink, Op::Stat, Op::SyncDir, Op::Lock, Op::Read, Op::Mkdir};
    auto makeSite = [](TempSite &site) {
        qtest::writeFile(site.path("content/snippets/1700000000.py"), "+++\ndescription = \"D\"\n+++\n\nx = 1\n");
        qtest::writeFile(site.path("content/snippets/1700000001.py"), "+++\ndescription = \"E\"\n+++\n\nz\n");
        qtest::writeFile(site.path("content/notes/1700000000.md"), "note");
        qtest::writeFile(site.path("content/blog/2024/03/09/hello.md"), "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n");
        qtest::writeFile(site.path("content/blog/2024/03/09/other.md"), "+++\ntitle = \"O\"\ndescription = \"D\"\n+++\n");
    };
    int trials = 0, leftTemporaries = 0;
    for (const Row &row : rows) {
        // The item before and after a clean write, and how many calls of
        // each kind the write makes.
        TempSite clean;
        makeSite(clean);
        const std::string cleanItem = clean.path(row.dir) + "/" + row.item;
        const auto before = qtest::readFile(cleanItem);
        std::map<Op, long> calls;
        for (Op op : ops) {
            TempSite counted;
            makeSite(counted);
            g_dieAt = op;
            g_dieAfter = 0;
            g_calls = 0;
            quorlina::platform::fault::setHook(dieAtTheCall);
            const int code = row.call(counted.c_root());
            quorlina::platform::fault::setHook(nullptr);
            ASSERT_EQ(code, 0) << row.what;
            calls[op] = g_calls;
        }
        ASSERT_EQ(row.call(clean.c_root()), 0) << row.what;
        const auto after = qtest::readFile(cleanItem);
        ASSERT_GT(calls[Op::Sync], 0) << row.what;

        for (Op op : ops) {
            for (long k = 1; k <= calls[op]; ++k) {
                const std::string trace = std::string(row.what) + ", killed at call " + std::to_string(k) +
                                          " of kind " + std::to_string(static_cast<int>(op));
                TempSite site;
                makeSite(site);
                const std::string dir = site.path(row.dir);
                const pid_t child = ::fork();
                ASSERT_GE(child, 0);
                if (child == 0) {
                    g_dieAt = op;
                    g_dieAfter = k;
                    g_calls = 0;
                    quorlina::platform::fault::setHook(dieAtTheCall);
                    (void)row.call(site.c_root());
                    ::_exit(0);
                }
                int status = 0;
                ASSERT_EQ(::waitpid(child, &status, 0), child);
                ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42) << trace;
                ++trials;
                const auto left = temporariesIn(dir);
                if (!left.empty()) {
                    ++leftTemporaries;
                    EXPECT_TRUE(qtest::exists(dir + "/" + kWritingMark)) << trace << ": " << left[0] << " without a mark";
                }
                const auto item = qtest::readFile(dir + "/" + row.item);
                EXPECT_TRUE(item == before || item == after) << trace;
                ASSERT_EQ(row.next(site.c_root()), 0) << trace;
                EXPECT_EQ(temporariesIn(dir), std::vector<std::string>{}) << trace;
            }
        }
    }
    // The kills reached the point where a temporary exists.
    EXPECT_GT(leftTemporaries, 0);
    EXPECT_GT(trials, 30);
}

// ------------------------------------------------- names refused up front

// A file name longer than the file system takes is refused before any
// directory is made. A post file name of 255 bytes is the longest.
TEST_F(DataSafety, OverlongNamesAreRefusedBeforeAnyChange) {
    TempSite site;
    const char *r = site.c_root();
    for (std::size_t n : {300u, 253u}) {
        const std::string slug(n, 's');
        auto res = callText([&](char **out) { return quorlina_post_create(r, slug.c_str(), "T", "D", nullptr, "2024-03-09", out); });
        EXPECT_EQ(res.code, 100) << n;
        EXPECT_FALSE(qtest::exists(site.path("content/blog/2024"))) << n << " bytes: a year directory was made";
    }
    const std::string name = "a." + std::string(300, 'x');
    auto res = callText([&](char **out) { return quorlina_snippet_create(r, kTs, "D", "x", name.c_str(), out); });
    EXPECT_EQ(res.code, 100);
    EXPECT_FALSE(qtest::exists(site.path("content/snippets")));

    const std::string longest(252, 's');
    ASSERT_EQ(callText([&](char **out) { return quorlina_post_create(r, longest.c_str(), "T", "D", nullptr, "2024-03-09", out); })
                  .code,
              0);
    EXPECT_TRUE(qtest::exists(site.path("content/blog/2024/03/09/" + longest + ".md")));
}

}  // namespace
