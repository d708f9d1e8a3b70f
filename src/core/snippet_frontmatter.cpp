#include "core/snippet_frontmatter.hpp"

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

namespace snippet_frontmatter {

Result<Parsed> parse(std::string_view content) {
    if (content.size() < 3 || content.substr(0, 3) != "+++") return Error::MissingFrontmatter;
    std::size_t close = content.find("+++", 3);
    if (close == std::string_view::npos) return Error::UnclosedFrontmatter;

    std::size_t codeOffset = close + 3;
    if (content.substr(codeOffset, 2) == "\r\n") {
        codeOffset += 2;
    } else if (content.substr(codeOffset, 1) == "\n") {
        codeOffset += 1;
    }

    Parsed out{SnippetFrontmatter{}, codeOffset};
    bool haveDescription = false;
    std::string_view block = text::trim(content.substr(3, close - 3), text::isW4);
    while (!block.empty()) {
        std::size_t nl = block.find('\n');
        std::string_view line = block.substr(0, nl);
        block = nl == std::string_view::npos ? std::string_view() : block.substr(nl + 1);

        line = text::trim(line, text::isW3);
        if (line.empty() || line.front() == '#') continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = text::trim(line.substr(0, eq), text::isW2);
        std::string_view value = text::trim(line.substr(eq + 1), text::isW2);
        if (key == "description") {
            out.frontmatter.description = parseTomlString(value);
            haveDescription = true;
        } else if (key == "filename") {
            if (!value.empty()) out.frontmatter.filename = parseTomlString(value);
        }
    }
    if (!haveDescription || out.frontmatter.description.empty()) return Error::MissingDescription;
    return out;
}

}  // namespace snippet_frontmatter
}  // namespace quorlina
