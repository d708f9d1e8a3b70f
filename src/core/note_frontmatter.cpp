#include "core/note_frontmatter.hpp"

#include "core/frontmatter.hpp"
#include "core/text.hpp"

namespace quorlina {
namespace note_frontmatter {

namespace {

constexpr std::string_view kDelimiter = frontmatter::kDelimiter;

}  // namespace

Result<Parsed> parse(std::string_view text) {
    if (text.size() < kDelimiter.size() || text.substr(0, kDelimiter.size()) != kDelimiter)
        return Parsed{NoteFrontmatter{}, text};

    std::size_t close = frontmatter::findClose(text);
    if (close == std::string_view::npos) return Error::UnclosedFrontmatter;
    std::string_view body = text::trimLeft(text.substr(close + kDelimiter.size()), text::isW4);

    NoteFrontmatter fm;
    std::optional<Error> failure;
    std::string scratch;
    frontmatter::forEachItem(text, close, nullptr, [&](const frontmatter::Item &it) {
        if (failure || frontmatter::topLevelKey(text, it, scratch) != "slug") return;
        std::string slug;
        frontmatter::appendValue(text, it, frontmatter::LooseQuotes::Plain, slug);
        if (!text::isValidSlug(slug)) {
            failure = Error::InvalidSlug;
            return;
        }
        // The last slug wins.
        fm.slug = std::move(slug);
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
    frontmatter::BlockEditor editor(text, close, nullptr, {"slug"});
    if (slug) {
        if (*slug) {
            std::string value;
            appendTomlString(value, **slug);
            editor.set("slug", value);
        } else {
            editor.remove("slug");
        }
    }
    std::string out = editor.block();
    const std::string_view rest = text.substr(close + kDelimiter.size());
    if (frontmatter::blockIsBlank(out, out.size() - kDelimiter.size())) {
        // A block left with nothing in it goes, and the note is its body
        // alone, when that loses no more than the line break after the
        // block and one blank line. Otherwise the empty block stays, so that
        // the bytes after it (leading blank lines, an indented first line)
        // stay as they are.
        if (body) return composeNoteFile(std::nullopt, *body);
        const std::string_view lead = rest.substr(0, rest.size() - oldBody.size());
        if (lead.empty() || lead == "\n" || lead == "\r\n" || lead == "\n\n" || lead == "\r\n\r\n")
            return composeNoteFile(std::nullopt, oldBody);
        out.append(rest);
        return out;
    }
    if (body) {
        out += '\n';
        if (!body->empty()) {
            out += '\n';
            out += *body;
        }
    } else {
        out.append(rest);
    }
    return out;
}

}  // namespace note_frontmatter
}  // namespace quorlina
