#include "core/snippet_frontmatter.hpp"

#include "core/frontmatter.hpp"
#include "core/text.hpp"

namespace quorlina {

std::string parseTomlString(std::string_view v) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
        v = v.substr(1, v.size() - 2);
    } else if (v.size() >= 4 && v.substr(0, 2) == "\\\"" && v.substr(v.size() - 2) == "\\\"") {
        v = v.substr(2, v.size() - 4);
    }
    if (v.find('\\') == std::string_view::npos) return std::string(v);
    std::string out;
    out.reserve(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size() && (v[i + 1] == '"' || v[i + 1] == '\\')) {
            out.push_back(v[i + 1]);
            ++i;
        } else {
            out.push_back(v[i]);
        }
    }
    return out;
}

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
    frontmatter::forEachKey(content, close, nullptr, [&](const frontmatter::Unit &u) {
        if (u.key == "description") {
            out.frontmatter.description = parseTomlString(u.value);
            haveDescription = true;
        } else if (u.key == "filename") {
            if (!u.value.empty()) out.frontmatter.filename = parseTomlString(u.value);
        }
    });
    if (!haveDescription || out.frontmatter.description.empty()) return Error::MissingDescription;
    return out;
}

namespace {

// The reader takes the last description line and the last filename line
// with a value.
std::size_t takenUnit(std::string_view key, const std::vector<const frontmatter::Unit *> &units) {
    for (std::size_t i = units.size(); i-- > 0;)
        if (key != "filename" || !units[i]->value.empty()) return i;
    return std::string::npos;
}

std::string fieldLine(std::string_view key, std::string_view value) {
    std::string line;
    appendTomlField(line, key, value);
    line.pop_back();
    return line;
}

}  // namespace

std::string rewrite(std::string_view content, std::optional<std::string_view> description,
                    std::optional<std::string_view> filename, std::optional<std::string_view> code) {
    const std::size_t close = frontmatter::findClose(content);
    std::vector<frontmatter::KeyChange> changes;
    if (description) changes.push_back({"description", fieldLine("description", *description)});
    if (filename) changes.push_back({"filename", fieldLine("filename", *filename)});
    const auto units = frontmatter::splitBlock(content, close);
    std::string out = frontmatter::rewriteBlock(content, close, units, {"description", "filename"}, changes, takenUnit);
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
