#include "ffi/snippet_json.hpp"

#include "ffi/json.hpp"

namespace quorlina::ffi {

namespace {

template <class Out>
void appendSnippetJsonTo(Out &out, const Snippet &s) {
    out += "{\"id\":\"";
    out += s.id;
    out += "\",\"date\":\"";
    out += s.date;
    out += "\",\"description\":\"";
    appendEscapedJson(out, s.frontmatter.description);
    out += "\",\"filename\":\"";
    appendEscapedJson(out, s.filename);
    out += "\",\"code\":\"";
    appendEscapedJson(out, s.code());
    out += "\"}";
}

}  // namespace

void appendSnippetJson(std::string &out, const Snippet &s) { appendSnippetJsonTo(out, s); }

void appendSnippetJson(CHeapText &out, const Snippet &s) { appendSnippetJsonTo(out, s); }

std::string buildSnippetJson(const Snippet &s) {
    std::string out;
    out.reserve(96 + s.frontmatter.description.size() + s.filename.size() + s.code().size());
    appendSnippetJson(out, s);
    return out;
}

std::string buildSnippetListJson(const std::vector<Snippet> &snippets) {
    std::size_t estimate = 2;
    for (const auto &s : snippets) estimate += 96 + s.raw.size();
    std::string out;
    out.reserve(estimate);
    out.push_back('[');
    for (std::size_t i = 0; i < snippets.size(); ++i) {
        if (i) out.push_back(',');
        appendSnippetJson(out, snippets[i]);
    }
    out.push_back(']');
    return out;
}

}  // namespace quorlina::ffi
