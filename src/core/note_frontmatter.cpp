#include "core/note_frontmatter.hpp"

#include "core/frontmatter.hpp"
#include "core/text.hpp"

namespace quorlina {
namespace note_frontmatter {

namespace {

constexpr std::string_view kDelimiter = frontmatter::kDelimiter;

// The slug of a "slug = value" line: a quoted value loses its quotes, and
// nothing inside is unescaped.
Result<std::string> readSlug(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    if (!text::isValidSlug(value)) return Error::InvalidSlug;
    return std::string(value);
}

}  // namespace

Result<Parsed> parse(std::string_view text) {
    if (text.size() < kDelimiter.size() || text.substr(0, kDelimiter.size()) != kDelimiter)
        return Parsed{NoteFrontmatter{}, text};

    // The block ends at the next "+++" anywhere after the opening one.
    std::size_t close = frontmatter::findClose(text);
    if (close == std::string_view::npos) return Error::UnclosedFrontmatter;
    std::string_view body = text::trimLeft(text.substr(close + kDelimiter.size()), text::isW4);

    NoteFrontmatter fm;
    std::optional<Error> failure;
    frontmatter::forEachKey(text, close, nullptr, [&](const frontmatter::Unit &u) {
        if (failure || u.key != "slug") return;
        auto slug = readSlug(u.value);
        if (!slug) {
            failure = slug.error();
            return;
        }
        // The last slug line wins.
        fm.slug = std::move(*slug);
    });
    if (failure) return *failure;
    return Parsed{std::move(fm), body};
}

}  // namespace note_frontmatter

std::string buildNoteFrontmatter(std::optional<std::string_view> slug) {
    if (!slug) return {};
    std::string out;
    out.reserve(slug->size() + 20);
    out += "+++\n";
    appendTomlField(out, "slug", *slug);
    out += "+++\n";
    return out;
}

std::string composeNoteFile(std::optional<std::string_view> slug, std::string_view body) {
    std::string out = buildNoteFrontmatter(slug);
    // A bare body that starts with the delimiter would be taken for front
    // matter when read back; an empty block in front keeps it a body.
    if (!slug && body.starts_with("+++")) out = "+++\n+++\n";
    if (!body.empty()) {
        out.reserve(out.size() + 1 + body.size());
        if (!out.empty()) out += '\n';
        out += body;
    }
    return out;
}

namespace note_frontmatter {

std::string rewrite(std::string_view text, std::optional<std::optional<std::string_view>> slug,
                    std::optional<std::string_view> body, std::string_view oldBody) {
    const bool hasBlock = text.starts_with(kDelimiter);
    std::size_t close = hasBlock ? frontmatter::findClose(text) : std::string_view::npos;
    if (close == std::string_view::npos) {
        // A bare body: the file is composed as a new one.
        std::optional<std::string_view> newSlug = slug ? *slug : std::nullopt;
        return composeNoteFile(newSlug, body ? *body : oldBody);
    }
    std::vector<frontmatter::KeyChange> changes;
    if (slug) {
        std::optional<std::string> line;
        if (*slug) {
            appendTomlField(line.emplace(), "slug", **slug);
            line->pop_back();
        }
        changes.push_back({"slug", std::move(line)});
    }
    const auto units = frontmatter::splitBlock(text, close);
    auto last = [](std::string_view, const std::vector<const frontmatter::Unit *> &u) { return u.size() - 1; };
    std::string out = frontmatter::rewriteBlock(text, close, units, {"slug"}, changes, last);
    // A block left with nothing in it goes: the note is its body alone.
    if (frontmatter::blockIsBlank(out, out.size() - kDelimiter.size()))
        return composeNoteFile(std::nullopt, body ? *body : oldBody);
    if (body) {
        out += '\n';
        if (!body->empty()) {
            out += '\n';
            out += *body;
        }
    } else {
        out.append(text.substr(close + kDelimiter.size()));
    }
    return out;
}

}  // namespace note_frontmatter
}  // namespace quorlina
