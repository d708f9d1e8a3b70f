// Reads requests on standard input and answers each with one JSON line: what
// the front-matter readers read from a file text, the text an update makes
// of it, or the text the writers write. toml_differential.py drives it.
//
// A request is a line "OP N" and N fields, each a line with its length in
// bytes (-1 for an absent field) followed by that many bytes. Lists (tags)
// are one field with the items separated by NUL bytes.
//
//   post FILE                           -> {"ok", "title", "description", "tags", "slug"} or {"error"}
//   post-update FILE TITLE DESC TAGS    -> {"text"} (each change absent to keep)
//   post-draft FILE FLAG                -> {"text"}: FLAG "1" sets the draft flag, "0" clears it
//   post-body FILE BODY                 -> {"text"}: the body replaced
//   post-build TITLE DESC SLUG TAGS     -> {"text"}: the block and one LF, as a new post
//   note FILE                           -> {"slug", "body"}
//   note-update FILE SLUG BODY          -> {"text"} (SLUG "" clears it)
//   note-build SLUG BODY                -> {"text"}
//   snippet FILE                        -> {"description", "filename", "code"}
//   snippet-update FILE DESC NAME CODE  -> {"text"}
//   snippet-build DESC NAME CODE        -> {"text"}
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/note_frontmatter.hpp"
#include "core/post_frontmatter.hpp"
#include "core/posts.hpp"
#include "core/snippet_frontmatter.hpp"

using namespace quorlina;
using Field = std::optional<std::string>;

namespace {

std::string jsonText(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

std::string json(const Field &f) { return f ? jsonText(*f) : "null"; }

std::string json(const std::vector<std::string> &v) {
    std::string out = "[";
    for (std::size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + jsonText(v[i]);
    return out + "]";
}

std::vector<std::string> splitList(const std::string &s) {
    std::vector<std::string> out;
    if (s.empty()) return out;
    std::size_t from = 0;
    for (;;) {
        std::size_t at = s.find('\0', from);
        out.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return out;
        from = at + 1;
    }
}

std::optional<std::vector<Field>> readRequest(std::string &op) {
    std::string header;
    if (!std::getline(std::cin, header)) return std::nullopt;
    std::size_t space = header.find(' ');
    op = header.substr(0, space);
    int n = std::stoi(header.substr(space + 1));
    std::vector<Field> fields;
    for (int i = 0; i < n; ++i) {
        std::string len;
        std::getline(std::cin, len);
        long size = std::stol(len);
        if (size < 0) {
            fields.emplace_back();
            continue;
        }
        std::string bytes(static_cast<std::size_t>(size), '\0');
        std::cin.read(bytes.data(), size);
        fields.emplace_back(std::move(bytes));
    }
    return fields;
}

std::string error(Error e) { return "{\"error\":" + jsonText(errorName(e)) + "}"; }
std::string text(const std::string &t) { return "{\"text\":" + jsonText(t) + "}"; }

std::string answer(const std::string &op, const std::vector<Field> &f) {
    if (op == "post" || op == "post-update") {
        auto r = post_frontmatter::parse(*f[0]);
        if (!r) return error(r.error());
        const PostFrontmatter &fm = r->frontmatter;
        if (op == "post")
            return "{\"title\":" + jsonText(fm.title) + ",\"description\":" + jsonText(fm.description) + ",\"tags\":" +
                   json(fm.tags) + ",\"slug\":" + json(fm.slug) + "}";
        // As an update does: only what differs is changed.
        post_frontmatter::Changes changes;
        if (f[1] && *f[1] != fm.title) changes.title = *f[1];
        if (f[2] && *f[2] != fm.description) changes.description = *f[2];
        if (f[3]) {
            std::vector<std::string> tags = splitList(*f[3]);
            if (tags != fm.tags) changes.tags = std::move(tags);
        }
        return text(post_frontmatter::rewrite(*f[0], changes));
    }
    if (op == "post-draft" || op == "post-body") {
        auto r = post_frontmatter::parse(*f[0]);
        if (!r) return error(r.error());
        post_frontmatter::Changes changes;
        if (op == "post-draft") {
            changes.draft = *f[1] == "1";
        } else {
            changes.body = *f[1];
        }
        return text(post_frontmatter::rewrite(*f[0], changes));
    }
    if (op == "post-build") {
        // A new post's block has no slug key; a slug is written as an update
        // keeps one, on its own line before the closing delimiter.
        std::string block = buildPostFrontmatter(*f[0], *f[1], splitList(*f[3]));
        if (f[2]) block.insert(block.size() - 4, "slug = \"" + std::string(*f[2]) + "\"\n");
        return text(block + "\n");
    }
    if (op == "note" || op == "note-update") {
        auto r = note_frontmatter::parse(*f[0]);
        if (!r) return error(r.error());
        if (op == "note") return "{\"slug\":" + json(r->frontmatter.slug) + ",\"body\":" + jsonText(r->body) + "}";
        std::optional<std::optional<std::string_view>> slug;
        if (f[1] && f[1]->empty()) {
            if (r->frontmatter.slug) slug.emplace();
        } else if (f[1] && f[1] != r->frontmatter.slug) {
            slug.emplace(*f[1]);
        }
        std::optional<std::string_view> body;
        if (f[2]) body = *f[2];
        return text(note_frontmatter::rewrite(*f[0], slug, body, r->body));
    }
    if (op == "note-build") {
        std::optional<std::string_view> slug;
        if (f[0]) slug = *f[0];
        return text(composeNoteFile(slug, *f[1]));
    }
    if (op == "snippet" || op == "snippet-update") {
        auto r = snippet_frontmatter::parse(*f[0]);
        if (!r) return error(r.error());
        const SnippetFrontmatter &fm = r->frontmatter;
        if (op == "snippet")
            return "{\"description\":" + jsonText(fm.description) + ",\"filename\":" + json(fm.filename) +
                   ",\"code\":" + jsonText(f[0]->substr(r->codeOffset)) + "}";
        std::optional<std::string_view> description, filename, code;
        if (f[1] && *f[1] != fm.description) description = *f[1];
        if (f[2] && (!fm.filename || *f[2] != *fm.filename)) filename = *f[2];
        if (f[3]) code = *f[3];
        return text(snippet_frontmatter::rewrite(*f[0], description, filename, code));
    }
    if (op == "snippet-build") {
        std::optional<std::string_view> filename;
        if (f[1]) filename = *f[1];
        return text(buildSnippetBody(*f[0], filename, *f[2]));
    }
    return "{\"error\":\"unknown request\"}";
}

}  // namespace

int main() {
    std::ios::sync_with_stdio(false);
    std::string op;
    while (auto fields = readRequest(op)) {
        std::string line = answer(op, *fields);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    return 0;
}
