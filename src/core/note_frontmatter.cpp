#include "core/note_frontmatter.hpp"

#include "core/text.hpp"

namespace quorlina::note_frontmatter {

namespace {

constexpr std::string_view kDelimiter = "+++";

// Applies one front-matter line to `fm`. Lines without "=", blank lines,
// comments and unknown keys are ignored.
Status applyLine(std::string_view line, NoteFrontmatter &fm) {
    line = text::trim(line, text::isW3);
    if (line.empty() || line.front() == '#') return {};
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return {};
    std::string_view key = text::trim(line.substr(0, eq), text::isW2);
    std::string_view value = text::trim(line.substr(eq + 1), text::isW2);
    // A quoted value loses its quotes; nothing inside is unescaped.
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    if (key != "slug") return {};
    if (!text::isValidSlug(value)) return Error::InvalidSlug;
    // The last slug line wins.
    fm.slug = std::string(value);
    return {};
}

}  // namespace

Result<Parsed> parse(std::string_view text) {
    if (text.size() < kDelimiter.size() || text.substr(0, kDelimiter.size()) != kDelimiter)
        return Parsed{NoteFrontmatter{}, text};

    // The block ends at the next "+++" anywhere after the opening one.
    std::size_t close = text.find(kDelimiter, kDelimiter.size());
    if (close == std::string_view::npos) return Error::UnclosedFrontmatter;

    std::string_view block =
        text::trim(text.substr(kDelimiter.size(), close - kDelimiter.size()), text::isW4);
    std::string_view body = text::trimLeft(text.substr(close + kDelimiter.size()), text::isW4);

    NoteFrontmatter fm;
    while (!block.empty()) {
        std::size_t nl = block.find('\n');
        std::string_view line = block.substr(0, nl);
        block = nl == std::string_view::npos ? std::string_view() : block.substr(nl + 1);
        QL_TRY(applyLine(line, fm));
    }
    return Parsed{std::move(fm), body};
}

}  // namespace quorlina::note_frontmatter
