#include "core/snippet_frontmatter.hpp"

#include "core/frontmatter.hpp"
#include "core/text.hpp"

namespace quorlina {

std::string buildSnippetBody(std::string_view description, std::optional<std::string_view> filename,
                             std::string_view code) {
    std::string out;
    out.reserve(64 + description.size() + (filename ? filename->size() : 0) + code.size());
    out += "+++\n";
    appendTomlField(out, "description", description);
    if (filename) appendTomlField(out, "filename", *filename);
    out += "+++\n\n";
    out += code;
    return out;
}

namespace snippet_frontmatter {

Result<Parsed> parse(std::string_view content) {
    if (content.size() < 3 || content.substr(0, 3) != "+++") return Error::MissingFrontmatter;
    std::size_t close = frontmatter::findClose(content);
    if (close == std::string_view::npos) return Error::UnclosedFrontmatter;

    std::size_t codeOffset = close + 3;
    if (content.substr(codeOffset, 2) == "\r\n") {
        codeOffset += 2;
    } else if (content.substr(codeOffset, 1) == "\n") {
        codeOffset += 1;
    }

    Parsed out{SnippetFrontmatter{}, codeOffset};
    bool haveDescription = false;
    std::string scratch;
    frontmatter::forEachItem(content, close, nullptr, [&](const frontmatter::Item &it) {
        const std::string_view key = frontmatter::topLevelKey(content, it, scratch);
        if (key == "description") {
            out.frontmatter.description.clear();
            frontmatter::appendValue(content, it, frontmatter::LooseQuotes::AlsoEscaped, out.frontmatter.description);
            haveDescription = true;
        } else if (key == "filename" && !it.value(content).empty()) {
            std::string filename;
            frontmatter::appendValue(content, it, frontmatter::LooseQuotes::AlsoEscaped, filename);
            out.frontmatter.filename = std::move(filename);
        }
    });
    if (!haveDescription || out.frontmatter.description.empty()) return Error::MissingDescription;
    return out;
}

namespace {

// The reader takes the last description and the last filename with a
// value.
bool takesFilename(std::string_view text, const frontmatter::Item &item) { return !item.value(text).empty(); }

std::string quoted(std::string_view value) {
    std::string out;
    appendTomlString(out, value);
    return out;
}

}  // namespace

std::string rewrite(std::string_view content, std::optional<std::string_view> description,
                    std::optional<std::string_view> filename, std::optional<std::string_view> code) {
    const std::size_t close = frontmatter::findClose(content);
    frontmatter::BlockEditor editor(content, close, nullptr, {"description", "filename"});
    if (description) editor.set("description", quoted(*description));
    if (filename) editor.set("filename", quoted(*filename), takesFilename);
    std::string out = editor.block();
    if (code) {
        out.append("\n\n");
        out.append(*code);
    } else {
        out.append(content.substr(close + frontmatter::kDelimiter.size()));
    }
    return out;
}

}  // namespace snippet_frontmatter
}  // namespace quorlina
