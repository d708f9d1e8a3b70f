// What the three front-matter formats share: the "+++" block, its lines as
// the readers see them, TOML string writing, and the format-preserving
// rewrite of a block that an update uses.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Offset of the "+++" that closes the block of `text`, which starts with
// "+++": the next "+++" anywhere after the opening one; npos when there is
// none.
inline std::size_t findClose(std::string_view text) noexcept { return text.find(kDelimiter, kDelimiter.size()); }

// One unit of a block: a line, or a key line together with the continuation
// lines of a value that spans lines.
struct Unit {
    std::size_t begin = 0;   // offset in the text
    std::size_t end = 0;     // offset after its last line break (or at the close)
    std::string_view key;    // trimmed key; empty for blank, comment and other lines
    std::string_view value;  // trimmed value on the key's line
    bool inTable = false;    // a table header ("[params]") or a line after one
};

// Whether the value of `key` opens an array that the reader continues on
// the following lines, until a line starting with "]".
using OpensLines = bool (*)(std::string_view key, std::string_view value);

// Hands each unit of the inside of the block of `text` (from after the
// opening "+++" to `close`) to `onUnit`, in order, as the readers walk it:
// lines are trimmed of blanks and CR; blank lines and lines starting with
// "#" carry no key; a key line is "key = value". A line starting with "["
// that is not inside a value is a table header: it and everything after it
// belong to that table.
template <class OnUnit>
void forEachUnit(std::string_view text, std::size_t close, OpensLines opensLines, OnUnit &&onUnit);

// The units of a block (see forEachUnit).
std::vector<Unit> splitBlock(std::string_view text, std::size_t close, OpensLines opensLines = nullptr);

// The readers' loop: calls onKey(unit) for every key line of the block, in
// order, outside any table.
template <class OnKey>
void forEachKey(std::string_view text, std::size_t close, OpensLines opensLines, OnKey &&onKey) {
    forEachUnit(text, close, opensLines, [&](const Unit &u) {
        if (!u.key.empty()) onKey(u);
    });
}

// A change to one managed key: its new line ("key = value", without a line
// break), or nothing to remove the key.
struct KeyChange {
    std::string_view key;
    std::optional<std::string> line;
};

// Which occurrences of a key the reader takes: the index among the key's
// units (outside tables) of the one an update replaces; npos when the
// reader takes none of them.
using TakenUnit = std::size_t (*)(std::string_view key, const std::vector<const Unit *> &occurrences);

// The start of `text` up to and including its closing "+++", with the
// block rewritten for `changes` (the caller appends what follows). Only the lines of changed keys change: the
// unit the reader took is replaced in place (keeping its line break), the
// key's other units go, and a key that had none is added after the last
// unit of any key in `managed` (or at the top of the block), in the order
// of `changes`. Everything else stays byte for byte.
std::string rewriteBlock(std::string_view text, std::size_t close, const std::vector<Unit> &units,
                         const std::vector<std::string_view> &managed, const std::vector<KeyChange> &changes,
                         TakenUnit taken);

// A callback that takes a unit without owning it.
class UnitSink {
public:
    template <class F>
    UnitSink(F &f) noexcept  // NOLINT: implicit by design
        : object_(&f), call_([](void *o, const Unit &u) { (*static_cast<F *>(o))(u); }) {}
    void operator()(const Unit &u) const { call_(object_, u); }

private:
    void *object_;
    void (*call_)(void *, const Unit &);
};

// The walk behind forEachUnit.
void walkBlock(std::string_view text, std::size_t close, OpensLines opensLines, const UnitSink &onUnit);

template <class OnUnit>
void forEachUnit(std::string_view text, std::size_t close, OpensLines opensLines, OnUnit &&onUnit) {
    walkBlock(text, close, opensLines, UnitSink(onUnit));
}

// Whether the block of `text` has no line but blanks.
bool blockIsBlank(std::string_view text, std::size_t close) noexcept;

}  // namespace quorlina::frontmatter
