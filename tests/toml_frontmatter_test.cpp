// The front-matter block as TOML: which values the lexer takes for TOML,
// where a block closes, what the readers read, and that a head read stops
// only where the whole file would close.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/frontmatter.hpp"
#include "core/note_frontmatter.hpp"
#include "core/post_frontmatter.hpp"

using namespace quorlina;
using Tags = std::vector<std::string>;

namespace {

// The items of a block, as the readers get them.
std::vector<frontmatter::Item> itemsOf(const std::string &file) {
    std::vector<frontmatter::Item> items;
    frontmatter::forEachItem(file, frontmatter::findClose(file), nullptr,
                             [&](const frontmatter::Item &i) { items.push_back(i); });
    return items;
}

}  // namespace

// Whether `x = <value>` is TOML, as Python's tomllib decides it.
TEST(TomlLexer, ValuesAreTomlExactlyWhenAStrictReaderSaysSo) {
    struct Case {
        const char *value;
        bool toml;
    };
    const Case cases[] = {
        {"\"a\"", true},
        {"'a'", true},
        {"\"\"\"a\"\"\"", true},
        {"'''a'''", true},
        {"\"a\\tb\"", true},
        {"\"\\u00e9\"", true},
        {"\"\\U0001F600\"", true},
        {"\"\\x41\"", false},
        {"\"\\uD800\"", false},
        {"\"a", false},
        {"'a", false},
        {"\"\"\"a", false},
        {"\"a\nb\"", false},
        {"1", true},
        {"+1", true},
        {"-0", true},
        {"01", false},
        {"1_000", true},
        {"1__0", false},
        {"0x1F", true},
        {"0xG", false},
        {"0o17", true},
        {"0b101", true},
        {"+0x1", false},
        {"1.5", true},
        {"1.", false},
        {".5", false},
        {"1e5", true},
        {"1e", false},
        {"-1.5E-3", true},
        {"inf", true},
        {"-nan", true},
        {"infinity", false},
        {"true", true},
        {"True", false},
        {"tru", false},
        {"2024-01-02", true},
        {"2024-02-30", false},
        {"2024-02-29", true},
        {"2023-02-29", false},
        {"2024-01-02T03:04:05", true},
        {"2024-01-02 03:04:05Z", true},
        {"2024-01-02t03:04:05.123+01:00", true},
        {"03:04:05", true},
        {"03:04", false},
        {"24:00:00", false},
        {"2024-01-02T03:04", false},
        {"[]", true},
        {"[1,]", true},
        {"[,]", false},
        {"[1 2]", false},
        {"[\n1,\n# c\n2\n]", true},
        {"{}", true},
        {"{a=1}", true},
        {"{a=1,}", false},
        {"{a=1\n}", false},
        {"{a.b = 1, \"c\" = [1,\n2]}", true},
        {"a", false},
        {"\"a\" \"b\"", false},
        {"\"a\" # c", true},
        {"\"a\"#c", true},
        {"'''a''''", true},
        {"'''a'''''", true},
        {"'''a''''''", false},
        {"\"\"", true},
        {"\"\"\"\n\"\"\"", true},
        {"\"\"\"a\\\n  b\"\"\"", true},
        {"\"\"\"a\\ b\"\"\"", false},
        {"1979-05-27 07:32:00", true},
        {"1979-05-27 x", false},
        {"\"tab\tok\"", true},
        {"\"\x7f""\"", false},
        {"\"\xc3""\xa9""\"", true},
        {"\"\xc3""\"", false},
        {"\"\xed""\xa0""\x80""\"", false},
        {"\"a\r\"", false},
        {"\"\"\"a\rb\"\"\"", false},
        {"\"\"\"a\r\nb\"\"\"", true},
        {"1 # c\x01""", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        auto items = itemsOf(std::string("+++\nx = ") + c.value + "\n+++\n");
        ASSERT_GE(items.size(), 2u);
        EXPECT_EQ(items[1].kind, frontmatter::Item::Kind::Key);
        EXPECT_EQ(items[1].valid, c.toml);
    }
}

// One byte at every place of strings and comments long enough for the
// lexer's block-wise skipping (up to three blocks of sixteen), by the rules
// of TOML: a tab is allowed everywhere, other control bytes, DEL and bytes
// that are no UTF-8 nowhere, a quote of the string's own kind ends it and
// a backslash in a basic string starts an escape.
TEST(TomlLexer, EveryByteAtEveryPlaceOfALongRun) {
    struct Case {
        const char *what;
        std::string open, close;  // around the run, after "x = "
        std::string byte;
        bool toml;
    };
    const Case cases[] = {
        {"tab in a basic string", "\"", "\"", "\t", true},
        {"apostrophe in a basic string", "\"", "\"", "'", true},
        {"escaped backslash", "\"", "\"", "\\\\", true},
        {"bad escape", "\"", "\"", "\\q", false},
        {"quote ends a basic string", "\"", "\"", "\"", false},
        {"control byte in a basic string", "\"", "\"", "\x01", false},
        {"vertical tab in a basic string", "\"", "\"", "\v", false},
        {"DEL in a basic string", "\"", "\"", "\x7f", false},
        {"UTF-8 in a basic string", "\"", "\"", "\xc3\xa9", true},
        {"no UTF-8 in a basic string", "\"", "\"", "\xff", false},
        {"cut UTF-8 in a basic string", "\"", "\"", "\xc3", false},
        {"tab in a literal string", "'", "'", "\t", true},
        {"backslash in a literal string", "'", "'", "\\", true},
        {"quote in a literal string", "'", "'", "\"", true},
        {"apostrophe ends a literal string", "'", "'", "'", false},
        {"control byte in a literal string", "'", "'", "\x1f", false},
        {"DEL in a literal string", "'", "'", "\x7f", false},
        {"UTF-8 in a literal string", "'", "'", "\xe2\x82\xac", true},
        {"no UTF-8 in a literal string", "'", "'", "\x80", false},
        {"plus in a comment", "1 #", "", "+", true},
        {"quote in a comment", "1 #", "", "\"", true},
        {"tab in a comment", "1 #", "", "\t", true},
        {"control byte in a comment", "1 #", "", "\x02", false},
        {"DEL in a comment", "1 #", "", "\x7f", false},
        {"UTF-8 in a comment", "1 #", "", "\xf0\x9f\x98\x80", true},
        {"no UTF-8 in a comment", "1 #", "", "\xf8", false},
    };
    for (const Case &c : cases) {
        for (std::size_t len : {15u, 16u, 17u, 31u, 33u, 47u}) {
            for (std::size_t at = 0; at <= len; ++at) {
                std::string run(len, 'a');
                run.insert(at, c.byte);
                const std::string file = "+++\nx = " + c.open + run + c.close + "\n+++\n";
                SCOPED_TRACE(std::string(c.what) + ", run " + std::to_string(len) + ", at " + std::to_string(at));
                auto items = itemsOf(file);
                ASSERT_EQ(items.size(), 2u);  // the opening line's break, then x
                EXPECT_EQ(items[1].valid, c.toml);
            }
        }
    }
}

// Where the block closes: the marker "|" stands before the "+++" that
// closes it (and is taken out of the text).
TEST(TomlLexer, BlockClosesAtTheFirstDelimiterOutsideAClosedString) {
    const char *cases[] = {
        "+++\ntitle = \"T\"\n|+++\n",
        "+++\ndescription = \"C+++ and more\"\n|+++\nBody +++",
        "+++\na = 'x+++'\nb = \"\"\"\n+++\n\"\"\"\n\"k+++\" = 1\n|+++\n",
        "+++\n# C|+++ in a comment\n+++\n",
        "+++\na = \"x\" # c|+++\n+++\n",
        "+++\na = x|+++y\n+++\n",                  // not TOML: anywhere
        "+++\na = \"x\" \"|+++\"\n+++\n",          // not TOML as a whole line
        "+++\na = \"x|+++\n+++\n",                 // a string not closed on its line
        "+++\na = \"\"\"\n|+++\nbody\n",           // a multi-line string never closed
        "+++\ntags = [\n  \"a\",\n|+++\n",         // an array never closed
        "+++\na = 1 |+++",
        "+++|+++",
        "+++\na = \"C|+++\"\n",                    // no close outside strings: the first one
        "+++\r\na = \"C+++\"\r\n|+++\r\n",
    };
    for (std::string c : cases) {
        SCOPED_TRACE(c);
        const std::size_t want = c.find('|');
        c.erase(want, 1);
        EXPECT_EQ(frontmatter::findClose(c), want);
    }
    // A multi-line string that holds a "+++" line, at every place of the
    // first blocks of the text.
    for (const char *q : {"\"\"\"", "'''"}) {
        for (std::size_t pad = 0; pad < 40; ++pad) {
            const std::string head = "+++\nk = '" + std::string(pad, 'x') + "'\nb = " + q + "\n+++\n" + q + "\n";
            SCOPED_TRACE(head);
            EXPECT_EQ(frontmatter::findClose(head + "+++\nbody\n"), head.size());
        }
    }
    EXPECT_EQ(frontmatter::findClose("+++\ntitle = \"a+++\"\n"), 14u);
    EXPECT_EQ(frontmatter::findClose("+++\ntitle = \"a\"\n"), std::string::npos);
}

// A head settles the close only when more text could not move it.
TEST(TomlLexer, HeadSettlesOnlyWhereTheWholeFileCloses) {
    const std::string files[] = {
        "+++\ntitle = \"T\"\n+++\nbody",
        "+++\ndescription = \"\"\"\n+++\n\"\"\"\n+++\nbody",
        "+++\ndescription = \"a+++b\"\ntags = [\n\"x\",\n]\n+++\nbody +++ more",
        "+++\na = \"\"\"unclosed\n+++\nbody \"\"\" and more +++",
        "+++\na = 2024-01-0 +++\n",
        "no block",
    };
    for (const std::string &f : files) {
        SCOPED_TRACE(f);
        const std::size_t close = frontmatter::findClose(f);
        for (std::size_t cut = 0; cut <= f.size(); ++cut) {
            std::string_view head = std::string_view(f).substr(0, cut);
            if (frontmatter::closeSettled(head) && f.starts_with("+++")) {
                EXPECT_EQ(frontmatter::findClose(head), close) << "cut at " << cut;
            }
        }
        EXPECT_TRUE(frontmatter::closeSettled(f) || close == std::string::npos || f.find("\"\"\"") != std::string::npos);
    }
    // A multi-line string cut by the end of the head could still close.
    EXPECT_FALSE(frontmatter::closeSettled("+++\na = \"\"\"\n+++\n"));
    EXPECT_TRUE(frontmatter::closeSettled("+++\na = \"\"\"\n+++\n\"\"\"\n+++\n"));
    EXPECT_TRUE(frontmatter::closeSettled("+++\ntitle = \"T\"\n+++"));
}

// Posts read valid TOML as TOML does; the line rules are kept for the rest.
TEST(PostTomlReader, ValuesAsAStrictReaderReadsThem) {
    struct Case {
        const char *block;  // between "+++\n" and "+++\n"
        const char *title;
        const char *description;
        Tags tags;
    };
    const Case cases[] = {
        {"title = 'Lit'\ndescription = \"D\"\n", "Lit", "D", {}},
        {"title = \"Hello\" # greeting\ndescription = 'D' #\n", "Hello", "D", {}},
        {"title = \"a\\tb \\u00e9 \\U0001F600 \\\\ \\\"\"\ndescription = \"\\b\\f\\r\\n\"\n",
         "a\tb \xC3\xA9 \xF0\x9F\x98\x80 \\ \"", "\b\f\r\n", {}},
        {"title = \"\"\"Triple\"\"\"\ndescription = \"\"\"\nfirst \\\n  second\n\"\"\"\n", "Triple", "first second\n", {}},
        {"title = '''\r\nraw \\n\r\nx'''\ndescription = \"D\"\n", "raw \\n\nx", "D", {}},
        {"title = 2024-05-01\ndescription = 12 # n\n", "2024-05-01", "12", {}},
        {"title = \"T\"\ndescription = \"D\"\ntags = [\n  \"a\", 'b',  # two\n  # none\n  \"c\",\n]\n", "T", "D",
         {"a", "b", "c"}},
        {"title = \"T\"\ndescription = \"D\"\ntags = [\"a\",\n  \"b\"]\ndraft = true\nweight = 5\n", "T", "D", {"a", "b"}},
        {"title = \"T\"\ndescription = \"D\"\ntags = [1, true, 2024-01-02, [\"n\"], \"\", \"s\"]\n", "T", "D",
         {"1", "true", "2024-01-02", "[\"n\"]", "s"}},
        {"\"title\" = \"T\"\n'description' = \"D\"\n\"t\\u0061gs\" = [\"q\"]\n", "T", "D", {"q"}},
        {"title = \"T\"\ndescription = \"\"\"\n[params]\ntitle = \"inside\"\n\"\"\"\ntags = [\"x\"]\n", "T",
         "[params]\ntitle = \"inside\"\n", {"x"}},
        {"title = \"T\"\ndescription = \"D\"\nparams.title = \"no\"\n[params]\ntags = [\"no\"]\n", "T", "D", {}},
        {"title = \"C+++ and more\"\ndescription = 'x+++'\n", "C+++ and more", "x+++", {}},
        // Not TOML: the line rules.
        {"title = Hello\ndescription = \"x\" junk\ntags = [a, \"b\" ,, c]\n", "Hello", "\"x\" junk", {"a", "b", "c"}},
        {"title = \"t\"\ndescription = d\ntags = [\n  \"x\",\n  # comment\n  y\n]\n", "t", "d", {"x", "y"}},
        {"title = \"a\\qb\"\ndescription = \"\"\ntags = [\"a\", \"b\"\n  c,\n] ignored\n", "a\\qb", "", {"c"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.block);
        auto r = post_frontmatter::parse(std::string("+++\n") + c.block + "+++\n");
        ASSERT_TRUE(r.ok()) << errorName(r.error());
        EXPECT_EQ(r->frontmatter.title, c.title);
        EXPECT_EQ(r->frontmatter.description, c.description);
        EXPECT_EQ(r->frontmatter.tags, c.tags);
    }
}

// One valid file no longer fails its family: what used to be read wrongly
// or refused.
TEST(NoteTomlReader, ValidFilesRead) {
    struct Case {
        const char *file;
        std::optional<std::string> slug;
        const char *body;
    };
    const Case cases[] = {
        {"+++\nslug = \"s\" # mine\n+++\nB", "s", "B"},
        {"+++\n'slug' = 'lit'\n+++\nB", "lit", "B"},
        {"+++\nnote = \"\"\"\n[x]\nslug = \"no\"\n\"\"\"\nslug = \"yes\"\n+++\nB", "yes", "B"},
        {"+++\ntitle = \"a+++b\"\n+++\n\nB", std::nullopt, "B"},
        {"+++\n[params]\nslug = \"no\"\n+++\nB", std::nullopt, "B"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        auto r = note_frontmatter::parse(c.file);
        ASSERT_TRUE(r.ok()) << errorName(r.error());
        EXPECT_EQ(r->frontmatter.slug, c.slug);
        EXPECT_EQ(r->body, c.body);
    }
}

// What the editor keeps and what it writes, on blocks given directly.
TEST(BlockEditor, EditsFollowTheStructure) {
    struct Case {
        const char *before;  // a whole block
        const char *key;
        std::vector<std::string> list;  // setList values (or set raw: one value)
        bool isList;
        const char *after;
    };
    const Case cases[] = {
        {"+++\ntags = [\n  \"a\", \"b\",\n  \"c\"\n]\n+++", "tags", {"a", "c", "d"}, true,
         "+++\ntags = [\n  \"a\",\n  \"c\",\n  \"d\"\n]\n+++"},
        {"+++\ntags = [\"a\",\n        \"b\"]\n+++", "tags", {"a", "b", "c"}, true,
         "+++\ntags = [\"a\",\n        \"b\",\n        \"c\"]\n+++"},
        {"+++\ntags = [\"a\", \"b\",]\n+++", "tags", {"a"}, true, "+++\ntags = [\"a\",]\n+++"},
        {"+++\ntags = [ ]\n+++", "tags", {"x"}, true, "+++\ntags = [\"x\"]\n+++"},
        {"+++\ntags = [\n  # none yet\n]\n+++", "tags", {"x"}, true, "+++\ntags = [\n  \"x\",\n  # none yet\n]\n+++"},
        {"+++\ntags = [\"x\", # first\n  \"y\"]\n+++", "tags", {"x"}, true, "+++\ntags = [\"x\" # first\n  ]\n+++"},
        {"+++\ntags = [\"a\", 1, \"b\"]\n+++", "tags", {"a", "b"}, true, "+++\ntags = [\"a\", \"b\"]\n+++"},
        {"+++\ntags = [\"a\"]\ntags = [\"b\"]\n+++", "tags", {"c"}, true, "+++\ntags = [\"c\"]\n+++"},
        {"+++\ntitle = \"\"\"\nold\n\"\"\" # c\n+++", "title", {"\"new\""}, false, "+++\ntitle = \"new\" # c\n+++"},
        {"+++\ntitle = old value\n+++", "title", {"\"new\""}, false, "+++\ntitle = \"new\"\n+++"},
        {"+++\ndraft = false\n+++", "draft", {"true"}, false, "+++\ndraft = true\n+++"},
        {"+++\ntitle = \"t\"\n[params]\nx = 1\n+++", "date", {"2024-05-01"}, false,
         "+++\ntitle = \"t\"\ndate = 2024-05-01\n[params]\nx = 1\n+++"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.before);
        const std::string text = c.before;
        frontmatter::BlockEditor editor(text, frontmatter::findClose(text), nullptr, {"title", "tags", "draft"});
        if (c.isList) {
            editor.setList(c.key, c.list);
        } else {
            editor.set(c.key, c.list.front());
        }
        EXPECT_EQ(editor.block(), c.after);
    }
}
