#include "core/frontmatter.hpp"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/text.hpp"

namespace quorlina {

void appendTomlString(std::string &out, std::string_view value) {
    out.push_back('"');
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c != '"' && c != '\\') continue;
        out.append(value.data() + runStart, i - runStart);
        out.push_back('\\');
        out.push_back(c);
        runStart = i + 1;
    }
    out.append(value.data() + runStart, value.size() - runStart);
    out.push_back('"');
}

void appendTomlField(std::string &out, std::string_view key, std::string_view value) {
    out.append(key);
    out.append(" = ");
    appendTomlString(out, value);
    out.push_back('\n');
}

}  // namespace quorlina

namespace quorlina::frontmatter {

namespace {

using toml::npos;

// The change in bracket depth over `s`, not counting brackets inside
// quoted strings or after a comment sign.
int bracketDepth(std::string_view s) noexcept {
    int depth = 0;
    char quote = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (quote != 0) {
            if (c == '\\' && quote == '"') ++i;
            else if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '#') {
            break;
        } else if (c == '[') {
            ++depth;
        } else if (c == ']') {
            --depth;
        }
    }
    return depth;
}

// The key of an item as the line rules compare it: a quoted TOML key
// without escapes by its text inside the quotes.
std::string_view plainKey(std::string_view text, const Item &item) noexcept {
    std::string_view k = item.key(text);
    if (item.tomlKey && item.keyShape.quoted && !item.keyShape.escaped && !item.keyShape.dotted && k.size() >= 2)
        return k.substr(1, k.size() - 2);
    return k;
}

// The end of line `from` lies on: its LF, or the end of `s`.
std::size_t lineStop(std::string_view s, std::size_t from) noexcept {
    std::size_t nl = s.find('\n', from);
    return nl == npos ? s.size() : nl;
}

struct WalkResult {
    std::size_t close = npos;
    bool ranOut = false;
};

// How the text after a value or header ends.
enum class Tail : std::uint8_t { Line, Close, Bad };

// Walks the block of `s` item by item. With `discover`, finds where the
// block closes (and hands on nothing); else `s` ends at the close and every
// item goes to `sink`.
WalkResult walk(std::string_view s, bool discover, OpensLines opensLines, const ItemSink *sink) {
    toml::Lexer lex(s, discover);
    bool inTable = false;
    std::size_t pos = kDelimiter.size();

    // Whether the delimiter starts at `at`; one cut by the end of the text
    // might.
    auto delimiterAt = [&](std::size_t at) {
        if (!discover) return false;
        std::string_view rest = s.substr(at, 3);
        if (rest.size() < 3 && kDelimiter.starts_with(rest)) lex.ranOutAt(s.size());
        return rest == kDelimiter;
    };
    // After a value or a header: blanks, a comment, then the line break.
    auto tail = [&](std::size_t x, std::size_t &at) {
        std::size_t y = lex.skipBlanks(x);
        if (delimiterAt(y)) {
            at = y;
            return Tail::Close;
        }
        if (y < s.size() && s[y] == '#') {
            std::size_t z = lex.comment(y);
            if (z == npos) {
                if (discover && lex.delimiterInComment() != npos) {
                    at = lex.delimiterInComment();
                    return Tail::Close;
                }
                return Tail::Bad;
            }
            y = z;
        }
        if (y == s.size() || lex.lineBreakAt(y) != 0) {
            at = y;
            return Tail::Line;
        }
        return Tail::Bad;
    };

    while (pos < s.size()) {
        Item it;
        it.begin = pos;
        it.inTable = inTable;
        lex.clearDelimiterInComment();
        const std::size_t i = lex.skipBlanks(pos);
        if (delimiterAt(i)) return {i, lex.ranOut()};
        if (i == s.size() || lex.lineBreakAt(i) != 0) {
            it.valid = true;
            it.breakAt = i;
            it.end = i + lex.lineBreakAt(i);
            if (sink) (*sink)(it);
            pos = it.end;
            continue;
        }

        // The item as TOML.
        std::size_t stop = npos;  // where its line break starts, when it is TOML
        Tail how = Tail::Bad;
        const char c = s[i];
        if (c == '#') {
            std::size_t e = lex.comment(i);
            if (e != npos) {
                stop = e;
                how = Tail::Line;
            } else if (discover && lex.delimiterInComment() != npos) {
                return {lex.delimiterInComment(), lex.ranOut()};
            }
        } else if (c == '[') {
            inTable = it.inTable = true;
            it.kind = Item::Kind::Header;
            std::size_t e = lex.header(i);
            if (e != npos) how = tail(e, stop);
        } else {
            it.kind = Item::Kind::Key;
            std::size_t e = lex.key(i, it.keyShape);
            std::size_t j = e == npos ? npos : lex.skipBlanks(e);
            if (j != npos) lex.ranOutAt(j);
            if (j < s.size() && s[j] == '=') {
                it.tomlKey = true;
                it.keyBegin = i;
                it.keyEnd = e;
                it.valueBegin = lex.skipBlanks(j + 1);
                std::size_t ve = lex.value(it.valueBegin, it.valueKind);
                if (ve != npos) {
                    it.valueEnd = ve;
                    how = tail(ve, stop);
                }
            }
        }
        if (how == Tail::Close) return {stop, lex.ranOut()};
        if (how == Tail::Line) {
            it.valid = true;
            it.breakAt = stop;
            it.end = stop + lex.lineBreakAt(stop);
            if (sink) (*sink)(it);
            pos = it.end;
            continue;
        }

        // Not TOML: the line rules. The item is its line, or, for a key
        // whose value opens an array, the lines up to where that ends.
        std::size_t ls = lineStop(s, pos);
        if (discover) {
            std::size_t k = s.substr(0, ls).find(kDelimiter, pos);
            if (k != npos) return {k, lex.ranOut()};
        }
        it.valid = false;
        const std::string_view line = text::trim(s.substr(pos, ls - pos), text::isW4);
        const std::size_t lineEnd = static_cast<std::size_t>(line.data() - s.data()) + line.size();
        if (line.empty() || line.front() == '#') {
            it.kind = Item::Kind::Blank;
        } else if (line.front() == '[') {
            it.kind = Item::Kind::Header;
            inTable = it.inTable = true;
        } else if (it.inTable || line.find('=') == npos) {
            it.kind = Item::Kind::Other;
        } else {
            it.kind = Item::Kind::Key;
            std::size_t eq;
            if (it.tomlKey) {
                eq = lex.skipBlanks(it.keyEnd);
            } else {
                eq = static_cast<std::size_t>(line.data() - s.data()) + line.find('=');
                std::string_view k = text::trim(s.substr(pos, eq - pos), text::isW4);
                it.keyBegin = static_cast<std::size_t>(k.data() - s.data());
                it.keyEnd = it.keyBegin + k.size();
                it.keyShape = {};
            }
            it.valueBegin = std::min(lex.skipBlanks(eq + 1), lineEnd);
            it.valueEnd = lineEnd;
        }
        auto advance = [&](std::size_t stopAt) {
            it.end = stopAt < s.size() ? stopAt + 1 : s.size();
            it.breakAt = (stopAt < s.size() && stopAt > it.begin && s[stopAt - 1] == '\r') ? stopAt - 1 : stopAt;
        };
        advance(ls);
        if (it.kind == Item::Kind::Key && !it.inTable) {
            const std::string_view v = it.value(s);
            bool toBracketLine = opensLines != nullptr && opensLines(plainKey(s, it), v);
            int depth = (!toBracketLine && v.starts_with('[')) ? bracketDepth(v) : 0;
            while ((toBracketLine || depth > 0) && it.end < s.size()) {
                const std::size_t from = it.end;
                ls = lineStop(s, from);
                if (discover) {
                    std::size_t k = s.substr(0, ls).find(kDelimiter, from);
                    if (k != npos) return {k, lex.ranOut()};
                }
                const std::string_view next = text::trim(s.substr(from, ls - from), text::isW4);
                if (toBracketLine) {
                    if (!next.empty() && next.front() == ']') toBracketLine = false;
                } else {
                    depth += bracketDepth(next);
                }
                advance(ls);
            }
        }
        if (sink) (*sink)(it);
        pos = it.end;
    }
    return {npos, lex.ranOut()};
}

// Whether s[from..) holds three double quotes or three apostrophes in a
// row: sixteen places at a time where SSE2 is present (each place tested
// with the two bytes after it), the rest byte by byte.
bool hasTripleQuote(std::string_view s, std::size_t from) noexcept {
    const char *p = s.data();
    const std::size_t n = s.size();
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i dq = _mm_set1_epi8('"');
    const __m128i sq = _mm_set1_epi8('\'');
    auto at = [&](std::size_t k) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + k)); };
    for (; i + 18 <= n; i += 16) {
        const __m128i a = at(i), b = at(i + 1), c = at(i + 2);
        // The places where `q` starts three of itself.
        auto three = [&](__m128i q) {
            return _mm_and_si128(_mm_cmpeq_epi8(a, q), _mm_and_si128(_mm_cmpeq_epi8(b, q), _mm_cmpeq_epi8(c, q)));
        };
        if (_mm_movemask_epi8(_mm_or_si128(three(dq), three(sq))) != 0) return true;
    }
#endif
    for (; i + 3 <= n; ++i) {
        if ((p[i] == '"' || p[i] == '\'') && p[i + 1] == p[i] && p[i + 2] == p[i]) return true;
    }
    return false;
}

// Whether the first "+++" after the opening one, at `first`, closes the
// block without a walk: it starts a line, and no multi-line string (the
// only kind of value that can hold a line start) opens before it.
bool closesPlainly(std::string_view text, std::size_t first) noexcept {
    if (first != kDelimiter.size() && text[first - 1] != '\n') return false;
    return !hasTripleQuote(text.substr(0, first), kDelimiter.size());
}

}  // namespace

std::size_t findClose(std::string_view text, OpensLines opensLines) {
    const std::size_t first = text.find(kDelimiter, kDelimiter.size());
    if (first == npos || closesPlainly(text, first)) return first;
    WalkResult r = walk(text, true, opensLines, nullptr);
    return r.close != npos ? r.close : first;
}

bool closeSettled(std::string_view head, OpensLines opensLines) noexcept {
    if (head.size() < kDelimiter.size()) return false;
    if (head.substr(0, kDelimiter.size()) != kDelimiter) return true;
    const std::size_t first = head.find(kDelimiter, kDelimiter.size());
    if (first == npos) return false;
    if (closesPlainly(head, first)) return true;
    WalkResult r = walk(head, true, opensLines, nullptr);
    return r.close != npos && !r.ranOut;
}

}  // namespace quorlina::frontmatter

namespace quorlina::text {

bool frontMatterSettled(std::string_view head) noexcept { return frontmatter::closeSettled(head); }

}  // namespace quorlina::text

namespace quorlina::frontmatter {

void walkItems(std::string_view text, std::size_t close, OpensLines opensLines, const ItemSink &onItem) {
    walk(text.substr(0, close), false, opensLines, &onItem);
}

std::string_view topLevelKey(std::string_view text, const Item &item, std::string &scratch) {
    if (!item.isTopLevelKey()) return {};
    if (!item.tomlKey || !item.keyShape.quoted || !item.keyShape.escaped) return plainKey(text, item);
    scratch.clear();
    toml::appendDecoded(item.key(text), toml::ValueKind::BasicString, scratch);
    return scratch;
}

bool keyIs(std::string_view text, const Item &item, std::string_view name) {
    if (!item.isTopLevelKey()) return false;
    std::string scratch;
    return topLevelKey(text, item, scratch) == name;
}

void appendLoose(std::string_view v, std::string &out) {
    out.reserve(out.size() + v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (c == '\\' && i + 1 < v.size() && (v[i + 1] == '"' || v[i + 1] == '\\')) c = v[++i];
        out.push_back(c);
    }
}

void appendValue(std::string_view text, const Item &item, LooseQuotes loose, std::string &out) {
    std::string_view v = item.value(text);
    if (item.valid) {
        toml::appendDecoded(v, item.valueKind, out);
        return;
    }
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
        v = v.substr(1, v.size() - 2);
    } else if (loose == LooseQuotes::AlsoEscaped && v.size() >= 4 && v.starts_with("\\\"") && v.ends_with("\\\"")) {
        v = v.substr(2, v.size() - 4);
    }
    appendLoose(v, out);
}

bool blockIsBlank(std::string_view text, std::size_t close) noexcept {
    return text::trim(text.substr(kDelimiter.size(), close - kDelimiter.size()), text::isW4).empty();
}

// ----------------------------------------------------------------- editor

namespace {

// The writer's form of a list: ["a", "b"].
std::string writerList(const std::vector<std::string> &values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out.append(", ");
        appendTomlString(out, values[i]);
    }
    out.push_back(']');
    return out;
}

struct ListItem {
    toml::ArrayItem at;
    bool keep = true;
};

bool isBlank(char c) noexcept { return c == ' ' || c == '\t'; }

// Whether the item at `begin` in `a` is the first thing on its line, below
// the line that opens the array.
bool startsLine(std::string_view a, std::size_t begin) noexcept {
    std::size_t i = begin;
    while (i > 0 && isBlank(a[i - 1])) --i;
    return i > 0 && a[i - 1] == '\n';
}

// When nothing but the item's comma, blanks and a comment follows the item
// on its line: the offset after that line's break; else npos.
std::size_t lineAfter(std::string_view a, const toml::ArrayItem &item) noexcept {
    toml::Lexer lex(a);
    std::size_t i = lex.skipBlanks(item.end);
    if (item.comma != npos) {
        if (i != item.comma) return npos;
        i = lex.skipBlanks(i + 1);
    }
    if (i < a.size() && a[i] == '#') i = lex.comment(i);
    if (i == npos) return npos;
    std::size_t br = lex.lineBreakAt(i);
    return br == 0 ? npos : i + br;
}

// Where a line that `begin` lies on starts.
std::size_t lineStartOf(std::string_view a, std::size_t begin) noexcept {
    std::size_t nl = a.rfind('\n', begin == 0 ? 0 : begin - 1);
    return (nl == npos || nl >= begin) ? 0 : nl + 1;
}

struct Cut {
    std::size_t begin, end;
    std::string with;
};

std::string applyCuts(std::string_view a, std::vector<Cut> cuts) {
    std::stable_sort(cuts.begin(), cuts.end(),
                     [](const Cut &x, const Cut &y) { return x.begin != y.begin ? x.begin < y.begin : x.end < y.end; });
    std::string out;
    out.reserve(a.size() + 64);
    std::size_t pos = 0;
    for (const Cut &c : cuts) {
        out.append(a.substr(pos, c.begin - pos));
        out.append(c.with);
        pos = c.end;
    }
    out.append(a.substr(pos));
    return out;
}

// The items of `a` (an array value) that go leave with their separators:
// a run of them on lines of their own goes with those lines, one at the
// end of a line with the rest of that line; else up to the next item that
// stays, or back to the one before.
std::string dropItems(std::string_view a, const std::vector<ListItem> &items) {
    std::vector<Cut> cuts;
    const std::size_t n = items.size();
    for (std::size_t first = 0; first < n;) {
        if (items[first].keep) {
            ++first;
            continue;
        }
        std::size_t last = first;
        while (last + 1 < n && !items[last + 1].keep) ++last;
        const toml::ArrayItem &f = items[first].at;
        const toml::ArrayItem &l = items[last].at;
        const std::size_t after = lineAfter(a, l);
        if (startsLine(a, f.begin) && after != npos) {
            cuts.push_back({lineStartOf(a, f.begin), after, {}});
        } else if (first > 0 && after != npos) {
            // After an item that stays, up to the end of the line.
            std::size_t breakAt = after - (a[after - 2] == '\r' ? 2 : 1);
            cuts.push_back({items[first - 1].at.comma + 1, breakAt, {}});
        } else if (last + 1 < n) {
            cuts.push_back({f.begin, after != npos ? after : items[last + 1].at.begin, {}});
        } else if (first > 0) {
            const toml::ArrayItem &p = items[first - 1].at;
            std::string_view between = a.substr(p.end, f.begin - p.end);
            if (between.find_first_of("#\n") == npos) {
                cuts.push_back({p.end, l.end, {}});
            } else if (l.comma != npos) {
                cuts.push_back({f.begin, l.comma + 1, {}});
            } else {
                cuts.push_back({p.comma, p.comma + 1, {}});
                cuts.push_back({f.begin, l.end, {}});
            }
        } else {
            cuts.push_back({f.begin, l.end, {}});
        }
        first = last + 1;
    }
    return applyCuts(a, std::move(cuts));
}

// `work` is the line of the array's key up to the array, then the array
// (from offset `at`); the text of the array with `added` after its last
// item, in its layout.
std::string appendItems(const std::string &work, std::size_t at, const std::vector<std::string> &added) {
    std::string_view a = work;
    std::vector<toml::ArrayItem> items;
    const std::size_t closeAt =
        toml::forEachArrayItem(a, at, [&](const toml::ArrayItem &i) { items.push_back(i); });
    const bool multiLine = a.substr(at).find('\n') != npos;
    const std::string_view brk = a.substr(at).find("\r\n") != npos ? "\r\n" : "\n";
    std::vector<Cut> cuts;
    auto quoted = [](std::string_view v) {
        std::string q;
        appendTomlString(q, v);
        return q;
    };
    if (items.empty()) {
        if (!multiLine && a.substr(at).find('#') == npos) return writerList(added);
        // Own lines after the opening bracket's line, indented past the
        // key's line.
        toml::Lexer lex(a);
        std::size_t i = lex.skipBlanks(at + 1);
        if (i < a.size() && a[i] == '#') i = lex.comment(i);
        std::size_t br = i == npos ? 0 : lex.lineBreakAt(i);
        std::string with;
        if (br == 0 || i > closeAt) {
            for (std::size_t k = 0; k < added.size(); ++k) with.append(k ? ", " : "").append(quoted(added[k]));
            cuts.push_back({at + 1, at + 1, with});
        } else {
            std::size_t ls = lineStartOf(a, at);
            std::string indent(a.substr(ls, lex.skipBlanks(ls) - ls));
            indent.append("  ");
            for (const auto &v : added) with.append(indent).append(quoted(v)).append(",").append(brk);
            cuts.push_back({i + br, i + br, with});
        }
        return applyCuts(a, std::move(cuts)).substr(at);
    }
    const toml::ArrayItem &last = items.back();
    if (!multiLine) {
        std::string with;
        for (const auto &v : added) with.append(", ").append(quoted(v));
        cuts.push_back({last.end, last.end, with});
        return applyCuts(a, std::move(cuts)).substr(at);
    }
    // The previous item's indentation: the blanks before it when it starts
    // its line; on the key's line, as far in as it stands.
    const std::size_t ls = lineStartOf(a, last.begin);
    std::string indent;
    if (ls == 0) {
        for (std::size_t k = 0; k < last.begin; ++k) indent.push_back(a[k] == '\t' ? '\t' : ' ');
    } else {
        indent.assign(a.substr(ls, toml::Lexer(a).skipBlanks(ls) - ls));
    }
    // New lines go after the last item's line, its comma and comment
    // included; a last item without a comma gets one.
    toml::Lexer lex(a);
    const bool trailingComma = last.comma != npos;
    std::size_t from = trailingComma ? last.comma + 1 : last.end;
    std::size_t p = lex.skipBlanks(from);
    if (p < a.size() && a[p] == '#') p = lex.comment(p);
    const std::size_t insertAt = (p != npos && lex.lineBreakAt(p) != 0) ? p : from;
    if (!trailingComma) cuts.push_back({last.end, last.end, ","});
    std::string with;
    for (std::size_t k = 0; k < added.size(); ++k) {
        with.append(brk).append(indent).append(quoted(added[k]));
        if (trailingComma || k + 1 < added.size()) with.push_back(',');
    }
    cuts.push_back({insertAt, insertAt, with});
    return applyCuts(a, std::move(cuts)).substr(at);
}


// The array value of `item` with all its `items` replaced by `values`:
// on one line as the writer puts them, or one per line with the first
// item's indentation.
std::string replaceItems(std::string_view text, const Item &item, const std::vector<ListItem> &items,
                         const std::vector<std::string> &values) {
    const std::string_view a = item.value(text);
    const toml::ArrayItem &f = items.front().at;
    const toml::ArrayItem &l = items.back().at;
    std::string sep = ", ";
    if (a.find('\n') != npos) {
        const std::size_t abs = item.valueBegin + f.begin;
        std::size_t ls = text.rfind('\n', abs - 1);
        ls = (ls == npos || ls < item.begin) ? item.begin : ls + 1;
        std::string_view before = text.substr(ls, abs - ls);
        sep = ",";
        sep.append(a.find("\r\n") != npos ? "\r\n" : "\n");
        if (text::trimLeft(before, isBlank).empty()) {
            sep.append(before);
        } else {
            for (char c : before) sep.push_back(c == '\t' ? '\t' : ' ');
        }
    }
    std::string with;
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (k) with.append(sep);
        appendTomlString(with, values[k]);
    }
    return applyCuts(a, {{f.begin, l.end, with}});
}
}  // namespace

BlockEditor::BlockEditor(std::string_view text, std::size_t close, OpensLines opensLines,
                         std::vector<std::string_view> managed)
    : text_(text), close_(close), managed_(std::move(managed)) {
    forEachItem(text, close, opensLines, [&](const Item &i) { items_.push_back(i); });
}

void BlockEditor::removeItem(const Item &item) { edits_.push_back({item.begin, item.end, {}}); }

void BlockEditor::replaceValue(const Item &item, std::string_view key, std::string_view raw) {
    if (item.valid) {
        edits_.push_back({item.valueBegin, item.valueEnd, std::string(raw)});
        return;
    }
    // A line that is not TOML is written anew, keeping its line break.
    std::string line(key);
    line.append(" = ").append(raw);
    edits_.push_back({item.begin, item.breakAt, std::move(line)});
}

void BlockEditor::add(std::string_view key, std::string_view raw, Place place) {
    std::string line(key);
    line.append(" = ").append(raw);
    (place == Place::AfterLastKey ? addedAtEnd_ : added_).push_back(std::move(line));
}

void BlockEditor::set(std::string_view key, std::string_view raw, Takes takes, Place place) {
    const Item *taken = nullptr;
    for (const Item &it : items_)
        if (keyIs(text_, it, key) && (takes == nullptr || takes(text_, it))) taken = &it;
    for (const Item &it : items_)
        if (&it != taken && keyIs(text_, it, key)) removeItem(it);
    if (taken) {
        replaceValue(*taken, key, raw);
    } else {
        add(key, raw, place);
    }
}

void BlockEditor::remove(std::string_view key) {
    for (const Item &it : items_)
        if (keyIs(text_, it, key)) removeItem(it);
}

void BlockEditor::setList(std::string_view key, const std::vector<std::string> &values) {
    const Item *array = nullptr;
    std::size_t arrays = 0;
    for (const Item &it : items_) {
        if (!keyIs(text_, it, key) || !it.valueIsArray(text_)) continue;
        if (!array) array = &it;
        ++arrays;
    }
    if (arrays != 1 || !array->valid) {
        // The first array takes the writer's list; the other occurrences go.
        for (const Item &it : items_)
            if (&it != array && keyIs(text_, it, key)) removeItem(it);
        if (array) {
            replaceValue(*array, key, writerList(values));
        } else {
            add(key, writerList(values));
        }
        return;
    }
    for (const Item &it : items_)
        if (&it != array && keyIs(text_, it, key)) removeItem(it);

    // Item by item: the items that read as the wanted values in order stay,
    // the others go, and the wanted values left over follow the last item.
    const std::string_view a = array->value(text_);
    std::vector<ListItem> items;
    std::size_t next = 0;
    std::string s;
    toml::forEachArrayItem(a, 0, [&](const toml::ArrayItem &i) {
        s.clear();
        toml::appendDecoded(a.substr(i.begin, i.end - i.begin), i.kind, s);
        ListItem item{i, true};
        if (!s.empty()) {
            if (next < values.size() && s == values[next]) {
                ++next;
            } else {
                item.keep = false;
            }
        }
        items.push_back(item);
    });
    const std::vector<std::string> added(values.begin() + static_cast<std::ptrdiff_t>(next), values.end());
    std::string edited;
    const bool replacedAll =
        !items.empty() && std::none_of(items.begin(), items.end(), [](const ListItem &i) { return i.keep; });
    if (replacedAll) {
        // Nothing stays: the new items take the old ones' place.
        edited = replaceItems(text_, *array, items, added);
    } else {
        edited = dropItems(a, items);
    }
    if (!added.empty() && !replacedAll) {
        std::size_t ls = text_.rfind('\n', array->valueBegin);
        ls = (ls == npos || ls < array->begin) ? array->begin : ls + 1;
        std::string work(text_.substr(ls, array->valueBegin - ls));
        const std::size_t at = work.size();
        work.append(edited);
        edited = appendItems(work, at, added);
    }
    if (edited != a) edits_.push_back({array->valueBegin, array->valueEnd, std::move(edited)});
}

// Adds the edit that inserts `lines` after the item `anchor` (in its line
// break), or at the top of the block when there is none.
void BlockEditor::insertAdded(std::vector<Edit> &edits, const Item *anchor, const std::vector<std::string> &lines) const {
    std::string with;
    std::size_t at;
    if (anchor) {
        at = anchor->end;
        std::string_view brk = anchor->lineBreak(text_);
        bool dropped = std::any_of(edits.begin(), edits.end(), [&](const Edit &e) {
            return e.begin == anchor->begin && e.end == anchor->end && e.with.empty();
        });
        for (const std::string &line : lines) {
            if (brk.empty() && !dropped) {
                with.append("\n").append(line);
            } else {
                with.append(line).append(brk.empty() ? std::string_view("\n") : brk);
            }
        }
    } else {
        // At the top: after the rest of the "+++" line.
        std::size_t firstBreak = text_.find('\n', kDelimiter.size());
        if (firstBreak != npos && firstBreak < close_) {
            at = firstBreak + 1;
            std::string_view brk = text_[firstBreak - 1] == '\r' ? "\r\n" : "\n";
            for (const std::string &line : lines) with.append(line).append(brk);
        } else {
            at = close_;
            for (const std::string &line : lines) with.append("\n").append(line);
            with.append("\n");
        }
    }
    edits.push_back({at, at, std::move(with)});
}

std::string BlockEditor::block() const {
    std::vector<Edit> edits = edits_;
    if (!added_.empty()) {
        const Item *anchor = nullptr;
        for (const Item &it : items_)
            for (std::string_view m : managed_)
                if (keyIs(text_, it, m)) anchor = &it;
        insertAdded(edits, anchor, added_);
    }
    if (!addedAtEnd_.empty()) {
        // The last key of the top level (dotted ones too): a key added after
        // a table header would belong to that table.
        const Item *anchor = nullptr;
        for (const Item &it : items_)
            if (it.kind == Item::Kind::Key && !it.inTable) anchor = &it;
        insertAdded(edits, anchor, addedAtEnd_);
    }
    std::stable_sort(edits.begin(), edits.end(),
                     [](const Edit &x, const Edit &y) { return x.begin != y.begin ? x.begin < y.begin : x.end < y.end; });
    std::string out;
    out.reserve(close_ + kDelimiter.size() + 256);
    std::size_t pos = 0;
    for (const Edit &e : edits) {
        out.append(text_.substr(pos, e.begin - pos));
        out.append(e.with);
        pos = e.end;
    }
    out.append(text_.substr(pos, close_ + kDelimiter.size() - pos));
    return out;
}

}  // namespace quorlina::frontmatter
