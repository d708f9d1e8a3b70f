// Fuzzes the front-matter lexer and readers against toml++, a strict TOML
// 1.0 reader. The input is the inside of a block. On every input toml++
// accepts:
//   - every item of the block lexes as TOML (none falls back to the line
//     rules) and the block closes where it was closed;
//   - every top-level string value, and every string item of a top-level
//     array, reads as toml++ reads it, and every other value is of the kind
//     toml++ says;
//   - a post update of the title and the tags leaves a block that toml++
//     still accepts, equal to the input with exactly that change.
// On every input, a file head that settles its close settles it where the
// whole file closes.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "core/frontmatter.hpp"
#include "core/post_frontmatter.hpp"
#include "core/posts.hpp"
#include "fuzz_check.hpp"

using namespace quorlina;
namespace lx = quorlina::toml;

namespace {

// Values equal as TOML values (NaN equals NaN).
bool sameNode(const ::toml::node &a, const ::toml::node &b) {
    if (a.type() != b.type()) return false;
    if (auto *x = a.as_table()) {
        const ::toml::table &y = *b.as_table();
        if (x->size() != y.size()) return false;
        for (auto &&[k, v] : *x) {
            const ::toml::node *w = y.get(k.str());
            if (!w || !sameNode(v, *w)) return false;
        }
        return true;
    }
    if (auto *x = a.as_array()) {
        const ::toml::array &y = *b.as_array();
        if (x->size() != y.size()) return false;
        for (std::size_t i = 0; i < x->size(); ++i)
            if (!sameNode(*x->get(i), *y.get(i))) return false;
        return true;
    }
    if (auto *x = a.as_floating_point()) {
        double p = x->get(), q = b.as_floating_point()->get();
        return (std::isnan(p) && std::isnan(q)) || p == q;
    }
    if (auto *x = a.as_string()) return x->get() == b.as_string()->get();
    if (auto *x = a.as_integer()) return x->get() == b.as_integer()->get();
    if (auto *x = a.as_boolean()) return x->get() == b.as_boolean()->get();
    if (auto *x = a.as_date()) return x->get() == b.as_date()->get();
    if (auto *x = a.as_time()) return x->get() == b.as_time()->get();
    if (auto *x = a.as_date_time()) return x->get() == b.as_date_time()->get();
    return false;
}

// The kind of value toml++ has for a value the lexer gave `kind`.
bool sameKind(lx::ValueKind kind, const ::toml::node &n) {
    switch (kind) {
    case lx::ValueKind::Array: return n.is_array();
    case lx::ValueKind::InlineTable: return n.is_table();
    case lx::ValueKind::Scalar: return !n.is_string() && !n.is_array() && !n.is_table();
    default: return n.is_string();
    }
}

// Compares one value the lexer read with toml++'s.
void compareValue(std::string_view text, std::size_t begin, std::size_t end, lx::ValueKind kind,
                  const ::toml::node &n, const std::string &doc) {
    FUZZ_CHECK(sameKind(kind, n), "kind differs in " + qfuzz::show(doc));
    if (lx::isString(kind)) {
        std::string s;
        lx::appendDecoded(text.substr(begin, end - begin), kind, s);
        FUZZ_CHECK(s == n.as_string()->get(), qfuzz::show(s) + " read, toml++ has " +
                                                   qfuzz::show(n.as_string()->get()) + " in " + qfuzz::show(doc));
    } else if (kind == lx::ValueKind::Array) {
        const ::toml::array &arr = *n.as_array();
        std::size_t i = 0;
        lx::forEachArrayItem(text, begin, [&](const lx::ArrayItem &item) {
            FUZZ_CHECK(i < arr.size(), "more items than toml++ in " + qfuzz::show(doc));
            compareValue(text, item.begin, item.end, item.kind, *arr.get(i), doc);
            ++i;
        });
        FUZZ_CHECK(i == arr.size(), "fewer items than toml++ in " + qfuzz::show(doc));
    }
}

// A post update of the title and the tags must leave the document toml++
// read with exactly that change.
void checkPostUpdate(const std::string &file, std::size_t close, const ::toml::table &doc, const std::string &docText) {
    auto parsed = post_frontmatter::parse(file);
    if (!parsed) return;
    const PostFrontmatter &old = parsed->frontmatter;
    const ::toml::node *tags = doc.get("tags");
    const ::toml::array *tagArray = tags ? tags->as_array() : nullptr;
    // Tags defined as a table cannot take a list.
    const bool tagsTable = tags && tags->is_table();
    if (tagArray)
        for (const ::toml::node &t : *tagArray)
            if (!t.is_string()) return;  // a non-string tag reads as its text; not compared here

    post_frontmatter::Changes changes;
    changes.title = "Fuzz \"title\" \\ +";
    std::vector<std::string> remove;
    if (!old.tags.empty()) remove.push_back(old.tags.front());
    std::vector<std::string> wanted = tagsTable ? old.tags : mergeTags(old.tags, {"new-tag"}, remove);
    if (!tagsTable) changes.tags = wanted;
    std::string out = post_frontmatter::rewrite(file, changes);

    const std::size_t newClose = frontmatter::findClose(out);
    FUZZ_CHECK(newClose != std::string::npos, "no close after the update of " + qfuzz::show(docText));
    FUZZ_CHECK(out.substr(newClose) == std::string_view(file).substr(close),
               "text after the block changed in " + qfuzz::show(out));
    auto again = ::toml::parse(std::string_view(out).substr(3, newClose - 3));
    FUZZ_CHECK(bool(again), "update of " + qfuzz::show(docText) + " is not TOML: " + qfuzz::show(out));

    ::toml::table expected = doc;
    expected.insert_or_assign("title", *changes.title);
    if (tagsTable) {
    } else if (wanted.empty()) {
        expected.erase("tags");
    } else {
        ::toml::array arr;
        if (tagArray) {
            for (const ::toml::node &t : *tagArray)
                if (remove.empty() || t.as_string()->get() != remove.front()) arr.push_back(t.as_string()->get());
        }
        if (std::find(old.tags.begin(), old.tags.end(), "new-tag") == old.tags.end()) arr.push_back("new-tag");
        expected.insert_or_assign("tags", std::move(arr));
    }
    FUZZ_CHECK(sameNode(again.table(), expected), "update of " + qfuzz::show(docText) + " changed more: " + qfuzz::show(out));

    auto back = post_frontmatter::parse(out);
    FUZZ_CHECK(back.ok() && back->frontmatter.title == *changes.title && back->frontmatter.tags == wanted,
               "update does not read back: " + qfuzz::show(out));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string docText(qfuzz::asView(data, size));
    const std::string file = "+++\n" + docText + "\n+++\n";

    // A head that settles the close settles it where the whole text does.
    for (const std::string *text : {&file, &docText}) {
        const std::string whole = text == &file ? file : "+++" + docText;
        const std::size_t close = frontmatter::findClose(whole);
        for (std::size_t cut = 3; cut <= whole.size(); cut += 1 + whole.size() / 24) {
            std::string_view head = std::string_view(whole).substr(0, cut);
            if (frontmatter::closeSettled(head))
                FUZZ_CHECK(frontmatter::findClose(head) == close, "head of " + std::to_string(cut) +
                                                                      " bytes settles elsewhere: " + qfuzz::show(whole));
        }
    }
    (void)post_frontmatter::parse(file);

    auto parsed = ::toml::parse(std::string_view(docText));
    if (!parsed) return 0;
    const ::toml::table &doc = parsed.table();

    const std::size_t close = frontmatter::findClose(file);
    const std::size_t expectedClose = file.size() - 4;
    if (close != expectedClose) {
        // Only a comment may hold a "+++" that ends the block early.
        FUZZ_CHECK(close < expectedClose && std::string_view(file).substr(0, close).rfind('#') != std::string::npos,
                   "block closes at " + std::to_string(close) + " in " + qfuzz::show(docText));
        return 0;
    }
    std::string scratch;
    frontmatter::forEachItem(file, close, nullptr, [&](const frontmatter::Item &it) {
        FUZZ_CHECK(it.valid, "item at " + std::to_string(it.begin) + " read by the line rules in " + qfuzz::show(docText));
        std::string_view key = frontmatter::topLevelKey(file, it, scratch);
        if (key.empty()) return;
        const ::toml::node *n = doc.get(key);
        FUZZ_CHECK(n != nullptr, "key " + qfuzz::show(key) + " not in toml++'s table for " + qfuzz::show(docText));
        compareValue(file, it.valueBegin, it.valueEnd, it.valueKind, *n, docText);
    });
    checkPostUpdate(file, close, doc, docText);
    return 0;
}
