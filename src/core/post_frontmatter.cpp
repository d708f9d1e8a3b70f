#include "core/post_frontmatter.hpp"

#include "core/frontmatter.hpp"
#include "core/text.hpp"

namespace quorlina::post_frontmatter {

namespace {

using frontmatter::Item;
using text::isW2;
using text::isW4;

// The line rules for a tags array that is not TOML.

// Bytes trimmed from a bare tag item inside "[...]" on one line.
bool isLooseItemTrim(char c) noexcept { return c == ' ' || c == '\t' || c == '"'; }
// Bytes trimmed from a tag item on its own line of a multi-line array.
bool isLineItemTrim(char c) noexcept { return c == ' ' || c == '\t' || c == ','; }

std::string loose(std::string_view v) {
    std::string out;
    frontmatter::appendLoose(v, out);
    return out;
}

// Reads the quoted item that starts at s[pos] (a double quote), with \"
// and \\ read as " and \, into `out`. Returns the offset just after the
// closing quote, or nothing when the item is not closed.
std::optional<std::size_t> readQuotedItem(std::string_view s, std::size_t pos, std::string &out) {
    for (std::size_t i = pos + 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') return i + 1;
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '"' || s[i + 1] == '\\')) {
            out.push_back(s[++i]);
        } else {
            out.push_back(c);
        }
    }
    return std::nullopt;
}

// Reads the items of a tags array given on one line; `v` is the text after
// the opening "[". Items are separated by "," and the array ends at "]". An
// item that is a complete quoted string followed only by blanks is that
// string, "," and "]" included; any other item runs to the next "," or "]"
// and is trimmed of blanks and double quotes. Returns false, adding
// nothing, when the array is not closed on this line.
bool readInlineTags(std::string_view v, std::vector<std::string> &tags) {
    const std::size_t before = tags.size();
    std::size_t i = 0;
    for (;;) {
        while (i < v.size() && isW2(v[i])) ++i;
        if (i < v.size() && v[i] == '"') {
            std::string item;
            if (auto end = readQuotedItem(v, i, item)) {
                std::size_t j = *end;
                while (j < v.size() && isW2(v[j])) ++j;
                if (j == v.size()) break;  // no "]" after the string: not closed
                if (v[j] == ',' || v[j] == ']') {
                    if (!item.empty()) tags.push_back(std::move(item));
                    if (v[j] == ']') return true;
                    i = j + 1;
                    continue;
                }
                // Something follows the closing quote: a bare item after all.
            }
        }
        std::size_t j = v.find_first_of(",]", i);
        if (j == std::string_view::npos) break;
        std::string_view item = text::trim(v.substr(i, j - i), isLooseItemTrim);
        if (!item.empty()) tags.push_back(loose(item));
        if (v[j] == ']') return true;
        i = j + 1;
    }
    tags.resize(before);
    return false;
}

// A tags array that is not TOML and not closed on its key's line continues
// on the following lines.
bool opensTagLines(std::string_view key, std::string_view value) {
    if (key != "tags" || !value.starts_with('[')) return false;
    std::vector<std::string> scratch;
    return !readInlineTags(value.substr(1), scratch);
}

// The items of a tags array written one per line: the lines of `unit` after
// its first, up to a line starting with "]".
void readTagLines(std::string_view unit, std::vector<std::string> &tags) {
    std::size_t pos = unit.find('\n');
    while (pos != std::string_view::npos && pos < unit.size()) {
        std::size_t nl = unit.find('\n', pos + 1);
        std::string_view line = text::trim(unit.substr(pos + 1, nl == std::string_view::npos ? nl : nl - pos - 1), isW4);
        pos = nl;
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == ']') break;
        std::string_view item = text::trim(line, isLineItemTrim);
        if (item.size() >= 2 && item.front() == '"' && item.back() == '"') item = item.substr(1, item.size() - 2);
        if (!item.empty()) tags.push_back(loose(item));
    }
}

void readTags(std::string_view content, const Item &it, std::vector<std::string> &tags) {
    if (it.valid) {
        frontmatter::forEachListString(content, it, [&](std::string &&tag) { tags.push_back(std::move(tag)); });
    } else if (!readInlineTags(it.value(content).substr(1), tags)) {
        readTagLines(content.substr(it.begin, it.end - it.begin), tags);
    }
}

}  // namespace

bool headSettled(std::string_view head) noexcept { return frontmatter::closeSettled(head, opensTagLines); }

Result<Parsed> parse(std::string_view content, bool recordKeys) {
    Parsed out;
    auto rest = parseInto(content, recordKeys, out.frontmatter);
    if (!rest) return std::move(rest).failure();
    out.rest = *rest;
    out.body = text::trimLeft(out.rest, isW4);
    return out;
}

Result<std::string_view> parseInto(std::string_view content, bool recordKeys, PostFrontmatter &fm) {
    if (content.size() < 3 || content.substr(0, 3) != "+++") return Error::MissingFrontmatter;
    if (content.size() < 6) return Error::UnclosedFrontmatter;
    const std::size_t close = frontmatter::findClose(content, opensTagLines);
    if (close == std::string_view::npos) return Error::UnclosedFrontmatter;

    // Emptied, keeping the room of the strings for the next file.
    fm.title.clear();
    fm.description.clear();
    fm.tags.clear();
    fm.slug.reset();
    fm.draft = false;
    fm.dateKey.reset();

    bool sawTitle = false;
    bool sawDescription = false;
    std::optional<Error> failure;
    std::string scratch;
    frontmatter::forEachItem(content, close, opensTagLines, [&](const Item &it) {
        if (failure) return;
        const std::string_view key = frontmatter::topLevelKey(content, it, scratch);
        if (key.empty()) return;
        if (recordKeys && (key == "date" || key == "draft")) {
            // The last occurrence decides, as for the other keys.
            if (key == "draft") {
                fm.draft = it.valid && it.valueKind == toml::ValueKind::Scalar && it.value(content) == "true";
            } else {
                fm.dateKey.emplace();
                frontmatter::appendValue(content, it, frontmatter::LooseQuotes::Plain, *fm.dateKey);
            }
            return;
        }
        if (it.valueIsArray(content)) {
            // Arrays mean something only for "tags".
            if (key == "tags") readTags(content, it, fm.tags);
            return;
        }
        if (key == "title") {
            fm.title.clear();
            frontmatter::appendValue(content, it, frontmatter::LooseQuotes::Plain, fm.title);
            sawTitle = true;
        } else if (key == "description") {
            fm.description.clear();
            frontmatter::appendValue(content, it, frontmatter::LooseQuotes::Plain, fm.description);
            sawDescription = true;
        } else if (key == "slug") {
            std::string slug;
            frontmatter::appendValue(content, it, frontmatter::LooseQuotes::Plain, slug);
            if (!text::isValidSlug(slug)) {
                failure = Error::InvalidSlug;
                return;
            }
            fm.slug = std::move(slug);
        }
    });
    if (failure) return *failure;
    if (!sawTitle) return Error::MissingTitle;
    if (!sawDescription) return Error::MissingDescription;
    return content.substr(close + 3);
}

void appendTagsLine(std::string &out, const std::vector<std::string> &tags) {
    out.append("tags = [");
    for (std::size_t i = 0; i < tags.size(); ++i) {
        if (i) out.append(", ");
        appendTomlString(out, tags[i]);
    }
    out.append("]");
}

namespace {

std::string quoted(std::string_view value) {
    std::string out;
    appendTomlString(out, value);
    return out;
}

// The reader takes a single-valued key's value from its last occurrence
// that is not an array.
bool takesString(std::string_view text, const Item &item) { return !item.valueIsArray(text); }

}  // namespace

}  // namespace quorlina::post_frontmatter

namespace quorlina {

std::string buildPostFrontmatter(std::string_view title, std::string_view description,
                                 const std::vector<std::string> &tags) {
    return buildPostFrontmatter(title, description, tags, {}, false);
}

std::string buildPostFrontmatter(std::string_view title, std::string_view description,
                                 const std::vector<std::string> &tags, std::string_view dateKey, bool draft) {
    std::size_t size = 160 + title.size() + description.size();
    for (const auto &t : tags) size += t.size() + 4;
    std::string out;
    out.reserve(size);
    out.append("+++\n");
    appendTomlField(out, "title", title);
    appendTomlField(out, "description", description);
    if (!dateKey.empty()) out.append("date = ").append(dateKey).append("\n");
    if (draft) out.append("draft = true\n");
    if (!tags.empty()) {
        post_frontmatter::appendTagsLine(out, tags);
        out.push_back('\n');
    }
    out.append("+++\n");
    return out;
}

}  // namespace quorlina

namespace quorlina::post_frontmatter {

namespace {

// The last top-level `draft` item, which decides the flag as parse reads it.
std::optional<frontmatter::Item> draftItem(std::string_view content, std::size_t close) {
    std::optional<frontmatter::Item> found;
    frontmatter::forEachItem(content, close, opensTagLines, [&](const Item &it) {
        if (frontmatter::keyIs(content, it, "draft")) found = it;
    });
    return found;
}

}  // namespace

std::string rewrite(std::string_view content, const Changes &changes) {
    const std::size_t close = frontmatter::findClose(content, opensTagLines);
    frontmatter::BlockEditor editor(content, close, opensTagLines, {"title", "description", "slug", "tags"});
    if (changes.draft) {
        // Only a value that does not already say so is rewritten; a flag
        // that is cleared and not there stays absent.
        auto item = draftItem(content, close);
        const std::string_view want = *changes.draft ? "true" : "false";
        const bool says = item && item->valid && item->valueKind == toml::ValueKind::Scalar && item->value(content) == want;
        if (item ? !says : *changes.draft)
            editor.set("draft", want, takesString, frontmatter::BlockEditor::Place::AfterLastKey);
    }
    if (changes.title) editor.set("title", quoted(*changes.title), takesString);
    if (changes.description) editor.set("description", quoted(*changes.description), takesString);
    if (changes.tags) {
        if (changes.tags->empty()) {
            editor.remove("tags");
        } else {
            editor.setList("tags", *changes.tags);
        }
    }
    std::string out = editor.block();
    const std::string_view rest = content.substr(close + frontmatter::kDelimiter.size());
    if (!changes.body) {
        out.append(rest);
        return out;
    }
    // The closing line and the blank lines before the body stay as written.
    const std::string_view lead = rest.substr(0, rest.size() - text::trimLeft(rest, isW4).size());
    out.append(lead);
    if (lead.find('\n') == std::string_view::npos && !changes.body->empty()) {
        const std::size_t firstBreak = content.find('\n');
        out.append(firstBreak != std::string_view::npos && firstBreak > 0 && content[firstBreak - 1] == '\r' ? "\r\n"
                                                                                                          : "\n");
    }
    out.append(*changes.body);
    return out;
}

}  // namespace quorlina::post_frontmatter
