#include "ffi/snippet_json.hpp"

#include "ffi/json.hpp"

namespace quorlina::ffi {

namespace {

template <class Out>
void appendSnippetJsonTo(Out &out, const Snippet &s, std::string_view code) {
    out += "{\"id\":\"";
    out += s.id;
    out += "\",\"date\":\"";
    out += s.date;
    out += "\",\"description\":\"";
    appendEscapedJson(out, s.frontmatter.description);
    out += "\",\"filename\":\"";
    appendEscapedJson(out, s.filename);
    out += "\",\"code\":\"";
    appendEscapedJson(out, code);
    out += "\"}";
}

}  // namespace

void appendSnippetJson(CHeapText &out, const Snippet &s, std::string_view code) {
    appendSnippetJsonTo(out, s, code);
}

std::string buildSnippetJson(const Snippet &s) {
    std::string out;
    out.reserve(96 + s.frontmatter.description.size() + s.filename.size() + s.code().size());
    appendSnippetJsonTo(out, s, s.code());
    return out;
}

}  // namespace quorlina::ffi
