// Hostile trees: symbolic-link loops and links out of the root, FIFOs,
// sockets and device nodes where content files belong, very deep trees
// under content/blog, file names with every byte from 0x01 to 0xFF, files
// of 10 MiB, and unreadable files and directories. Every call must return a
// documented code with valid JSON when it succeeds, in bounded time, and
// never change anything outside the root.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <functional>
#include <string>
#include <vector>

#include "core/platform.hpp"
#include "reliability_support.hpp"

namespace {

using qrel::Family;
using qtest::callText;

// Every call in this file runs under a watchdog: a hang fails the test.
class Hostile : public ::testing::Test {
protected:
    void SetUp() override { ::alarm(120); }
    void TearDown() override { ::alarm(0); }

    qtest::TempSite site;
    std::string root() const { return site.root() + "/site"; }
    std::string outside() const { return site.root() + "/outside"; }
    const char *r() const {
        rootText = root();
        return rootText.c_str();
    }
    mutable std::string rootText;

    void SetUpOutside() {
        qtest::writeFile(outside() + "/secret.md", "+++\nslug = \"secret\"\n+++\n\nprecious");
        qtest::writeFile(outside() + "/2024/03/09/outpost.md", "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n");
        qtest::writeFile(outside() + "/1700000009.py", "+++\ndescription = \"outside\"\n+++\n\nx");
    }

    // Lists every family; each must give `expected` (valid JSON when 0).
    void expectLists(int snippets, int posts, int notes) {
        int expected[] = {snippets, posts, notes};
        int i = 0;
        for (Family f : {Family::Snippets, Family::Posts, Family::Notes}) {
            qrel::Listing l = qrel::listFamily(root(), f);
            EXPECT_EQ(l.code, expected[i++]) << qrel::familyName(f);
            EXPECT_EQ(l.fault, "") << qrel::familyName(f);
        }
    }
};

int symlinkAt(const std::string &target, const std::string &path) {
    qtest::makeParents(path);
    return ::symlink(target.c_str(), path.c_str());
}

TEST_F(Hostile, SymlinkLoopsAndLinksOutOfTheRootAreNeverFollowed) {
    qrel::writeFixture(root());
    SetUpOutside();
    const std::string s = root() + "/content/snippets/", b = root() + "/content/blog/", n = root() + "/content/notes/";
    // Loops.
    ASSERT_EQ(symlinkAt("1700000001.py", s + "1700000002.py"), 0);
    ASSERT_EQ(symlinkAt("1700000002.py", s + "1700000001.py"), 0);
    ASSERT_EQ(symlinkAt("1700000011.md", n + "1700000011.md"), 0);
    ASSERT_EQ(symlinkAt(".", b + "2024/03/09/loop"), 0);
    ASSERT_EQ(symlinkAt("../..", b + "2024/03/10"), 0);
    // Out of the root, under names that would be valid items.
    ASSERT_EQ(symlinkAt(outside() + "/1700000009.py", s + "1700000009.py"), 0);
    ASSERT_EQ(symlinkAt(outside() + "/secret.md", n + "1700000012.md"), 0);
    ASSERT_EQ(symlinkAt(outside() + "/2024", b + "2025"), 0);
    ASSERT_EQ(symlinkAt(outside() + "/2024/03/09/outpost.md", b + "2024/03/09/outpost.md"), 0);
    ASSERT_EQ(symlinkAt(outside() + "/secret.md", b + "2024/03/09/secret.md"), 0);
    const qrel::Snapshot outsideBefore = qrel::snapshot(outside());

    expectLists(0, 0, 0);
    EXPECT_EQ(qrel::listFamily(root(), Family::Snippets).value.items.size(), 2u);
    EXPECT_EQ(qrel::listFamily(root(), Family::Posts).value.items.size(), 2u);
    EXPECT_EQ(qrel::listFamily(root(), Family::Notes).value.items.size(), 2u);
    // Links are not items: reading, updating and deleting them finds nothing,
    // and creating over them is refused.
    EXPECT_EQ(callText([&](char **o) { return quorlina_snippet_read(r(), 1700000009, o); }).code, 3);
    EXPECT_EQ(quorlina_snippet_update(r(), 1700000009, "changed", "evil", nullptr), 3);
    EXPECT_EQ(quorlina_snippet_delete(r(), 1700000009), 3);
    EXPECT_EQ(callText([&](char **o) { return quorlina_snippet_create(r(), 1700000009, "d", "evil", "a.py", o); }).code, 2);
    EXPECT_EQ(callText([&](char **o) { return quorlina_note_read(r(), "secret", o); }).code, 3);
    EXPECT_EQ(callText([&](char **o) { return quorlina_note_read(r(), "1700000012", o); }).code, 3);
    EXPECT_EQ(quorlina_note_update(r(), "1700000012", nullptr, 0, "evil"), 3);
    EXPECT_EQ(quorlina_note_delete(r(), "1700000012"), 3);
    EXPECT_EQ(callText([&](char **o) { return quorlina_note_create(r(), 1700000012, nullptr, "evil", o); }).code, 2);
    EXPECT_EQ(callText([&](char **o) { return quorlina_post_read(r(), "outpost", o); }).code, 3);
    EXPECT_EQ(quorlina_post_update(r(), "outpost", "evil", nullptr, nullptr, nullptr, nullptr), 3);
    EXPECT_EQ(quorlina_post_delete(r(), "secret"), 3);
    EXPECT_EQ(callText([&](char **o) { return quorlina_post_create(r(), "outpost", "T", "D", nullptr, "2024-03-09", o); }).code, 2);
    // Creating a post below a linked year directory: the directory is a link
    // and must not be written through.
    int code = callText([&](char **o) { return quorlina_post_create(r(), "via-link", "T", "D", nullptr, "2025-03-09", o); }).code;
    EXPECT_TRUE(code == 0 || code == 8 || code == 100) << code;
    EXPECT_TRUE(qrel::snapshot(outside()) == outsideBefore) << qrel::describeDiff(outsideBefore, qrel::snapshot(outside()));
    expectLists(0, 0, 0);
}

TEST_F(Hostile, FifosSocketsAndDevicesAreNotContent) {
    qrel::writeFixture(root());
    const std::string s = root() + "/content/snippets/", b = root() + "/content/blog/2024/03/09/",
                      n = root() + "/content/notes/";
    for (const std::string &p : {s + "1700000001.py", b + "fifo.md", n + "1700000001.md"})
        ASSERT_EQ(::mkfifo(p.c_str(), 0666), 0) << p;
    for (const std::string &p : {s + "1700000002.py", b + "sock.md", n + "1700000002.md"}) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        ASSERT_LT(p.size(), sizeof addr.sun_path);
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", p.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0) << p;
        ::close(fd);
    }
    // Device nodes need privilege. Where mknod is refused none is left
    // behind, only the FIFOs and sockets are checked, and the test ends by
    // saying so.
    const std::string devicePaths[] = {s + "1700000003.py", b + "dev.md", n + "1700000003.md"};
    bool devices = true;
    for (const std::string &p : devicePaths)
        devices = devices && ::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // like /dev/null
    std::vector<std::int64_t> stamps = {1700000001, 1700000002};
    std::vector<const char *> slugs = {"fifo", "sock"};
    if (devices) {
        stamps.push_back(1700000003);
        slugs.push_back("dev");
    } else {
        for (const std::string &p : devicePaths) ::unlink(p.c_str());
    }

    expectLists(0, 0, 0);
    EXPECT_EQ(qrel::listFamily(root(), Family::Notes).value.items.size(), 2u);
    for (std::int64_t ts : stamps) {
        EXPECT_EQ(callText([&](char **o) { return quorlina_snippet_read(r(), ts, o); }).code, 3);
        EXPECT_EQ(quorlina_snippet_update(r(), ts, "x", nullptr, nullptr), 3);
        EXPECT_EQ(callText([&](char **o) { return quorlina_snippet_create(r(), ts, "d", "c", "a.py", o); }).code, 2);
        std::string id = std::to_string(ts);
        EXPECT_EQ(callText([&](char **o) { return quorlina_note_read(r(), id.c_str(), o); }).code, 3);
        EXPECT_EQ(callText([&](char **o) { return quorlina_note_create(r(), ts, nullptr, "c", o); }).code, 2);
        EXPECT_EQ(quorlina_note_delete(r(), id.c_str()), 3);
    }
    for (const char *slug : slugs) {
        EXPECT_EQ(callText([&](char **o) { return quorlina_post_read(r(), slug, o); }).code, 3);
        EXPECT_EQ(callText([&](char **o) { return quorlina_post_create(r(), slug, "T", "D", nullptr, "2024-03-09", o); }).code,
                  2);
    }
    if (!devices) GTEST_SKIP() << "device nodes cannot be made here (mknod refused); FIFOs and sockets were checked";
}

// Makes `depth` nested directories named `name` below `base`, beyond the
// path length limit, working relative to open directories.
void makeDeep(const std::string &base, const char *name, int depth) {
    qtest::makeParents(base + "/x");
    int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(::mkdirat(fd, name, 0755), 0);
        int child = ::openat(fd, name, O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(child, 0);
        fd = child;
    }
    int f = ::openat(fd, "deep.md", O_WRONLY | O_CREAT, 0644);
    ::close(f);
    ::close(fd);
}

void removeDeep(const std::string &base, const char *name, int depth) {
    // Walk down with relative opens and remove from the bottom up.
    std::vector<int> fds{::open(base.c_str(), O_RDONLY | O_DIRECTORY)};
    for (int i = 0; i < depth && fds.back() >= 0; ++i) fds.push_back(::openat(fds.back(), name, O_RDONLY | O_DIRECTORY));
    ::unlinkat(fds.back(), "deep.md", 0);
    for (int i = static_cast<int>(fds.size()) - 1; i > 0; --i) {
        ::close(fds[i]);
        ::unlinkat(fds[i - 1], name, AT_REMOVEDIR);
    }
    ::close(fds[0]);
}

TEST_F(Hostile, VeryDeepTreesUnderTheBlog) {
    qrel::writeFixture(root());
    const std::string b = root() + "/content/blog";
    constexpr int kDepth = 3000;  // far beyond the path length limit
    makeDeep(b + "/2024/03/09", "d", kDepth);
    makeDeep(b + "/2023", "12", kDepth);
    makeDeep(b + "/deep", "2024", kDepth);
    expectLists(0, 0, 0);
    EXPECT_EQ(qrel::listFamily(root(), Family::Posts).value.items.size(), 2u);
    EXPECT_EQ(callText([&](char **o) { return quorlina_post_read(r(), "second", o); }).code, 3);
    EXPECT_EQ(callText([&](char **o) { return quorlina_post_read(r(), "intro", o); }).code, 0);
    EXPECT_EQ(quorlina_post_update(r(), "hello", nullptr, "new", nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(callText([&](char **o) { return quorlina_post_create(r(), "n", "T", "D", nullptr, "2023-12-12", o); }).code, 0);
    EXPECT_EQ(quorlina_post_delete(r(), "n"), 0);
    removeDeep(b + "/2024/03/09", "d", kDepth);
    removeDeep(b + "/2023", "12", kDepth);
    removeDeep(b + "/deep", "2024", kDepth);
}

// A name holding byte `c` (never "/" or NUL).
std::string withByte(unsigned char c, const std::string &before, const std::string &after) {
    return before + std::string(1, static_cast<char>(c)) + after;
}

TEST_F(Hostile, PostFileNamesWithEveryByteListAsValidJson) {
    const std::string day = root() + "/content/blog/2024/03/09/";
    const std::string post = "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n";
    int files = 0;
    for (int c = 1; c < 256; ++c) {
        if (c == '/') continue;
        qtest::writeFile(day + withByte(static_cast<unsigned char>(c), "p", "q.md"), post);
        ++files;
    }
    qrel::Listing l = qrel::listFamily(root(), Family::Posts);
    ASSERT_EQ(l.code, 0);
    ASSERT_EQ(l.fault, "");
    ASSERT_EQ(l.value.items.size(), static_cast<std::size_t>(files));
    // The slug comes from the file name; every one of them reads back.
    for (const auto &item : l.value.items) {
        const std::string &slug = item.get("slug")->text;
        ASSERT_EQ(slug.size(), 3u);
        auto res = callText([&](char **o) { return quorlina_post_read(r(), slug.c_str(), o); });
        EXPECT_EQ(res.code, 0) << "slug of " << slug.size() << " bytes, middle byte " << static_cast<int>(static_cast<unsigned char>(slug[1]));
        EXPECT_EQ(qjson::checkRecordText(res.text, qjson::Record::PostFull), "");
    }
}

TEST_F(Hostile, SnippetAndNoteNamesWithEveryByteGiveDocumentedCodes) {
    // One file per site: a name that is not a timestamp fails the whole
    // list with 1 and a warning; every other name lists as valid JSON.
    for (int c = 1; c < 256; ++c) {
        if (c == '/') continue;
        const unsigned char b = static_cast<unsigned char>(c);
        qrel::clearSite(root());
        qtest::writeFile(root() + "/content/snippets/" + withByte(b, "17000", "00000.py"),
                         "+++\ndescription = \"d\"\n+++\n\nx");
        qtest::writeFile(root() + "/content/snippets/" + withByte(b, "1700000001.p", "y"),
                         "+++\ndescription = \"d\"\n+++\n\nx");
        qtest::writeFile(root() + "/content/notes/" + withByte(b, "17000", "00000.md"), "note");
        ::testing::internal::CaptureStderr();
        qrel::Listing s = qrel::listFamily(root(), Family::Snippets);
        qrel::Listing n = qrel::listFamily(root(), Family::Notes);
        std::string warnings = ::testing::internal::GetCapturedStderr();
        SCOPED_TRACE("byte " + std::to_string(c));
        EXPECT_TRUE(s.code == 0 || s.code == 1 || s.code == 4) << s.code;
        EXPECT_TRUE(n.code == 0 || n.code == 1) << n.code;
        EXPECT_EQ(s.fault, "");
        EXPECT_EQ(n.fault, "");
        if (n.code == 0) {
            EXPECT_EQ(n.value.items.size(), 1u);
        }
        // One warning for each list that failed on the name, each one line
        // without a control byte (they are spelled \xNN).
        std::size_t count = 0, lines = 0, controls = 0;
        for (std::size_t at = warnings.find("warning: "); at != std::string::npos; at = warnings.find("warning: ", at + 1))
            ++count;
        for (char ch : warnings) {
            auto u = static_cast<unsigned char>(ch);
            if (ch == '\n') ++lines;
            else if (u < 0x20 || u == 0x7F) ++controls;
        }
        EXPECT_EQ(count, static_cast<std::size_t>((s.code == 1) + (n.code == 1))) << warnings;
        EXPECT_EQ(lines, count) << warnings;
        EXPECT_EQ(controls, 0u) << warnings;
        EXPECT_TRUE(warnings.empty() || warnings.back() == '\n');
    }
}

TEST_F(Hostile, TenMebibyteFilesAreReadAndOneByteMoreIsRefused) {
    const std::size_t limit = quorlina::platform::kReadLimit;
    const std::string postHead = "+++\ntitle = \"big\"\ndescription = \"D\"\n+++\n";
    qtest::writeFile(root() + "/content/blog/2024/03/09/big.md", postHead + std::string(limit - postHead.size(), 'p'));
    qtest::writeFile(root() + "/content/notes/1700000000.md", std::string(limit, 'n'));
    expectLists(0, 0, 0);
    auto post = callText([&](char **o) { return quorlina_post_read(r(), "big", o); });
    EXPECT_EQ(post.code, 0);
    EXPECT_EQ(qjson::checkRecordText(post.text, qjson::Record::PostFull), "");
    auto note = callText([&](char **o) { return quorlina_note_read(r(), "1700000000", o); });
    EXPECT_EQ(note.code, 0);
    EXPECT_EQ(note.text.size(), limit + 64);  // the record's fixed pieces
    qtest::writeFile(root() + "/content/blog/2024/03/09/big.md", postHead + std::string(limit - postHead.size() + 1, 'p'));
    qtest::writeFile(root() + "/content/notes/1700000000.md", std::string(limit + 1, 'n'));
    expectLists(0, 100, 100);
    EXPECT_EQ(quorlina_post_update(r(), "big", "t", nullptr, nullptr, nullptr, nullptr), 100);
    EXPECT_EQ(quorlina_note_update(r(), "1700000000", "s", 0, nullptr), 100);
    EXPECT_EQ(qtest::readFile(root() + "/content/notes/1700000000.md")->size(), limit + 1);
}

// Runs `body` as an unprivileged user: directly when not root, else in a
// child that has dropped to "nobody". Returns false when that is not
// possible here.
bool runUnprivileged(const std::string &tree, const std::function<void()> &body, std::string &why) {
    if (::geteuid() != 0) {
        body();
        return true;
    }
    struct passwd *pw = ::getpwnam("nobody");
    if (!pw) {
        why = "running as root and there is no user 'nobody' to drop to";
        return false;
    }
    // The tree must belong to the user the checks run as.
    std::function<void(const std::string &)> chownTree = [&](const std::string &p) {
        if (::lchown(p.c_str(), pw->pw_uid, pw->pw_gid) != 0) return;
        struct stat st {};
        if (::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            for (const auto &n : qtest::listDir(p)) chownTree(p + "/" + n);
    };
    chownTree(tree);
    ::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(pw->pw_gid) != 0 || ::setuid(pw->pw_uid) != 0) ::_exit(77);
        body();
        ::fflush(stdout);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        why = "running as root and this system refuses to drop to 'nobody' (setuid failed)";
        return false;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the unprivileged checks failed (see above)";
    return true;
}

TEST_F(Hostile, UnreadableFilesAndDirectoriesGiveCodeEight) {
    qrel::writeFixture(root());
    ASSERT_EQ(::chmod(site.root().c_str(), 0755), 0);
    const std::string s = root() + "/content/snippets", b = root() + "/content/blog", n = root() + "/content/notes";
    std::string why;
    bool ran = runUnprivileged(site.root(), [&] {
        // An unreadable file fails every call that loads it.
        ASSERT_EQ(::chmod((s + "/1700000000.py").c_str(), 0), 0);
        EXPECT_EQ(qrel::listFamily(root(), Family::Snippets).code, 8);
        EXPECT_EQ(callText([&](char **o) { return quorlina_snippet_read(r(), 1700000000, o); }).code, 8);
        EXPECT_EQ(callText([&](char **o) { return quorlina_snippet_read(r(), 1700003600, o); }).code, 0);
        ASSERT_EQ(::chmod((s + "/1700000000.py").c_str(), 0644), 0);
        ASSERT_EQ(::chmod((n + "/1700000000.md").c_str(), 0), 0);
        EXPECT_EQ(qrel::listFamily(root(), Family::Notes).code, 8);
        EXPECT_EQ(callText([&](char **o) { return quorlina_note_read(r(), "hello-world", o); }).code, 8);
        ASSERT_EQ(::chmod((n + "/1700000000.md").c_str(), 0644), 0);
        // An unreadable or unsearchable directory.
        ASSERT_EQ(::chmod((b + "/2024/03").c_str(), 0), 0);
        EXPECT_EQ(qrel::listFamily(root(), Family::Posts).code, 8);
        ASSERT_EQ(::chmod((b + "/2024/03").c_str(), 0311), 0);
        EXPECT_EQ(qrel::listFamily(root(), Family::Posts).code, 8);
        ASSERT_EQ(::chmod((b + "/2024/03").c_str(), 0755), 0);
        ASSERT_EQ(::chmod(s.c_str(), 0311), 0);
        EXPECT_EQ(qrel::listFamily(root(), Family::Snippets).code, 8);
        ASSERT_EQ(::chmod(s.c_str(), 0755), 0);
        // Directories that may not be written: nothing changes, nothing is
        // left behind.
        const qrel::Snapshot before = qrel::snapshot(root());
        for (const std::string &d : {s, n, b + "/2024/03/09"}) ASSERT_EQ(::chmod(d.c_str(), 0555), 0);
        EXPECT_EQ(quorlina_snippet_update(r(), 1700000000, "new", nullptr, nullptr), 8);
        EXPECT_EQ(callText([&](char **o) { return quorlina_snippet_create(r(), 1, "d", "c", "a.py", o); }).code, 8);
        EXPECT_EQ(quorlina_snippet_delete(r(), 1700000000), 8);
        EXPECT_EQ(quorlina_note_update(r(), "hello-world", nullptr, 1, nullptr), 8);
        EXPECT_EQ(callText([&](char **o) { return quorlina_note_create(r(), 1, nullptr, "c", o); }).code, 8);
        EXPECT_EQ(quorlina_note_delete(r(), "hello-world"), 8);
        EXPECT_EQ(quorlina_post_update(r(), "hello", "new", nullptr, nullptr, nullptr, nullptr), 8);
        EXPECT_EQ(callText([&](char **o) { return quorlina_post_create(r(), "x", "T", "D", nullptr, "2024-03-09", o); }).code, 8);
        EXPECT_EQ(quorlina_post_delete(r(), "hello"), 8);
        for (const std::string &d : {s, n, b + "/2024/03/09"}) ASSERT_EQ(::chmod(d.c_str(), 0755), 0);
        EXPECT_TRUE(qrel::snapshot(root()) == before) << qrel::describeDiff(before, qrel::snapshot(root()));
        expectLists(0, 0, 0);
    }, why);
    if (!ran) GTEST_SKIP() << why;
}

// Dates, numbers and names must not drift with the host's locale: the
// same calls give the same bytes under every locale this system has.
TEST_F(Hostile, ResultsDoNotDependOnTheLocale) {
    qrel::writeFixture(root());
    auto texts = [&] {
        std::string all;
        all += callText([&](char **o) { return quorlina_snippet_list(r(), o); }).text;
        all += callText([&](char **o) { return quorlina_post_list(r(), o); }).text;
        all += callText([&](char **o) { return quorlina_note_list(r(), o); }).text;
        all += callText([&](char **o) { return quorlina_note_read(r(), "1700000000", o); }).text;
        all += callText([&](char **o) { return quorlina_post_list_ext(r(), nullptr, o); }).text;
        all += callText([&](char **o) { return quorlina_note_list_ext(r(), nullptr, o); }).text;
        return all;
    };
    std::setlocale(LC_ALL, "C");
    const std::string reference = texts();
    ASSERT_NE(reference.find("2023-11-14"), std::string::npos);
    int tried = 0;
    for (const char *loc : {"C.UTF-8", "tr_TR.UTF-8", "de_DE.UTF-8", "ja_JP.UTF-8", "ar_SA.UTF-8"}) {
        if (!std::setlocale(LC_ALL, loc)) continue;
        ++tried;
        EXPECT_EQ(texts(), reference) << loc;
    }
    std::setlocale(LC_ALL, "C");
    if (tried == 0) GTEST_SKIP() << "no locale other than C is installed";
}

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
