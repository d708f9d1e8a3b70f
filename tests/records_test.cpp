// Full records of posts and notes through the C interface: the path, the
// draft flag and the `date` key as Hugo and Zola sites write them, and the
// body on request, from the list and from a read.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.hpp"

using qtest::TempSite;

namespace {

struct PostCase {
    const char *what;
    const char *rel;  // below content/blog
    std::string bytes;
    // The record after "path", up to (not including) "content", and the body.
    const char *head;  // {"date":..,"slug":..,"title":..,"description":..,"tags":[..]
    const char *tail;  // "draft":..,"date_key":..
    const char *body;  // JSON-escaped
};

// Newest first, one post per date, so the table is in list order.
std::vector<PostCase> postCases() {
    return {
        {"dotted date is not the top-level key", "2024/05/10/dotted.md",
         "+++\ntitle = \"Dotted\"\ndescription = \"d\"\ndate.year = 2024\ndraft.value = true\n+++\n",
         R"({"date":"2024-05-10","slug":"dotted","title":"Dotted","description":"d","tags":[])",
         R"("draft":false,"date_key":null)", ""},
        {"quoted keys, local date-time with a space", "2024/05/09/quoted.md",
         "+++\n\"title\" = \"Quoted\"\ndescription = \"d\"\n\"date\" = 1979-05-27 07:32:00\n'draft' = true\n+++\n\nText\n",
         R"({"date":"2024-05-09","slug":"quoted","title":"Quoted","description":"d","tags":[])",
         R"("draft":true,"date_key":"1979-05-27 07:32:00")", R"(Text\n)"},
        {"values that are not TOML read by the line rules", "2024/05/08/loose.md",
         "+++\ntitle = Loose\ndescription = d\ndate = May 1st\ndraft = yes\n+++\n",
         R"({"date":"2024-05-08","slug":"loose","title":"Loose","description":"d","tags":[])",
         R"("draft":false,"date_key":"May 1st")", ""},
        {"literal string date, draft false", "2024/05/07/literal.md",
         "+++\ntitle = 'Literal'\ndescription = \"d\"\ndate = '2024-05-07'\ndraft = false\n+++\nB\n",
         R"({"date":"2024-05-07","slug":"literal","title":"Literal","description":"d","tags":[])",
         R"("draft":false,"date_key":"2024-05-07")", R"(B\n)"},
        {"no date and no draft", "2024/05/06/plain.md",
         "+++\ntitle = \"Plain\"\ndescription = \"\"\ntags = [\"x\", \"y\"]\n+++\nBody \"quoted\"\n",
         R"({"date":"2024-05-06","slug":"plain","title":"Plain","description":"","tags":["x","y"])",
         R"("draft":false,"date_key":null)", R"(Body \"quoted\"\n)"},
        {"CRLF, offset date-time, draft with a comment", "2024/05/05/crlf.md",
         "+++\r\ntitle = \"Windows\"\r\ndescription = \"d\"\r\ndate = 2024-05-05T08:30:00+02:00\r\n"
         "draft = true # still writing\r\n+++\r\nLine one\r\nLine two\r\n",
         R"({"date":"2024-05-05","slug":"crlf","title":"Windows","description":"d","tags":[])",
         R"("draft":true,"date_key":"2024-05-05T08:30:00+02:00")", R"(Line one\r\nLine two\r\n)"},
        {"Zola: draft and date inside [extra] are not the post's", "2024/05/04/zola.md",
         "+++\ntitle = \"Zola\"\ndescription = \"d\"\n\n[extra]\ndraft = true\ndate = 2020-01-01\n+++\nZ\n",
         R"({"date":"2024-05-04","slug":"zola","title":"Zola","description":"d","tags":[])",
         R"("draft":false,"date_key":null)", R"(Z\n)"},
        {"string date; draft as a string is not a draft", "2024/05/03/strings.md",
         "+++\ntitle = \"Strings\"\ndescription = \"d\"\ndate = \"2024-05-01\"\ndraft = \"true\"\n+++\n",
         R"({"date":"2024-05-03","slug":"strings","title":"Strings","description":"d","tags":[])",
         R"("draft":false,"date_key":"2024-05-01")", ""},
        {"Hugo: offset date-time in UTC, slug key", "2024/05/02/file-name.md",
         "+++\ntitle = \"Hugo UTC\"\ndate = 2024-05-01T10:00:00Z\ndescription = \"d\"\nslug = \"hugo-utc\"\n+++\nH\n",
         R"({"date":"2024-05-02","slug":"hugo-utc","title":"Hugo UTC","description":"d","tags":[])",
         R"("draft":false,"date_key":"2024-05-01T10:00:00Z")", R"(H\n)"},
        {"Hugo: local date and draft = true, as hugo new writes them", "2024/05/01/hugo.md",
         "+++\ntitle = \"Hugo\"\ndescription = \"d\"\ndate = 2024-05-01\ndraft = true\ntags = [\"go\"]\n+++\n\nHello.\n",
         R"({"date":"2024-05-01","slug":"hugo","title":"Hugo","description":"d","tags":["go"])",
         R"("draft":true,"date_key":"2024-05-01")", R"(Hello.\n)"},
    };
}

std::string postRecord(const TempSite &site, const PostCase &c, bool content) {
    std::string r = std::string(c.head) + ",\"path\":\"" + site.path("content/blog/" + std::string(c.rel)) + "\"," +
                    c.tail;
    if (content) r += std::string(",\"content\":\"") + c.body + "\"";
    return r + "}";
}

std::string slugOf(const std::string &record) {
    const std::string key = "\"slug\":\"";
    const std::size_t at = record.find(key) + key.size();
    return record.substr(at, record.find('"', at) - at);
}

qtest::TextResult postListExt(const TempSite &site, const quorlina_record_options *o) {
    return qtest::callText([&](char **out) { return quorlina_post_list_ext(site.c_root(), o, out); });
}

}  // namespace

TEST(PostRecords, HandWrittenPostsListAndReadExactly) {
    TempSite site;
    for (const PostCase &c : postCases()) qtest::writeFile(site.path("content/blog/" + std::string(c.rel)), c.bytes);
    for (bool content : {false, true}) {
        std::string expected = "[";
        for (const PostCase &c : postCases()) expected += (expected.size() > 1 ? "," : "") + postRecord(site, c, content);
        expected += "]";
        quorlina_record_options o = QUORLINA_RECORD_OPTIONS_INIT;
        o.content = content ? 1 : 0;
        auto r = postListExt(site, &o);
        ASSERT_EQ(r.code, 0) << quorlina_last_error();
        EXPECT_EQ(r.text, expected) << (content ? "with content" : "without content");
        // Each post read alone gives its record of the list.
        for (const PostCase &c : postCases()) {
            const std::string record = postRecord(site, c, content);
            auto one = qtest::callText(
                [&](char **out) { return quorlina_post_read_ext(site.c_root(), slugOf(record).c_str(), &o, out); });
            ASSERT_EQ(one.code, 0) << c.what << ": " << quorlina_last_error();
            EXPECT_EQ(one.text, record) << c.what;
        }
    }
    // NULL options are the defaults: no content.
    auto r = postListExt(site, nullptr);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.text.find("\"content\""), std::string::npos);
    EXPECT_EQ(r.text.substr(0, 1 + postRecord(site, postCases()[0], false).size()),
              "[" + postRecord(site, postCases()[0], false));
}

TEST(PostRecords, ThePlainListAndReadStayAsTheyWere) {
    TempSite site;
    for (const PostCase &c : postCases()) qtest::writeFile(site.path("content/blog/" + std::string(c.rel)), c.bytes);
    auto list = qtest::callText([&](char **out) { return quorlina_post_list(site.c_root(), out); });
    ASSERT_EQ(list.code, 0);
    EXPECT_EQ(list.text.find("draft"), std::string::npos);
    EXPECT_EQ(list.text.find("path"), std::string::npos);
    EXPECT_EQ(list.text.substr(0, 80),
              std::string(R"([{"date":"2024-05-10","slug":"dotted","title":"Dotted","tags":[]},{"date":"2024-05-09",)")
                  .substr(0, 80));
    auto read = qtest::callText([&](char **out) { return quorlina_post_read(site.c_root(), "crlf", out); });
    ASSERT_EQ(read.code, 0);
    EXPECT_EQ(read.text, R"({"date":"2024-05-05","slug":"crlf","title":"Windows","description":"d","tags":[],)"
                         R"("content":"Line one\r\nLine two\r\n"})");
}

TEST(PostRecords, FailuresAsTheListAndRead) {
    TempSite site;
    // No blog directory: an empty list, and no such post.
    auto r = postListExt(site, nullptr);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text, "[]");
    r = qtest::callText([&](char **out) { return quorlina_post_read_ext(site.c_root(), "x", nullptr, out); });
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.isNull);

    qtest::writeFile(site.path("content/blog/2024/01/01/a.md"), "+++\ntitle = \"A\"\ndescription = \"d\"\n+++\n");
    qtest::writeFile(site.path("content/blog/2024/01/02/b.md"), "+++\ntitle = \"B\"\n+++\n");
    const std::string expected = site.path("content/blog/2024/01/02/b.md") + ": description is missing";
    for (int content : {0, 1}) {
        quorlina_record_options o = QUORLINA_RECORD_OPTIONS_INIT;
        o.content = content;
        r = postListExt(site, &o);
        EXPECT_EQ(r.code, 7);
        EXPECT_TRUE(r.isNull);
        EXPECT_EQ(quorlina_last_error(), expected);
        r = qtest::callText([&](char **out) { return quorlina_post_read_ext(site.c_root(), "a", &o, out); });
        EXPECT_EQ(r.code, 7);
        EXPECT_EQ(quorlina_last_error(), expected);
    }
    // Options of an unknown version are refused before anything is read.
    for (unsigned version : {0u, QUORLINA_RECORD_OPTIONS_VERSION + 1u}) {
        quorlina_record_options o{version, 0};
        r = postListExt(site, &o);
        EXPECT_EQ(r.code, 100);
        EXPECT_TRUE(r.isNull);
        r = qtest::callText([&](char **out) { return quorlina_post_read_ext(site.c_root(), "a", &o, out); });
        EXPECT_EQ(r.code, 100);
        EXPECT_STREQ(quorlina_last_error(),
                     "invalid options: a version this library does not know, or fields that cannot be combined");
    }
}

TEST(PostRecords, LargeBodiesInOneScan) {
    TempSite site;
    // Bodies past any read-ahead of the front matter, with bytes that need
    // escaping, read whole in the list's own scan.
    std::string big(300000, 'a');
    for (std::size_t i = 0; i < big.size(); i += 1000) big[i] = '\n';
    big += "\t\x01\"end";
    qtest::writeFile(site.path("content/blog/2024/02/02/big.md"),
                     "+++\ntitle = \"Big\"\ndescription = \"d\"\n+++\n" + big);
    qtest::writeFile(site.path("content/blog/2024/02/01/small.md"), "+++\ntitle = \"S\"\ndescription = \"d\"\n+++\ns");
    quorlina_record_options o = QUORLINA_RECORD_OPTIONS_INIT;
    o.content = 1;
    auto r = postListExt(site, &o);
    ASSERT_EQ(r.code, 0);
    std::string escaped;
    for (char c : big) {
        if (c == '\n') escaped += "\\n";
        else if (c == '\t') escaped += "\\t";
        else if (c == '\x01') escaped += "\\u0001";
        else if (c == '"') escaped += "\\\"";
        else escaped += c;
    }
    EXPECT_NE(r.text.find(",\"content\":\"" + escaped.substr(2) + "\"},"), std::string::npos);
    EXPECT_NE(r.text.find(",\"content\":\"s\"}]"), std::string::npos);
}

namespace {

// Bytes this process has read through system calls so far (Linux's
// /proc/self/io), or -1 where the system does not say.
long long bytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

// The bytes `call` reads. The read of /proc/self/io adds its own size to
// every measure, which varies by a few bytes with its numbers: measures
// are compared within kSlack, far below one step of a file read (4 KiB).
constexpr long long kSlack = 256;
template <class Call>
long long bytesReadBy(Call &&call) {
    const long long before = bytesReadSoFar();
    auto r = qtest::callText(call);
    const long long after = bytesReadSoFar();
    EXPECT_EQ(r.code, 0) << quorlina_last_error();
    return after - before;
}

}  // namespace

// Without bodies the record lists read each file only as far as its front
// matter, as the plain lists do; with them each file is read whole.
TEST(Records, WithoutContentTheListsReadNoMoreThanThePlainLists) {
    if (bytesReadSoFar() < 0) GTEST_SKIP() << "/proc/self/io is not available: bytes read cannot be counted";
    TempSite site;
    const std::string body(256 * 1024, 'b');
    const long long files = 20;
    for (int day = 1; day <= files; ++day) {
        char rel[64];
        std::snprintf(rel, sizeof rel, "content/blog/2024/03/%02d/p%d.md", day, day);
        qtest::writeFile(site.path(rel), "+++\ntitle = \"T\"\ndescription = \"D\"\ndate = 2024-03-01\n+++\n" + body);
        qtest::writeFile(site.path("content/notes/" + std::to_string(1700000000 + day * 86400) + ".md"),
                         "+++\nslug = \"n" + std::to_string(day) + "\"\n+++\n" + body);
    }
    quorlina_record_options without = QUORLINA_RECORD_OPTIONS_INIT, with = QUORLINA_RECORD_OPTIONS_INIT;
    with.content = 1;
    const char *r = site.c_root();
    const long long postList = bytesReadBy([&](char **o) { return quorlina_post_list(r, o); });
    EXPECT_LT(postList, files * 64 * 1024) << "the plain list reads only the heads";
    EXPECT_NEAR(bytesReadBy([&](char **o) { return quorlina_post_list_ext(r, &without, o); }), postList, kSlack);
    EXPECT_GE(bytesReadBy([&](char **o) { return quorlina_post_list_ext(r, &with, o); }),
              files * static_cast<long long>(body.size()));
    const long long noteList = bytesReadBy([&](char **o) { return quorlina_note_list(r, o); });
    EXPECT_LT(noteList, files * 64 * 1024);
    EXPECT_NEAR(bytesReadBy([&](char **o) { return quorlina_note_list_ext(r, &without, o); }), noteList, kSlack);
    EXPECT_GE(bytesReadBy([&](char **o) { return quorlina_note_list_ext(r, &with, o); }),
              files * static_cast<long long>(body.size()));
    // A check of posts or notes reads what their list reads.
    quorlina_check_options one = QUORLINA_CHECK_OPTIONS_INIT;
    one.family = "post";
    EXPECT_NEAR(bytesReadBy([&](char **o) { return quorlina_check(r, &one, o); }), postList, kSlack);
    one.family = "note";
    EXPECT_NEAR(bytesReadBy([&](char **o) { return quorlina_check(r, &one, o); }), noteList, kSlack);
}

TEST(NoteRecords, ListAndReadExactly) {
    TempSite site;
    qtest::writeFile(site.path("content/notes/1700000000.md"), "Just a body\n");
    qtest::writeFile(site.path("content/notes/1700200000.md"), "+++\nslug = \"with-slug\"\n+++\nBody\n");
    qtest::writeFile(site.path("content/notes/1700400000.md"), "+++\r\nslug = \"crlf\"\r\n+++\r\nA\r\nB\r\n");
    qtest::writeFile(site.path("content/notes/1700600000.md"), "+++\n+++\n");
    const std::string n0 = R"({"date":"2023-11-14","id":"1700000000","slug":null,"path":")" +
                           site.path("content/notes/1700000000.md") + "\"";
    const std::string n2 = R"({"date":"2023-11-17","id":"with-slug","slug":"with-slug","path":")" +
                           site.path("content/notes/1700200000.md") + "\"";
    const std::string n4 = R"({"date":"2023-11-19","id":"crlf","slug":"crlf","path":")" +
                           site.path("content/notes/1700400000.md") + "\"";
    const std::string n6 = R"({"date":"2023-11-21","id":"1700600000","slug":null,"path":")" +
                           site.path("content/notes/1700600000.md") + "\"";
    struct Row {
        const char *id;
        std::string record;
        const char *content;
    } rows[] = {{"1700600000", n6, ""}, {"crlf", n4, R"(A\r\nB\r\n)"}, {"with-slug", n2, R"(Body\n)"},
                {"1700000000", n0, R"(Just a body\n)"}};
    for (int content : {0, 1}) {
        quorlina_record_options o = QUORLINA_RECORD_OPTIONS_INIT;
        o.content = content;
        std::string expected = "[";
        for (const Row &row : rows) {
            const std::string record = row.record + (content ? std::string(",\"content\":\"") + row.content + "\"" : "") + "}";
            expected += (expected.size() > 1 ? "," : "") + record;
            auto one = qtest::callText([&](char **out) { return quorlina_note_read_ext(site.c_root(), row.id, &o, out); });
            ASSERT_EQ(one.code, 0) << row.id << ": " << quorlina_last_error();
            EXPECT_EQ(one.text, record);
            // The body is the one quorlina_note_read gives.
            auto plain = qtest::callText([&](char **out) { return quorlina_note_read(site.c_root(), row.id, out); });
            EXPECT_NE(plain.text.find(std::string(",\"content\":\"") + row.content + "\"}"), std::string::npos) << row.id;
        }
        expected += "]";
        auto r = qtest::callText([&](char **out) { return quorlina_note_list_ext(site.c_root(), &o, out); });
        ASSERT_EQ(r.code, 0) << quorlina_last_error();
        EXPECT_EQ(r.text, expected);
    }
    auto missing = qtest::callText([&](char **out) { return quorlina_note_read_ext(site.c_root(), "nope", nullptr, out); });
    EXPECT_EQ(missing.code, 3);
    quorlina_record_options bad{0, 1};
    missing = qtest::callText([&](char **out) { return quorlina_note_list_ext(site.c_root(), &bad, out); });
    EXPECT_EQ(missing.code, 100);
    EXPECT_TRUE(missing.isNull);
}
