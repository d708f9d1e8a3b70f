#include "ffi/post_json.hpp"

#include "ffi/json.hpp"

namespace quorlina::ffi {

namespace {

// {"date":"..","slug":"..","title":"..". The date is made of the digits,
// "+" and "_" of the directory names and needs no escaping. A slug from a
// "slug" key is made of letters, digits, "_" and "-", but one taken from a
// file name may hold any byte, so it goes through the escaping, which leaves
// every valid slug as it is.
template <class Out>
void appendHead(Out &out, const Post &post) {
    out.append("{\"date\":\"");
    out.append(post.date);
    out.append("\",\"slug\":\"");
    appendEscapedJson(out, post.slug);
    out.append("\",\"title\":\"");
    appendEscapedJson(out, post.frontmatter.title);
    out.push_back('"');
}

// ,"tags":[..] without the closing brace.
template <class Out>
void appendTags(Out &out, const Post &post) {
    out.append(",\"tags\":[");
    for (std::size_t i = 0; i < post.frontmatter.tags.size(); ++i) {
        if (i) out.push_back(',');
        out.push_back('"');
        appendEscapedJson(out, post.frontmatter.tags[i]);
        out.push_back('"');
    }
    out.push_back(']');
}

template <class Out>
void appendSummaryTo(Out &out, const Post &post) {
    appendHead(out, post);
    appendTags(out, post);
    out.push_back('}');
}

template <class Out>
void appendQuoted(Out &out, std::string_view s) {
    out.push_back('"');
    appendEscapedJson(out, s);
    out.push_back('"');
}

}  // namespace

void appendPostSummaryJson(CHeapText &out, const Post &post) { appendSummaryTo(out, post); }

void appendPostRecordJson(CHeapText &out, const Post &post, const std::string_view *body) {
    appendHead(out, post);
    out.append(",\"description\":");
    appendQuoted(out, post.frontmatter.description);
    appendTags(out, post);
    out.append(",\"path\":");
    appendQuoted(out, post.path);
    out.append(post.frontmatter.draft ? ",\"draft\":true,\"date_key\":" : ",\"draft\":false,\"date_key\":");
    if (post.frontmatter.dateKey) {
        appendQuoted(out, *post.frontmatter.dateKey);
    } else {
        out.append("null");
    }
    if (body) {
        out.append(",\"content\":");
        appendQuoted(out, *body);
    }
    out.push_back('}');
}

std::string buildPostJson(const Post &post) {
    const std::string_view body = post.body();
    std::size_t size = 96 + post.date.size() + post.slug.size() + post.frontmatter.title.size() +
                       post.frontmatter.description.size() + body.size();
    for (const auto &t : post.frontmatter.tags) size += t.size() + 3;
    std::string out;
    out.reserve(size + size / 8);
    appendHead(out, post);
    out.append(",\"description\":");
    appendJsonString(out, post.frontmatter.description);
    out.append(",\"tags\":");
    appendJsonStringArray(out, post.frontmatter.tags);
    out.append(",\"content\":");
    appendJsonString(out, body);
    out.push_back('}');
    return out;
}

}  // namespace quorlina::ffi
