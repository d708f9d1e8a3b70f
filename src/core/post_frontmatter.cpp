#include "core/post_frontmatter.hpp"

#include "core/text.hpp"

namespace quorlina::post_frontmatter {

namespace {

using text::isW2;
using text::isW3;
using text::isW4;

// Bytes trimmed from a bare tag item inside "[...]" on one line.
bool isLooseItemTrim(char c) noexcept { return c == ' ' || c == '\t' || c == '"'; }
// Bytes trimmed from a tag item on its own line of a multi-line array.
bool isLineItemTrim(char c) noexcept { return c == ' ' || c == '\t' || c == ','; }

// \" stands for " and \\ for \; any other backslash stays as it is.
std::string unescape(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (c == '\\' && i + 1 < v.size() && (v[i + 1] == '"' || v[i + 1] == '\\')) {
            out.push_back(v[++i]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Drops one pair of surrounding double quotes, if there is one.
std::string_view stripQuotePair(std::string_view v) noexcept {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
    return v;
}

// Reads the quoted string that starts at s[pos] (a double quote), decoding
// \" and \\ into `out`. Returns the offset just after the closing quote, or
// nothing when the string is not closed.
std::optional<std::size_t> readQuoted(std::string_view s, std::size_t pos, std::string &out) {
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
            if (auto end = readQuoted(v, i, item)) {
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
        if (!item.empty()) tags.push_back(unescape(item));
        if (v[j] == ']') return true;
        i = j + 1;
    }
    tags.resize(before);
    return false;
}

}  // namespace

Result<Parsed> parse(std::string_view content) {
    if (content.size() < 3 || content.substr(0, 3) != "+++") return Error::MissingFrontmatter;
    if (content.size() < 6) return Error::UnclosedFrontmatter;
    const std::size_t close = content.find("+++", 3);
    if (close == std::string_view::npos) return Error::UnclosedFrontmatter;

    Parsed out;
    out.rest = content.substr(close + 3);
    out.body = text::trimLeft(out.rest, isW4);
    PostFrontmatter &fm = out.frontmatter;

    const std::string_view block = text::trim(content.substr(3, close - 3), isW4);
    bool inTagLines = false;
    bool sawTitle = false;
    bool sawDescription = false;
    std::size_t pos = 0;
    while (pos <= block.size()) {
        std::size_t nl = block.find('\n', pos);
        if (nl == std::string_view::npos) nl = block.size();
        const std::string_view line = text::trim(block.substr(pos, nl - pos), isW3);
        pos = nl + 1;
        if (line.empty() || line.front() == '#') continue;

        if (inTagLines) {
            if (line.front() == ']') {
                inTagLines = false;
                continue;
            }
            std::string_view item = stripQuotePair(text::trim(line, isLineItemTrim));
            if (!item.empty()) fm.tags.push_back(unescape(item));
            continue;
        }

        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = text::trim(line.substr(0, eq), isW2);
        const std::string_view value = text::trim(line.substr(eq + 1), isW2);

        if (!value.empty() && value.front() == '[') {
            // Arrays mean something only for "tags".
            if (key == "tags" && !readInlineTags(value.substr(1), fm.tags)) inTagLines = true;
            continue;
        }
        if (key == "title") {
            fm.title = unescape(stripQuotePair(value));
            sawTitle = true;
        } else if (key == "description") {
            fm.description = unescape(stripQuotePair(value));
            sawDescription = true;
        } else if (key == "slug") {
            std::string slug = unescape(stripQuotePair(value));
            if (!text::isValidSlug(slug)) return Error::InvalidSlug;
            fm.slug = std::move(slug);
        }
    }
    if (!sawTitle) return Error::MissingTitle;
    if (!sawDescription) return Error::MissingDescription;
    return out;
}

}  // namespace quorlina::post_frontmatter
