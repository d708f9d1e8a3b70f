// What the three front-matter formats share: the "+++" block and where it
// closes, its items as the TOML lexer (core/toml_lexer.hpp) reads them, the
// values of their keys, TOML string writing, and the format-preserving
// editor that updates use.
//
// A block is read as TOML 1.0 reads it, item by item. An item that is not
// valid TOML (a bare value such as `title = Hello`, a tags array with bare
// items, a line without "=") is read by the line rules the library has
// always had, so files written for them read as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/toml_lexer.hpp"

namespace quorlina {

// Appends `value` as a TOML basic string: in double quotes, with '"' and '\'
// escaped by a backslash and every other byte as it is.
void appendTomlString(std::string &out, std::string_view value);

// Appends one front-matter line: key, " = ", the value as a TOML string
// and LF.
void appendTomlField(std::string &out, std::string_view key, std::string_view value);

}  // namespace quorlina

namespace quorlina::frontmatter {

inline constexpr std::string_view kDelimiter = "+++";

// Whether a key line that is not valid TOML, with this key and value,
// opens an array that runs to a line starting with "]" (the posts' rule for
// their tags). Without it such an array runs to the line that closes its
// brackets.
using OpensLines = bool (*)(std::string_view key, std::string_view value);

// The offset of the "+++" that closes the block of `text`, which starts
// with "+++", or npos when there is none. The block closes at the first
// "+++" after the opening one that is not inside a closed string of a
// valid TOML item: "+++" inside a string value or a quoted key does not
// close it; anywhere else (a comment, an item that is not TOML) it does.
// When that finds no close, the block closes at the next "+++" anywhere.
std::size_t findClose(std::string_view text, OpensLines opensLines = nullptr);

// Whether the start `head` of a file settles where its block closes, so
// that reading more could not change it: the text does not start with
// "+++", or findClose's answer lies within `head` and nothing it looked at
// was cut by the end of `head`.
bool closeSettled(std::string_view head, OpensLines opensLines = nullptr) noexcept;

// One item of a block: a blank or comment line, a key with its value, a
// table header, or another line. Offsets are into the whole text.
struct Item {
    enum class Kind : std::uint8_t { Blank, Key, Header, Other };
    Kind kind = Kind::Blank;
    bool valid = false;    // lexed as TOML, line break included
    bool inTable = false;  // a table header, or an item after one
    bool tomlKey = false;  // the key lexed as a TOML key (else the text before "=")
    toml::KeyShape keyShape;
    toml::ValueKind valueKind = toml::ValueKind::Scalar;  // of a valid key item
    std::size_t begin = 0;    // the start of its first line
    std::size_t end = 0;      // after its line break, or at the close
    std::size_t breakAt = 0;  // where its line break starts (end when it has none)
    std::size_t keyBegin = 0, keyEnd = 0;      // the key as written
    std::size_t valueBegin = 0, valueEnd = 0;  // the value as written (on the key's line when not TOML)

    std::string_view key(std::string_view text) const noexcept { return text.substr(keyBegin, keyEnd - keyBegin); }
    std::string_view value(std::string_view text) const noexcept {
        return text.substr(valueBegin, valueEnd - valueBegin);
    }
    std::string_view lineBreak(std::string_view text) const noexcept { return text.substr(breakAt, end - breakAt); }
    // A key of the block's own top level (not in a table, not dotted).
    bool isTopLevelKey() const noexcept { return kind == Kind::Key && !inTable && !keyShape.dotted; }
    // Whether the value is an array (as TOML reads it, or "[..." when the
    // item is not TOML).
    bool valueIsArray(std::string_view text) const noexcept {
        return valid ? valueKind == toml::ValueKind::Array : value(text).starts_with('[');
    }
};

// Whether `item` is a top-level key named `name`: bare, or quoted with the
// same text once its escapes are read.
bool keyIs(std::string_view text, const Item &item, std::string_view name);

// The name of a top-level key item (its text, or a quoted key's string,
// decoded into `scratch` when it holds escapes); empty for any other item.
std::string_view topLevelKey(std::string_view text, const Item &item, std::string &scratch);

// A callback that takes an item without owning it.
class ItemSink {
public:
    template <class F>
    ItemSink(F &f) noexcept  // NOLINT: implicit by design
        : object_(&f), call_([](void *o, const Item &i) { (*static_cast<F *>(o))(i); }) {}
    void operator()(const Item &i) const { call_(object_, i); }

private:
    void *object_;
    void (*call_)(void *, const Item &);
};

// Hands each item of the block of `text` (from after the opening "+++" to
// `close`, as findClose gave it) to `onItem`, in order.
void walkItems(std::string_view text, std::size_t close, OpensLines opensLines, const ItemSink &onItem);

template <class OnItem>
void forEachItem(std::string_view text, std::size_t close, OpensLines opensLines, OnItem &&onItem) {
    walkItems(text, close, opensLines, ItemSink(onItem));
}

// How a value that is not valid TOML loses its quotes: one pair of double
// quotes, or also (for snippets) one pair of backslash-quotes.
enum class LooseQuotes : std::uint8_t { Plain, AlsoEscaped };

// Appends `v` with \" read as " and \\ as \; any other backslash stays.
void appendLoose(std::string_view v, std::string &out);

// Appends the string the value of a key item reads as. A TOML string is
// decoded; another TOML value reads as its text. A value that is not TOML
// loses one pair of surrounding quotes (see LooseQuotes), then \" stands for
// " and \\ for \; any other backslash stays.
void appendValue(std::string_view text, const Item &item, LooseQuotes loose, std::string &out);

// A string list (the items of a TOML array) as the readers take it: a
// string item is its decoded string, another item its TOML text; empty
// strings are no items. Calls onString(std::string &&) for each.
template <class OnString>
void forEachListString(std::string_view text, const Item &item, OnString &&onString) {
    std::string s;
    toml::forEachArrayItem(text, item.valueBegin, [&](const toml::ArrayItem &a) {
        s.clear();
        toml::appendDecoded(text.substr(a.begin, a.end - a.begin), a.kind, s);
        if (!s.empty()) onString(std::move(s));
    });
}

// Which occurrences of a key the family's reader takes a value from.
using Takes = bool (*)(std::string_view text, const Item &item);

// Edits a block the way a person would: only the values that change are
// rewritten, in their spans; the key as written, the spacing, comments,
// other keys, tables and the layout of arrays stay byte for byte.
class BlockEditor {
public:
    // `text` starts with a block closing at `close`; `managed` names the
    // keys the family manages: an added key goes after the last line of
    // the last of them, or at the top of the block when there is none.
    BlockEditor(std::string_view text, std::size_t close, OpensLines opensLines,
                std::vector<std::string_view> managed);

    // Sets `key` to the TOML value `raw` (for example "\"x\"", "true",
    // "2024-05-01"). The last occurrence that `takes` accepts (every
    // occurrence when `takes` is null) gets `raw` in its value span; when
    // that item is not TOML its line becomes "key = raw". Other occurrences
    // go. With no occurrence taken, "key = raw" is added at `place`.
    enum class Place : std::uint8_t {
        AfterManaged,  // after the last line of the last managed key
        AfterLastKey,  // after the last key of the top level, before any table
    };
    void set(std::string_view key, std::string_view raw, Takes takes = nullptr, Place place = Place::AfterManaged);

    // Removes every occurrence of `key`, each with its lines.
    void remove(std::string_view key);

    // Sets the string list `key` to `values` (non-empty). A single TOML
    // array is edited item by item: an item that stays is kept byte for
    // byte, one that goes leaves with its separator, and new ones follow the
    // last item in the array's own layout. Otherwise the first array takes
    // the writer's array and the other occurrences go.
    void setList(std::string_view key, const std::vector<std::string> &values);

    // The text from the start up to and including the closing "+++".
    std::string block() const;

private:
    struct Edit {
        std::size_t begin, end;
        std::string with;
    };
    void add(std::string_view key, std::string_view raw, Place place = Place::AfterManaged);
    void insertAdded(std::vector<Edit> &edits, const Item *anchor, const std::vector<std::string> &lines) const;
    void removeItem(const Item &item);
    void replaceValue(const Item &item, std::string_view key, std::string_view raw);

    std::string_view text_;
    std::size_t close_;
    std::vector<Item> items_;
    std::vector<std::string_view> managed_;
    std::vector<Edit> edits_;
    std::vector<std::string> added_;         // lines of added keys, in order
    std::vector<std::string> addedAtEnd_;    // the same, placed after the last top-level key
};

// Whether the block of `text` has no line but blanks.
bool blockIsBlank(std::string_view text, std::size_t close) noexcept;

}  // namespace quorlina::frontmatter
