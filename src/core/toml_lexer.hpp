// A lexer for TOML 1.0, the language of the front-matter block. It checks
// that the text at an offset is a valid key, value, comment or table header
// and says where that ends; it builds nothing and allocates nothing. The
// front-matter layer (core/frontmatter.hpp) walks a block with it, and
// appendDecoded turns a string token it accepted into the string it stands
// for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorlina::toml {

inline constexpr std::size_t npos = std::string_view::npos;

enum class ValueKind : std::uint8_t {
    BasicString,         // "..."
    LiteralString,       // '...'
    MultiBasicString,    // """..."""
    MultiLiteralString,  // '''...'''
    Array,               // [...], over any number of lines
    InlineTable,         // {...}
    Scalar,              // integer, float, boolean, date or time
};

constexpr bool isString(ValueKind k) noexcept { return k <= ValueKind::MultiLiteralString; }

// How a key is written.
struct KeyShape {
    bool dotted = false;   // more than one part: a.b, "a".b
    bool quoted = false;   // a single part in quotes
    bool escaped = false;  // a basic-string part holding a backslash escape
};

// Lexes one text. Every lexing function takes the offset where its
// construct starts and returns the offset just after it, or npos when the
// text there is not that construct.
//
// With `watchDelimiter`, a comment that holds "+++" ends there: the lexer
// records the offset of that "+++" (delimiterInComment) and the comment
// fails, so whatever holds it fails too, except at the top level of a
// block, where the caller reads the record (see core/frontmatter.cpp).
class Lexer {
public:
    explicit Lexer(std::string_view text, bool watchDelimiter = false) noexcept
        : s_(text), watch_(watchDelimiter) {}

    std::string_view text() const noexcept { return s_; }

    // A key: bare (A-Z a-z 0-9 _ -), quoted ("..." or '...'), or dotted
    // from such parts with blanks around the dots.
    std::size_t key(std::size_t at, KeyShape &shape) noexcept;
    // A value of any kind.
    std::size_t value(std::size_t at, ValueKind &kind) noexcept;
    // A table header, [key] or [[key]], at its "[".
    std::size_t header(std::size_t at) noexcept;
    // A comment from its "#" to the line break (which it does not include).
    std::size_t comment(std::size_t at) noexcept;
    // Spaces, tabs, comments and line breaks, as between array items.
    std::size_t blanksCommentsAndBreaks(std::size_t at) noexcept;

    // Spaces and tabs.
    std::size_t skipBlanks(std::size_t at) const noexcept {
        while (at < s_.size() && (s_[at] == ' ' || s_[at] == '\t')) ++at;
        return at;
    }
    // The length of the line break at `at`: 1 for LF, 2 for CR LF, else 0.
    // A CR at the end of the text may be the start of one.
    std::size_t lineBreakAt(std::size_t at) noexcept {
        if (at < s_.size() && s_[at] == '\n') return 1;
        if (at < s_.size() && s_[at] == '\r') {
            if (at + 1 == s_.size()) ranOut_ = true;
            else if (s_[at + 1] == '\n') return 2;
        }
        return 0;
    }

    // Whether a construct was cut short by the end of the text, so that
    // more text could have changed the answer.
    bool ranOut() const noexcept { return ranOut_; }
    // Records that the caller's own look-ahead met the end of the text.
    void ranOutAt(std::size_t at) noexcept {
        if (at >= s_.size()) ranOut_ = true;
    }
    // Where the "+++" that ended a comment starts (see above), or npos.
    std::size_t delimiterInComment() const noexcept { return delimiter_; }
    void clearDelimiterInComment() noexcept { delimiter_ = npos; }

private:
    std::size_t simpleKey(std::size_t at, bool &escaped) noexcept;
    std::size_t basicString(std::size_t at, bool &escaped) noexcept;
    std::size_t literalString(std::size_t at) noexcept;
    std::size_t multiBasicString(std::size_t at) noexcept;
    std::size_t multiLiteralString(std::size_t at) noexcept;
    std::size_t array(std::size_t at) noexcept;
    std::size_t inlineTable(std::size_t at) noexcept;
    std::size_t scalar(std::size_t at) noexcept;
    std::size_t escape(std::size_t at) noexcept;
    std::size_t utf8(std::size_t at) noexcept;
    std::size_t end() noexcept {
        ranOut_ = true;
        return npos;
    }

    std::string_view s_;
    bool watch_;
    bool ranOut_ = false;
    std::size_t delimiter_ = npos;
    int depth_ = 0;
};

// Appends the string a string token stands for: `token` is the whole
// token, quotes included, as Lexer::value accepted it with `kind`. Escapes
// are decoded; a multi-line string loses the line break right after its
// opening quotes, reads its CR LF line breaks as LF, and a line-ending
// backslash drops the blanks and line breaks after it.
void appendDecoded(std::string_view token, ValueKind kind, std::string &out);

// Whether `s` is valid UTF-8 (shortest forms, no surrogates, at most
// U+10FFFF), as TOML requires of a document.
bool isValidUtf8(std::string_view s) noexcept;

// One item of an array value.
struct ArrayItem {
    std::size_t begin;  // the item's value as written
    std::size_t end;
    ValueKind kind;
    std::size_t comma;  // the "," after it, or npos
};

// Calls onItem(const ArrayItem &) for each item of the array value that
// starts at `open` (its "[") in `text`, which Lexer::value accepted there.
// Returns the offset of the array's "]".
template <class OnItem>
std::size_t forEachArrayItem(std::string_view text, std::size_t open, OnItem &&onItem) {
    Lexer lex(text);
    std::size_t at = lex.blanksCommentsAndBreaks(open + 1);
    while (at < text.size() && text[at] != ']') {
        ArrayItem item{at, 0, ValueKind::Scalar, npos};
        item.end = lex.value(at, item.kind);
        if (item.end == npos) return npos;  // not an array the lexer accepted
        at = lex.blanksCommentsAndBreaks(item.end);
        if (at < text.size() && text[at] == ',') {
            item.comma = at;
            at = lex.blanksCommentsAndBreaks(at + 1);
        }
        onItem(static_cast<const ArrayItem &>(item));
    }
    return at < text.size() ? at : npos;
}

}  // namespace quorlina::toml
