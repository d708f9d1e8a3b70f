// Every failure can be explained: a static text per result code, and this
// thread's text of its last failure, naming the file that caused it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "core/platform.hpp"
#include "support/test_support.hpp"

namespace {

using qtest::TempSite;

TEST(LastError, NamesTheFileThatCausedTheFailure) {
    TempSite site;
    qtest::writeFile(site.path("content/blog/2024/11/01/raw.md"), "just text\n");
    qtest::writeFile(site.path("content/blog/2024/11/02/hello-world.md"), "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n");
    qtest::writeFile(site.path("content/blog/2024/11/03/notitle.md"), "+++\ndescription = \"D\"\n+++\n");
    qtest::writeFile(site.path("content/notes/README.md"), "readme\n");
    qtest::writeFile(site.path("content/snippets/1700000000.py"), std::string(10 * 1024 * 1024 + 1, 'x'));
    const std::string blog = site.root() + "/content/blog/2024/11/";
    struct Row {
        std::function<int(char **)> call;
        int code;
        std::string text;
    } rows[] = {
        {[&](char **o) { return quorlina_post_read(site.c_root(), "hello-world", o); }, 7,
         blog + "03/notitle.md: title is missing"},
        {[&](char **o) { return quorlina_note_list(site.c_root(), o); }, 1,
         site.root() + "/content/notes/README.md: the file name is not a timestamp"},
        {[&](char **o) { return quorlina_snippet_list(site.c_root(), o); }, 100,
         site.root() + "/content/snippets/1700000000.py: file is larger than 10 MiB"},
        {[&](char **o) { return quorlina_post_read(site.c_root(), "nope", o); }, 7, ""},  // first broken file decides
        {[&](char **o) { return quorlina_snippet_read(site.c_root(), 42, o); }, 3, "not found"},
        {[&](char **o) { return quorlina_post_create(site.c_root(), "a b", "T", "D", nullptr, nullptr, o); }, 10,
         "invalid slug (use only letters, digits, '_' and '-')"},
    };
    for (auto &r : rows) {
        auto res = qtest::callText(r.call);
        EXPECT_EQ(res.code, r.code) << r.text;
        if (!r.text.empty()) {
            EXPECT_EQ(quorlina_last_error(), r.text);
        }
    }
    // Which post file fails first depends on the walk; it is one of the two.
    ASSERT_EQ(qtest::callText([&](char **o) { return quorlina_post_list(site.c_root(), o); }).code, 7);
    std::string which = quorlina_last_error();
    EXPECT_TRUE(which == blog + "01/raw.md: no front matter" || which == blog + "03/notitle.md: title is missing")
        << which;

    // Another thread's failure leaves this thread's text alone; a success
    // clears it.
    std::thread([&] { EXPECT_EQ(quorlina_snippet_delete(site.c_root(), 1), 3); }).join();
    EXPECT_EQ(which, quorlina_last_error());
    auto ok = qtest::callText([&](char **o) { return quorlina_note_create(site.c_root(), 5, nullptr, "x", o); });
    EXPECT_EQ(ok.code, 0);
    EXPECT_STREQ(quorlina_last_error(), "");
}

TEST(LastError, EveryCodeHasAStaticText) {
    for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14, 100}) {
        const char *t = quorlina_strerror(code);
        ASSERT_NE(t, nullptr);
        EXPECT_STRNE(t, "unknown error") << code;
        EXPECT_EQ(t, quorlina_strerror(code)) << "not static";
    }
    for (int code : {-1, 12, 13, 15, 99, 101, 1 << 30}) EXPECT_STREQ(quorlina_strerror(code), "unknown error");
    EXPECT_STREQ(quorlina_version(), QUORLINA_VERSION);
}

// Failing file-system calls, injected through the seam: the text names the
// file or directory the call failed on, as the caller would write its path
// (the root joined with the rest), and the system's reason; the code stays
// the one the error maps to.
namespace {

using quorlina::platform::fault::Op;

Op g_failOp;
int g_failErrno;
int failOne(Op op) { return op == g_failOp ? g_failErrno : 0; }

}  // namespace

TEST(LastError, FileSystemFailuresNameThePathAndTheSystemsReason) {
    TempSite site;
    const std::string root = site.root() + "/";  // the caller's spelling, with its slash
    const char *r = root.c_str();
    auto fixture = [&] {
        qtest::removeTree(site.path("content"));
        qtest::writeFile(site.path("content/notes/1700000000.md"), "+++\nslug = \"n\"\n+++\n\nbody");
        qtest::writeFile(site.path("content/snippets/1700000000.py"), "+++\ndescription = \"d\"\n+++\n\nx");
        qtest::writeFile(site.path("content/blog/2024/03/09/hello.md"), "+++\ntitle = \"T\"\ndescription = \"D\"\n+++\n");
    };
    const std::string notes = root + "content/notes";
    const std::string blog = root + "content/blog";
    struct Row {
        const char *what;
        Op op;
        int err;
        std::function<int()> call;
        int code;
        std::string path;  // the text is the path, ": ", the system's text (glibc: "No space left on device")
    } rows[] = {
        {"note create, disk full", Op::Write, ENOSPC,
         [&] { return qtest::callText([&](char **o) { return quorlina_note_create(r, 1800000000, nullptr, "x", o); }).code; },
         100, notes + "/1800000000.md"},
        {"note update, rename refused", Op::Rename, EPERM,
         [&] { return quorlina_note_update(r, "n", nullptr, 0, "new"); }, 100,
         notes + "/1700000000.md"},
        {"note delete, I/O error", Op::Unlink, EIO, [&] { return quorlina_note_delete(r, "n"); }, 100,
         notes + "/1700000000.md"},
        {"note list, directory refused", Op::Open, EACCES,
         [&] { return qtest::callText([&](char **o) { return quorlina_note_list(r, o); }).code; }, 8,
         notes},
        {"note update, no lock", Op::Lock, ENOLCK, [&] { return quorlina_note_update(r, "n", nullptr, 0, "new"); },
         100, notes},
        {"snippet update, disk full", Op::Write, ENOSPC,
         [&] { return quorlina_snippet_update(r, 1700000000, "New", nullptr, nullptr); }, 100,
         root + "content/snippets/1700000000.py"},
        {"post create, directory refused", Op::Mkdir, EACCES,
         [&] {
             return qtest::callText([&](char **o) { return quorlina_post_create(r, "p", "T", "D", nullptr, "2025-01-02", o); })
                 .code;
         },
         8, blog + "/2025"},
        {"post update, read error", Op::Read, EIO,
         [&] { return quorlina_post_update(r, "hello", "New", nullptr, nullptr, nullptr, nullptr); }, 100,
         blog},
        {"post delete, pruning refused", Op::Rmdir, EPERM, [&] { return quorlina_post_delete(r, "hello"); }, 100,
         blog + "/2024/03/09"},
    };
    for (const Row &row : rows) {
        fixture();
        g_failOp = row.op;
        g_failErrno = row.err;
        quorlina::platform::fault::setHook(failOne);
        int code = row.call();
        quorlina::platform::fault::setHook(nullptr);
        EXPECT_EQ(code, row.code) << row.what;
        EXPECT_EQ(quorlina_last_error(), row.path + ": " + std::strerror(row.err)) << row.what;
    }
    // The pruning failed after the post was removed: it is gone.
    EXPECT_FALSE(qtest::exists(site.path("content/blog/2024/03/09/hello.md")));
}

}  // namespace
