#include "core/frontmatter.hpp"

#include <optional>

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

}  // namespace

void walkBlock(std::string_view text, std::size_t close, OpensLines opensLines, const UnitSink &onUnit) {
    bool inTable = false;
    // A reader's array runs to a line starting with "]"; any other array
    // value to the line that closes its brackets.
    bool inArray = false;
    int depth = 0;
    // A unit is handed on once its continuation lines are known.
    std::optional<Unit> pending;
    std::size_t pos = kDelimiter.size();
    while (pos < close) {
        std::size_t nl = text.find('\n', pos);
        std::size_t end = (nl == std::string_view::npos || nl >= close) ? close : nl + 1;
        std::string_view line = text::trim(text.substr(pos, end - pos), text::isW4);
        Unit unit{pos, end, {}, {}, inTable};
        pos = end;
        if (inArray || depth > 0) {
            // A continuation line belongs to the unit of its key.
            pending->end = end;
            if (inArray) {
                if (!line.empty() && line.front() == ']') inArray = false;
            } else {
                depth += bracketDepth(line);
            }
            continue;
        }
        if (pending) onUnit(*pending);
        if (!inTable && !line.empty() && line.front() == '[') inTable = unit.inTable = true;
        if (!line.empty() && line.front() != '#' && !inTable) {
            std::size_t eq = line.find('=');
            if (eq != std::string_view::npos) {
                unit.key = text::trim(line.substr(0, eq), text::isW2);
                unit.value = text::trim(line.substr(eq + 1), text::isW2);
                if (opensLines != nullptr && opensLines(unit.key, unit.value)) {
                    inArray = true;
                } else if (unit.value.starts_with('[')) {
                    depth = bracketDepth(unit.value);
                }
            }
        }
        pending = unit;
    }
    if (pending) onUnit(*pending);
}

std::vector<Unit> splitBlock(std::string_view text, std::size_t close, OpensLines opensLines) {
    std::vector<Unit> units;
    forEachUnit(text, close, opensLines, [&](const Unit &u) { units.push_back(u); });
    return units;
}

namespace {

// The line break a unit ends with: "\r\n", "\n", or none at the close.
std::string_view lineBreakOf(std::string_view text, const Unit &u) noexcept {
    std::string_view s = text.substr(u.begin, u.end - u.begin);
    if (s.ends_with("\r\n")) return "\r\n";
    if (s.ends_with("\n")) return "\n";
    return {};
}

bool isManaged(const std::vector<std::string_view> &managed, std::string_view key) noexcept {
    for (std::string_view m : managed)
        if (m == key) return true;
    return false;
}

}  // namespace

std::string rewriteBlock(std::string_view text, std::size_t close, const std::vector<Unit> &units,
                         const std::vector<std::string_view> &managed, const std::vector<KeyChange> &changes,
                         TakenUnit taken) {
    // What happens to each unit: kept (npos), or replaced by change i
    // (dropped when the change has no line).
    constexpr std::size_t kKeep = std::string::npos;
    constexpr std::size_t kDrop = kKeep - 1;
    std::vector<std::size_t> fate(units.size(), kKeep);
    std::vector<bool> placed(changes.size(), false);
    std::size_t insertAfter = kKeep;  // the last unit of a managed key
    for (std::size_t i = 0; i < units.size(); ++i)
        if (!units[i].inTable && isManaged(managed, units[i].key)) insertAfter = i;

    for (std::size_t c = 0; c < changes.size(); ++c) {
        std::vector<const Unit *> occurrences;
        std::vector<std::size_t> indexes;
        for (std::size_t i = 0; i < units.size(); ++i) {
            if (units[i].inTable || units[i].key != changes[c].key) continue;
            occurrences.push_back(&units[i]);
            indexes.push_back(i);
        }
        std::size_t took = occurrences.empty() ? kKeep : taken(changes[c].key, occurrences);
        for (std::size_t k = 0; k < indexes.size(); ++k) {
            if (k == took && changes[c].line) {
                fate[indexes[k]] = c;
                placed[c] = true;
            } else {
                fate[indexes[k]] = kDrop;
            }
        }
    }

    std::string out;
    out.reserve(close + kDelimiter.size() + 256);
    out.append(kDelimiter);
    std::size_t firstBreak = text.find('\n', kDelimiter.size());
    auto appendAdded = [&](std::string_view lineBreak, bool breakFirst) {
        for (std::size_t c = 0; c < changes.size(); ++c) {
            if (placed[c] || !changes[c].line) continue;
            if (breakFirst) out.append("\n");
            out.append(*changes[c].line);
            if (!breakFirst) out.append(lineBreak.empty() ? std::string_view("\n") : lineBreak);
        }
    };
    // Without a managed key, added keys open the block, after the rest of
    // the "+++" line.
    std::size_t pos = kDelimiter.size();
    if (insertAfter == kKeep) {
        if (firstBreak != std::string_view::npos && firstBreak < close) {
            out.append(text.substr(pos, firstBreak + 1 - pos));
            pos = firstBreak + 1;
            std::string_view brk = (firstBreak > 0 && text[firstBreak - 1] == '\r') ? "\r\n" : "\n";
            appendAdded(brk, false);
        } else {
            out.append(text.substr(pos, close - pos));
            pos = close;
            appendAdded({}, true);
            out.append("\n");
        }
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
        const Unit &u = units[i];
        if (u.end <= pos) continue;
        std::size_t from = std::max(u.begin, pos);
        if (fate[i] == kKeep) {
            out.append(text.substr(from, u.end - from));
        } else if (fate[i] != kDrop) {
            out.append(*changes[fate[i]].line);
            out.append(lineBreakOf(text, u));
        }
        if (i == insertAfter) {
            std::string_view brk = lineBreakOf(text, u);
            // A last line without a break before the close: the added keys
            // go on lines of their own.
            if (brk.empty() && fate[i] != kDrop) {
                appendAdded({}, true);
            } else {
                appendAdded(brk, false);
            }
        }
    }
    out.append(kDelimiter);
    return out;
}

bool blockIsBlank(std::string_view text, std::size_t close) noexcept {
    return text::trim(text.substr(kDelimiter.size(), close - kDelimiter.size()), text::isW4).empty();
}

}  // namespace quorlina::frontmatter
