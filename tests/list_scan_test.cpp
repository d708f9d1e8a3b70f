// The list, read, update and delete exports read the content files one at
// a time in list order (front matter only where that is all they need) and
// write list JSON straight into the returned block. These tests hold them
// to whole-file loads (qtest::loadPosts, qtest::loadNotes, which read every
// listed file again in full) byte for byte, on sites large enough to
// exercise the buffer growth
// and the head reads, and check the in-place JSON escaping against the
// string one.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/notes.hpp"
#include "core/platform.hpp"
#include "core/posts.hpp"
#include "core/snippets.hpp"
#include "ffi/c_heap_text.hpp"
#include "ffi/frame.hpp"
#include "ffi/json.hpp"
#include "ffi/post_json.hpp"
#include "ffi/snippet_json.hpp"
#include "support/test_support.hpp"
#include "support/whole_loads.hpp"

using qtest::callText;
using qtest::TempSite;
using namespace quorlina;

namespace {

// A small deterministic generator (the tests must not depend on the
// standard library's distributions).
struct Rng {
    std::uint64_t s;
    std::uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

// Text with every kind of byte that escaping treats differently.
std::string mixedText(Rng &rng, std::size_t size) {
    static const char kPieces[] = {'a', 'b', ' ', '"', '\\', '\n', '\r', '\t', '\x01', '\x1f', '\x7f', 'z'};
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        std::size_t k = rng.below(16);
        out.push_back(k < sizeof kPieces ? kPieces[k] : static_cast<char>(0x80 + rng.below(128)));
    }
    return out;
}

std::string snippetFile(const std::string &description, const std::string &code) {
    return "+++\ndescription = \"" + description + "\"\nfilename = \"x.py\"\n+++\n\n" + code;
}

std::string postFile(const std::string &title, const std::string &extra, const std::string &body) {
    return "+++\ntitle = \"" + title + "\"\ndescription = \"About " + title + "\"\n" + extra + "+++\n\n" + body;
}

// Makes `path` a sparse file one byte over the read limit.
void makeOversized(const std::string &path) {
    qtest::writeFile(path, "+++\n");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(quorlina::platform::kReadLimit + 1)), 0);
}

// The names of `dir` in the order the file system lists them.
std::vector<std::string> directoryOrder(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (dirent *e = ::readdir(d)) names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

qtest::TextResult listOf(const char *family, const TempSite &site) {
    return callText([&](char **out) {
        std::string f = family;
        if (f == "snippet") return quorlina_snippet_list(site.c_root(), out);
        if (f == "post") return quorlina_post_list(site.c_root(), out);
        return quorlina_note_list(site.c_root(), out);
    });
}

// The note list as the full load gives it.
std::string noteListFromFullLoad(const std::vector<Note> &notes) {
    std::string out = "[";
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (i) out += ",";
        out += "{\"date\":\"" + notes[i].date + "\",\"id\":\"" + notes[i].id + "\",\"slug\":";
        out += notes[i].frontmatter.slug ? "\"" + qtest::escapeJson(*notes[i].frontmatter.slug) + "\"" : "null";
        out += "}";
    }
    return out + "]";
}

}  // namespace

TEST(JsonEscaping, InPlaceEscapingMatchesTheStringOne) {
    Rng rng{0x9e3779b97f4a7c15ULL};
    // Every length around the block sizes, at several starting fills of the
    // buffer, then long texts that grow it many times.
    for (std::size_t len = 0; len < 200; ++len) {
        for (std::size_t prefix : {0u, 1u, 7u, 100u}) {
            std::string text = mixedText(rng, len);
            ffi::CHeapText out;
            out.append(std::string(prefix, 'p'));
            ffi::appendEscapedJson(out, text);
            ASSERT_EQ(out.view(), std::string(prefix, 'p') + qtest::escapeJson(text)) << len << " " << prefix;
        }
    }
    ffi::CHeapText big;
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        std::string text = mixedText(rng, 1 + rng.below(40000));
        ffi::appendEscapedJson(big, text);
        expected += qtest::escapeJson(text);
    }
    ASSERT_EQ(big.view(), expected);
    // Only special bytes: every one of them grows to six bytes or two.
    std::string controls(5000, '\x02');
    ffi::CHeapText grown;
    ffi::appendEscapedJson(grown, controls);
    EXPECT_EQ(grown.view(), qtest::escapeJson(controls));
    EXPECT_EQ(grown.size(), 6 * controls.size());
}

TEST(JsonEscaping, ReleasedTextIsTheCallersOwnedString) {
    ffi::JsonListWriter empty;
    char *text = std::move(empty).finish().release();
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "[]");
    quorlina_free(text);

    ffi::JsonListWriter list;
    list.expect(100);
    std::string expected = "[";
    for (int i = 0; i < 100; ++i) {
        list.nextRecord() += "{\"n\":" + std::to_string(i) + "}";
        expected += (i ? "," : "") + std::string("{\"n\":") + std::to_string(i) + "}";
    }
    text = std::move(list).finish().release();
    EXPECT_EQ(std::string(text), expected + "]");
    quorlina_free(text);
}

TEST(ListScan, PostListAndReadMatchTheFullLoad) {
    TempSite site;
    Rng rng{7};
    const std::string blog = site.path("content/blog");
    std::vector<std::string> slugs;
    for (int i = 0; i < 600; ++i) {
        char day[48];
        std::snprintf(day, sizeof day, "20%02d/%02d/%02d", 20 + static_cast<int>(rng.below(4)),
                      1 + static_cast<int>(rng.below(2)), 1 + static_cast<int>(rng.below(3)));
        std::string name = "post-" + std::to_string(i);
        std::string extra;
        if (i % 7 == 0) {
            extra = "slug = \"key-" + std::to_string(i) + "\"\n";
            slugs.push_back("key-" + std::to_string(i));
        } else {
            slugs.push_back(name);
        }
        if (i % 3 == 0) extra += "tags = [\"a\", \"b \\\"q\\\"\", \"c\"]\n";
        if (i % 50 == 0) extra += "long = \"" + std::string(6000, 'x') + "\"\n";  // front matter past one page
        std::string body = i % 11 == 0 ? std::string(9000, 'b') : "Body " + std::to_string(i) + "\n";
        qtest::writeFile(blog + "/" + day + "/" + name + ".md",
                         postFile("Title \\\"" + std::to_string(i) + "\\\" caf\xc3\xa9\t", extra, body));
    }
    qtest::writeFile(blog + "/2021/01/01/index.md", "not a post");
    qtest::writeFile(blog + "/2021/01/notes.md", "not a post");
    qtest::writeFile(blog + "/2021/13/01/x.md", "not a post");

    auto all = qtest::loadPosts(blog);
    ASSERT_TRUE(all.ok());
    ASSERT_EQ(all->size(), 600u);
    auto list = listOf("post", site);
    ASSERT_EQ(list.code, 0);
    ffi::JsonListWriter expected;
    for (const Post &post : *all) ffi::appendPostSummaryJson(expected.nextRecord(), post);
    char *text = std::move(expected).finish().release();
    EXPECT_EQ(list.text, text);
    std::free(text);

    for (std::size_t i = 0; i < slugs.size(); i += 43) {
        auto read = callText([&](char **out) { return quorlina_post_read(site.c_root(), slugs[i].c_str(), out); });
        ASSERT_EQ(read.code, 0) << slugs[i];
        EXPECT_EQ(read.text, ffi::buildPostJson(*qtest::findPostBySlug(*all, slugs[i])));
    }
}

TEST(ListScan, NoteListAndReadMatchTheFullLoad) {
    TempSite site;
    Rng rng{11};
    const std::string dir = site.path("content/notes");
    std::vector<std::string> ids;
    for (int i = 0; i < 600; ++i) {
        std::int64_t ts = 1650000000 + static_cast<std::int64_t>(rng.below(30)) * 86400 + i;
        std::string stem = std::to_string(ts);
        std::string body = "Note " + std::to_string(i) + " \"quoted\"\t" + std::string(rng.below(3000), 'n');
        std::string text;
        if (i % 2 == 0) {
            text = "+++\nslug = \"n-" + std::to_string(i) + "\"\n+++\n\n" + body;
            ids.push_back("n-" + std::to_string(i));
        } else if (i % 25 == 1) {
            // Front matter longer than the first read.
            text = "+++\n# " + std::string(5000, 'c') + "\n+++\n" + body;
            ids.push_back(stem);
        } else {
            text = body;
            ids.push_back(stem);
        }
        qtest::writeFile(dir + "/" + stem + ".md", text);
    }
    qtest::writeFile(dir + "/_index.md", "+++\nunclosed");

    auto all = qtest::loadNotes(dir);
    ASSERT_TRUE(all.ok());
    auto list = listOf("note", site);
    ASSERT_EQ(list.code, 0);
    EXPECT_EQ(list.text, noteListFromFullLoad(*all));

    for (std::size_t i = 0; i < ids.size(); i += 41) {
        auto read = callText([&](char **out) { return quorlina_note_read(site.c_root(), ids[i].c_str(), out); });
        ASSERT_EQ(read.code, 0) << ids[i];
        const Note *note = qtest::findNoteById(*all, ids[i]);
        ASSERT_NE(note, nullptr);
        std::string expected = "{\"date\":\"" + note->date + "\",\"id\":\"" + note->id + "\",\"slug\":" +
                               (note->frontmatter.slug ? "\"" + *note->frontmatter.slug + "\"" : "null") +
                               ",\"content\":\"" + qtest::escapeJson(note->body()) + "\"}";
        EXPECT_EQ(read.text, expected);
    }
}

// With two broken files, the one met first in directory (walk) order
// decides the code, as in the full load, although the files are read in
// list order. Over many trials both orders of the two occur.
TEST(ListScan, FirstBrokenFileInDirectoryOrderDecides) {
    // The code of whichever of two broken entries `dir` lists first.
    auto firstOf = [](const std::string &dir, const std::string &a, int codeA, const std::string &b, int codeB) {
        for (const std::string &name : directoryOrder(dir)) {
            if (name == a) return codeA;
            if (name == b) return codeB;
        }
        return -1;
    };
    for (int trial = 0; trial < 16; ++trial) {
        TempSite site;
        const std::string s = site.path("content/snippets/");
        const std::string big = std::to_string(1600000000 + trial * 1000003) + ".py";
        const std::string bare = std::to_string(1700000000 - trial * 999983) + ".py";
        qtest::writeFile(s + std::to_string(1500000000 + trial) + ".py", snippetFile("ok", "x"));
        makeOversized(s + big);
        qtest::writeFile(s + bare, "no front matter");
        qtest::writeFile(s + std::to_string(1800000000 + trial) + ".py", snippetFile("ok", "y"));
        EXPECT_EQ(listOf("snippet", site).code, firstOf(s, big, 100, bare, 7)) << trial;

        const std::string b = site.path("content/blog/");
        const std::string bigYear = "202" + std::to_string(1 + trial % 8);
        const std::string badYear = "202" + std::to_string(8 - trial % 8);
        qtest::writeFile(b + "2020/01/01/ok.md", postFile("ok", "", "x"));
        makeOversized(b + bigYear + "/02/02/big.md");
        qtest::writeFile(b + badYear + "/03/0" + std::to_string(1 + trial % 9) + "/bad.md",
                         postFile("bad", "slug = \"not valid\"\n", "x"));
        const int postCode = firstOf(b, bigYear, 100, badYear, 10);
        EXPECT_EQ(listOf("post", site).code, postCode) << trial;
        auto read = callText([&](char **out) { return quorlina_post_read(site.c_root(), "ok", out); });
        EXPECT_EQ(read.code, postCode) << trial;

        const std::string n = site.path("content/notes/");
        const std::string bigNote = std::to_string(1600000000 + trial * 1000003) + ".md";
        const std::string badNote = std::to_string(1700000000 - trial * 999983) + ".md";
        qtest::writeFile(n + "1500000000.md", "fine");
        makeOversized(n + bigNote);
        qtest::writeFile(n + badNote, "+++\nslug = \"a b\"\n+++\n");
        const int noteCode = firstOf(n, bigNote, 100, badNote, 10);
        EXPECT_EQ(listOf("note", site).code, noteCode) << trial;
        read = callText([&](char **out) { return quorlina_note_read(site.c_root(), "1500000000", out); });
        EXPECT_EQ(read.code, noteCode) << trial;
    }
}

TEST(ListScan, ABadNameIsReportedOnceWithItsWarning) {
    TempSite site;
    qtest::writeFile(site.path("content/snippets/1700000000.py"), snippetFile("ok", "x"));
    qtest::writeFile(site.path("content/snippets/notes.md"), snippetFile("ok", "x"));
    testing::internal::CaptureStderr();
    auto list = listOf("snippet", site);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(list.code, 1);
    EXPECT_EQ(err, "warning: Invalid timestamp in filename 'notes.md'\n");

    qtest::writeFile(site.path("content/notes/1700000000.md"), "fine");
    qtest::writeFile(site.path("content/notes/todo.md"), "fine");
    testing::internal::CaptureStderr();
    list = listOf("note", site);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(list.code, 1);
    EXPECT_EQ(err, "warning: Invalid timestamp in filename 'todo.md': error.InvalidCharacter\n");
}

TEST(ListScan, UpdateAndDeleteFindWhatTheFullLoadFinds) {
    TempSite site;
    // Two posts with one slug: the newer one is updated, then deleted.
    qtest::writeFile(site.path("content/blog/2024/01/01/same.md"), postFile("Old", "", "old body"));
    qtest::writeFile(site.path("content/blog/2024/02/01/x.md"), postFile("New", "slug = \"same\"\n", "new body"));
    ASSERT_EQ(quorlina_post_update(site.c_root(), "same", "Changed", nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(*qtest::readFile(site.path("content/blog/2024/02/01/x.md")),
              "+++\ntitle = \"Changed\"\ndescription = \"About New\"\nslug = \"same\"\n+++\n\nnew body");
    EXPECT_EQ(*qtest::readFile(site.path("content/blog/2024/01/01/same.md")), postFile("Old", "", "old body"));
    ASSERT_EQ(quorlina_post_delete(site.c_root(), "same"), 0);
    EXPECT_FALSE(qtest::exists(site.path("content/blog/2024/02")));
    EXPECT_TRUE(qtest::exists(site.path("content/blog/2024/01/01/same.md")));

    // A note found by its stem keeps its slug and, without new content, its body.
    qtest::writeFile(site.path("content/notes/1700000000.md"), "+++\nslug = \"s\"\n+++\n\nbody");
    ASSERT_EQ(quorlina_note_update(site.c_root(), "1700000000", "t", 0, nullptr), 0);
    EXPECT_EQ(*qtest::readFile(site.path("content/notes/1700000000.md")), "+++\nslug = \"t\"\n+++\n\nbody");
    ASSERT_EQ(quorlina_note_update(site.c_root(), "t", nullptr, 0, "new"), 0);
    EXPECT_EQ(*qtest::readFile(site.path("content/notes/1700000000.md")), "+++\nslug = \"t\"\n+++\n\nnew");
    ASSERT_EQ(quorlina_note_delete(site.c_root(), "t"), 0);
    EXPECT_FALSE(qtest::exists(site.path("content/notes/1700000000.md")));
}
