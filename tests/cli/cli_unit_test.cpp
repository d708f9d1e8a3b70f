// Unit tests of the quorlina tool's pieces that need no library call:
// display width, tables, list filters, suggestions and site discovery.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "filter.hpp"
#include "json_reader.hpp"
#include "render.hpp"
#include "site_root.hpp"
#include "suggest.hpp"
#include "text_width.hpp"

namespace qcli {
namespace {

TEST(TextWidth, CountsColumnsNotBytes) {
    const struct {
        const char *text;
        std::size_t width;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"h\xC3\xA9llo", 5},                  // é, two bytes
        {"e\xCC\x81", 1},                     // e + combining acute accent
        {"\xE6\x97\xA5\xE6\x9C\xAC", 4},      // 日本
        {"\xEF\xBC\xA1", 2},                  // fullwidth A
        {"\xF0\x9F\x8E\x89", 2},              // 🎉
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 2},  // 👍 with a skin-tone modifier
        {"a\xE2\x80\x8B" "b", 2},              // zero-width space
        {"\xFF\xFE", 2},                      // invalid bytes: one column each
        {"\xC0\xAF", 2},                      // an overlong "/" is two invalid bytes
        {"\xED\xA0\x80", 3},                  // a surrogate is not a character
        {"\xE6\x97", 2},                      // a cut-off sequence
    };
    for (const auto &c : cases) EXPECT_EQ(displayWidth(c.text), c.width) << c.text;
}

TEST(TextWidth, ClipsBetweenCharacters) {
    EXPECT_EQ(clipToWidth("abcdef", 4), "abcd");
    EXPECT_EQ(clipToWidth("\xE6\x97\xA5\xE6\x9C\xAC", 3), "\xE6\x97\xA5");  // a wide character does not fit in one
    EXPECT_EQ(clipToWidth("ae\xCC\x81" "b", 2), "ae\xCC\x81");              // the accent stays with its letter
    EXPECT_EQ(clipToWidth("abc", 0), "");
    EXPECT_EQ(clipToWidth("abc", 9), "abc");
}

TEST(RenderTable, AlignsByDisplayWidthAndClipsTheLastColumn) {
    const std::optional<JsonValue> list = parseJson(
        R"([{"date":"2024-01-02","slug":"\u65e5\u672c","tags":[],"title":"Long title here"},)"
        R"({"date":"2024-01-01","slug":"ab","tags":["x","y"],"title":"\ud83c\udf89!"}])");
    ASSERT_TRUE(list);
    EXPECT_EQ(renderTable(*list, kPostColumns),
              "DATE        SLUG  TAGS  TITLE\n"
              "2024-01-02  \xE6\x97\xA5\xE6\x9C\xAC  -     Long title here\n"
              "2024-01-01  ab    x,y   \xF0\x9F\x8E\x89!\n");
    EXPECT_EQ(renderTable(*list, kPostColumns, 29),
              "DATE        SLUG  TAGS  TITLE\n"
              "2024-01-02  \xE6\x97\xA5\xE6\x9C\xAC  -     Long \n"
              "2024-01-01  ab    x,y   \xF0\x9F\x8E\x89!\n");
    // No room at all for the last column: no trailing padding either.
    EXPECT_EQ(renderTable(*list, kPostColumns, 10),
              "DATE        SLUG  TAGS\n"
              "2024-01-02  \xE6\x97\xA5\xE6\x9C\xAC  -\n"
              "2024-01-01  ab    x,y\n");
}

TEST(ListFilter, KeepsTheLibraryBytesOfMatchingElements) {
    const std::string json =
        R"([{"date":"2024-03-01","slug":"a","tags":["rust","web"]},)"
        R"({"date":"2024-02-01","slug":"b","tags":["rust"]},)"
        R"({"date":"275760-09-13","slug":"far","tags":["rust"]},)"
        R"({"date":"2023-12-31","slug":"c","tags":[]}])";
    // Elements in the library's order, so the far date sits among others.
    ListFilter rust;
    rust.tags = {"rust"};
    ListFilter since = rust;
    since.since = parseDateArgument("2024-02-01");
    ListFilter limited;
    limited.limit = 1;
    ListFilter until;
    until.until = parseDateArgument("2024-01-01");
    const struct {
        const ListFilter &filter;
        const char *expected;
    } cases[] = {
        {rust, R"([{"date":"2024-03-01","slug":"a","tags":["rust","web"]},{"date":"2024-02-01","slug":"b","tags":["rust"]},{"date":"275760-09-13","slug":"far","tags":["rust"]}])"},
        {since, R"([{"date":"2024-03-01","slug":"a","tags":["rust","web"]},{"date":"2024-02-01","slug":"b","tags":["rust"]},{"date":"275760-09-13","slug":"far","tags":["rust"]}])"},
        {limited, R"([{"date":"2024-03-01","slug":"a","tags":["rust","web"]}])"},
        {until, R"([{"date":"2023-12-31","slug":"c","tags":[]}])"},
    };
    for (const auto &c : cases) {
        const std::optional<FilteredList> kept = filterList(json, c.filter, true);
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->json, c.expected);
        EXPECT_EQ(parseJson(kept->json)->items.size(), kept->items.items.size());
        // Without the values, the other members are skimmed: same bytes.
        EXPECT_EQ(filterList(json, c.filter, false).value().json, c.expected);
    }
    // Skimmed members may hold anything JSON allows.
    const std::string odd = R"([{"code":"a\"]},{\\","x":[{"y":[1,-2.5e3,true,null]}],"date":"2024-01-01","tags":["rust"]}])";
    EXPECT_EQ(filterList(odd, rust, false).value().json, odd);
    EXPECT_FALSE(filterList("{}", rust, false));
    EXPECT_FALSE(filterList(R"([{"date":"2024-01-01"},)", rust, false));
}

TEST(ListFilter, Dates) {
    EXPECT_EQ(parseDateArgument("2024-02-29"), (DateKey{2024, 2, 29}));
    for (const char *bad : {"2023-02-29", "2024-13-01", "0000-01-01", "24-01-01", "2024-1-01", "2024-01-01x"}) {
        EXPECT_FALSE(parseDateArgument(bad)) << bad;
    }
    EXPECT_EQ(parseListedDate("275760-09-13"), (DateKey{275760, 9, 13}));
    EXPECT_EQ(parseListedDate("-0001-12-31"), (DateKey{-1, 12, 31}));
    EXPECT_LT(*parseListedDate("9999-12-31"), *parseListedDate("10000-01-01"));
    EXPECT_FALSE(parseListedDate("202-01-01"));
}

TEST(Suggest, NearestCandidate) {
    const std::vector<std::string> verbs = {"list", "read", "create", "update", "delete"};
    const struct {
        const char *word;
        const char *expected;  // nullptr: no suggestion
    } cases[] = {
        {"lsit", "list"}, {"lst", "list"}, {"creat", "create"}, {"updaet", "update"},
        {"cr", "create"}, {"de", "delete"}, {"xyz", nullptr}, {"", nullptr},
    };
    for (const auto &c : cases) {
        const std::optional<std::string> got = nearest(c.word, verbs);
        if (c.expected == nullptr) {
            EXPECT_FALSE(got) << c.word;
        } else {
            EXPECT_EQ(got.value_or("-"), c.expected) << c.word;
        }
    }
    EXPECT_EQ(editDistance("pots", "post"), 1u);
    EXPECT_EQ(editDistance("kitten", "sitting"), 3u);
}

TEST(JsonString, EscapesAsTheLibraryDoes) {
    EXPECT_EQ(jsonString("a\"b\\c\n\r\t\x01\x7F\xC3\xA9/"), "\"a\\\"b\\\\c\\n\\r\\t\\u0001\x7F\xC3\xA9/\"");
}

TEST(SiteRoot, FoundFromBelowAsRelativeSteps) {
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path() / ("quorlina-site-" + std::to_string(::getpid()));
    fs::remove_all(base);
    fs::create_directories(base / "site" / "content" / "blog" / "2024");
    fs::create_directories(base / "other" / "deep");
    std::ofstream(base / "other" / "config.yaml") << "";
    EXPECT_EQ(findSiteRoot((base / "site").string()), "");
    EXPECT_EQ(findSiteRoot((base / "site" / "content" / "blog" / "2024").string()), "../../..");
    EXPECT_EQ(findSiteRoot((base / "other" / "deep").string() + "/"), "..");
    EXPECT_TRUE(isSiteRoot((base / "other").string()));
    EXPECT_FALSE(isSiteRoot((base / "other" / "deep").string()));
    fs::remove_all(base);
}

}  // namespace
}  // namespace qcli
