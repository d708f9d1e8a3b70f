// Every failure can be explained: a static text per result code, and this
// thread's text of its last failure, naming the file that caused it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

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

}  // namespace
