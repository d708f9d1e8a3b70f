// Unit tests of the quorlina tool's pieces that need no library call:
// display width, tables, list filters, the JSON reader, suggestions and
// site discovery.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "family_table.hpp"
#include "filter.hpp"
#include "json_reader.hpp"
#include "json_writer.hpp"
#include "render.hpp"
#include "search.hpp"
#include "site_root.hpp"
#include "suggest.hpp"
#include "tags.hpp"
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
    EXPECT_EQ(renderTable(*list, familyInfo(Family::Post).columns),
              "DATE        SLUG  TAGS  TITLE\n"
              "2024-01-02  \xE6\x97\xA5\xE6\x9C\xAC  -     Long title here\n"
              "2024-01-01  ab    x,y   \xF0\x9F\x8E\x89!\n");
    EXPECT_EQ(renderTable(*list, familyInfo(Family::Post).columns, 29),
              "DATE        SLUG  TAGS  TITLE\n"
              "2024-01-02  \xE6\x97\xA5\xE6\x9C\xAC  -     Long \n"
              "2024-01-01  ab    x,y   \xF0\x9F\x8E\x89!\n");
    // No room at all for the last column: no trailing padding either.
    EXPECT_EQ(renderTable(*list, familyInfo(Family::Post).columns, 10),
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

TEST(Tags, CountedOncePerPostMostUsedFirstThenByName) {
    const std::string list =
        R"([{"date":"2024-03-01","slug":"a","title":"T","tags":["web","rust","web"]},)"
        R"({"date":"2024-02-01","slug":"b","title":"T","tags":["rust","Rust"]},)"
        R"({"date":"2024-01-01","slug":"c","title":"T","tags":[]},)"
        R"({"date":"2023-01-01","slug":"d","title":"T","tags":["caf\u00e9","b"]}])";
    const std::optional<std::vector<TagCount>> counts = countTags(list);
    ASSERT_TRUE(counts);
    std::vector<std::pair<std::string, std::size_t>> got;
    for (const TagCount &c : *counts) got.emplace_back(c.tag, c.posts);
    const std::vector<std::pair<std::string, std::size_t>> expected = {
        {"rust", 2}, {"Rust", 1}, {"b", 1}, {"caf\xc3\xa9", 1}, {"web", 1}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(tagNames(list), (std::vector<std::string>{"rust", "Rust", "b", "caf\xc3\xa9", "web"}));
    EXPECT_EQ(countTags("[]").value().size(), 0u);
    EXPECT_FALSE(countTags("{}"));
    EXPECT_FALSE(countTags("[{\"tags\":[}]"));
    EXPECT_TRUE(tagNames("not json").empty());
}

TEST(Search, AsciiLettersFoldOtherBytesMatchExactly) {
    const struct {
        const char *haystack;
        const char *needle;
        bool found;
    } cases[] = {
        {"Reading files in Rust", "rust", true}, {"Reading files in Rust", "RUST", true},
        {"Reading", "reading!", false},          {"abc", "", true},
        {"", "a", false},                        {"Cr\xc3\xa8me", "CR\xc3\xa8ME", true},
        {"Cr\xc3\xa8me", "cr\xc3\x88me", false},  // È is not folded to è
        {"[x]", "[X]", true},                    {"@", "`", false},  // 0x40 and 0x60 are no letters
        {"aab", "ab", true},                     {"ab", "abc", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(containsIgnoringAsciiCase(c.haystack, c.needle), c.found) << c.haystack << " / " << c.needle;
    }
}

TEST(Search, FirstMatchingLineInFieldOrder) {
    const std::optional<JsonValue> post = parseJson(
        R"({"date":"d","slug":"s","title":"Title","description":"About tags","tags":["x","Tagged"],)"
        R"("content":"one\r\nTWO tags\nthree tags\n"})");
    ASSERT_TRUE(post);
    const struct {
        const char *needle;
        const char *field;  // nullptr: no match
        const char *line;
    } cases[] = {
        {"tag", "description", "About tags"}, {"TAGGED", "tags", "Tagged"}, {"two", "content", "TWO tags"},
        {"three", "content", "three tags"},   {"title", "title", "Title"},  {"slug", nullptr, nullptr},
        {"d", "tags", "Tagged"},
    };
    for (const auto &c : cases) {
        const std::optional<SearchHit> hit = firstMatch(*post, Family::Post, c.needle);
        if (c.field == nullptr) {
            EXPECT_FALSE(hit) << c.needle;
            continue;
        }
        ASSERT_TRUE(hit) << c.needle;
        EXPECT_EQ(hit->field, c.field) << c.needle;
        EXPECT_EQ(hit->line, c.line) << c.needle;
    }
    const std::optional<JsonValue> note = parseJson(R"({"date":"d","id":"7","slug":null,"content":"milk"})");
    ASSERT_TRUE(note);
    EXPECT_FALSE(firstMatch(*note, Family::Note, "7"));  // the id is not searched, the slug is
    EXPECT_EQ(firstMatch(*note, Family::Note, "MILK").value().line, "milk");
}

TEST(ListFilter, DraftsAndPublished) {
    const std::string list = R"([{"date":"2024-01-03","slug":"a","draft":true},)"
                             R"({"date":"2024-01-02","slug":"b","draft":false},{"date":"2024-01-01","slug":"c"}])";
    ListFilter drafts;
    drafts.draft = true;
    EXPECT_EQ(filterList(list, drafts, false).value().json, R"([{"date":"2024-01-03","slug":"a","draft":true}])");
    ListFilter published;
    published.draft = false;
    EXPECT_EQ(filterList(list, published, false).value().json,
              R"([{"date":"2024-01-02","slug":"b","draft":false},{"date":"2024-01-01","slug":"c"}])");
}

TEST(RenderTable, FlagMarkerEndsTheCell) {
    const std::optional<JsonValue> list =
        parseJson(R"([{"slug":"a","title":"One","draft":true},{"slug":"b","title":"Two","draft":false}])");
    ASSERT_TRUE(list);
    const std::vector<Column> columns = {{"SLUG", "slug"}, {"TITLE", "title", "draft", " [draft]"}};
    EXPECT_EQ(renderTable(*list, columns).value(), "SLUG  TITLE\na     One [draft]\nb     Two\n");
}

TEST(FamilyTable, ItemKeysOfEachFamily) {
    EXPECT_EQ(itemKeys(familyInfo(Family::Post), R"([{"date":"d","slug":"a","title":"T"},{"slug":"b"}])"),
              (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(itemKeys(familyInfo(Family::Note), R"([{"date":"d","id":"todo","slug":"todo"},{"id":"17","slug":null}])"),
              (std::vector<std::string>{"todo", "17"}));
    EXPECT_EQ(itemKeys(familyInfo(Family::Snippet), R"([{"id":"1721000000","code":"x"},{"id":5}])"),
              (std::vector<std::string>{"1721000000", "5"}));
    EXPECT_TRUE(itemKeys(familyInfo(Family::Post), "[{\"slug\":").empty());
}

// The reader is strict about everything but UTF-8: the library never
// writes the refused forms, so meeting one means the text is not its own.
TEST(JsonReader, ReadsStrictlyButKeepsBytesThatAreNotUtf8) {
    const struct {
        std::string text;
        const char *value;  // the string or number read; nullptr: refused
    } cases[] = {
        {"0", "0"},
        {"-0", "-0"},
        {"10", "10"},
        {"-12.50e+3", "-12.50e+3"},
        {"1E-2", "1E-2"},
        {" \t\r\n7 ", "7"},
        {"01", nullptr},
        {"-01", nullptr},
        {"00", nullptr},
        {"1.", nullptr},
        {".5", nullptr},
        {"+1", nullptr},
        {"1e", nullptr},
        {"-", nullptr},
        {"0x1", nullptr},
        {R"("a\/b\"\\\b\f\n\r\t")", "a/b\"\\\b\f\n\r\t"},
        {R"("\u00e9\u65E5")", "\xC3\xA9\xE6\x97\xA5"},
        {R"("\ud83c\udf89")", "\xF0\x9F\x8E\x89"},
        {"\"\xFF\xC3\x28\x7F\"", "\xFF\xC3\x28\x7F"},  // not UTF-8, and DEL: kept as they are
        {R"("\ud800")", nullptr},                      // a first half alone
        {R"("\udc00")", nullptr},                      // a second half alone
        {R"("\ud800\u0041")", nullptr},
        {R"("\ud800x")", nullptr},
        {R"("\udc00\ud800")", nullptr},
        {R"("\u12")", nullptr},
        {R"("\x41")", nullptr},
        {"\"a\x01" "b\"", nullptr},  // raw control bytes
        {"\"a\nb\"", nullptr},
        {"\"a\tb\"", nullptr},
        {std::string("\"a\0b\"", 5), nullptr},
        {"\"open", nullptr},
    };
    for (const auto &c : cases) {
        const std::optional<JsonValue> v = parseJson(c.text);
        if (c.value == nullptr) {
            EXPECT_FALSE(v) << c.text;
        } else {
            ASSERT_TRUE(v) << c.text;
            EXPECT_EQ(v->text, c.value) << c.text;
        }
    }
    // A NUL escape is a character like any other.
    EXPECT_EQ(parseJson(R"("a\u0000b")").value().text, std::string("a\0b", 3));
}

TEST(JsonReader, RefusesBrokenStructure) {
    for (const char *bad : {"", "[", "[1,]", "[,1]", "[1 2]", "{\"a\":1,}", "{\"a\" 1}", "{a:1}", "{\"a\":}", "[] x",
                            "tru", "nul", "[true false]", "{\"a\":1}}"}) {
        EXPECT_FALSE(parseJson(bad)) << bad;
    }
    const std::string deepest = std::string(64, '[') + std::string(64, ']');
    EXPECT_TRUE(parseJson(deepest));
    EXPECT_FALSE(parseJson("[" + deepest + "]"));
    const std::optional<JsonValue> object = parseJson(R"({"a":[null,true,false],"b":{}})");
    ASSERT_TRUE(object);
    EXPECT_EQ(object->keys, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(object->find("a")->items.size(), 3u);
    EXPECT_TRUE(object->find("b")->isObject());
}

// Members a filter does not read are stepped over: their structure and
// numbers are checked, the bytes of their strings are not.
TEST(JsonReader, SkimmedMembersHaveTheirStructureChecked) {
    ListFilter recent;
    recent.since = parseDateArgument("2024-01-01");
    const std::string raw = "[{\"code\":\"a\x01" "b\",\"date\":\"2024-02-01\"}]";
    EXPECT_EQ(filterList(raw, recent, false).value().json, raw);
    EXPECT_FALSE(filterList(raw, recent, true));  // decoded in full for a table
    EXPECT_FALSE(filterList(R"([{"n":01,"date":"2024-02-01"}])", recent, false));
    EXPECT_FALSE(filterList(R"([{"x":[1,],"date":"2024-02-01"}])", recent, false));
    EXPECT_FALSE(filterList(R"([{"date":"2024-02-01"}] x)", recent, false));
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
