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

void appendSnippetJson(CHeapText &out, const Snippet &s) { appendSnippetJsonTo(out, s); }

std::string buildSnippetJson(const Snippet &s) {
    std::string out;
    out.reserve(96 + s.frontmatter.description.size() + s.filename.size() + s.code().size());
    appendSnippetJsonTo(out, s);
    return out;
}

}  // namespace quorlina::ffi
