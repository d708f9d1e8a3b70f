#include "support/whole_loads.hpp"

#include <utility>

#include "core/note_frontmatter.hpp"
#include "core/post_frontmatter.hpp"
#include "ffi/json.hpp"
#include "support/test_support.hpp"

namespace qtest {

using namespace quorlina;

Result<std::vector<Post>> loadPosts(std::string_view blogDir) {
    std::vector<Post> posts;
    QL_TRY(visitPosts(blogDir, [&](const Post &post) { posts.push_back(post); }));
    for (Post &post : posts) {
        auto raw = readFile(post.path);
        if (!raw) return Error::InputOutput;
        auto parsed = post_frontmatter::parse(*raw);
        if (!parsed) return std::move(parsed).failure();
        post.bodyOffset = static_cast<std::size_t>(parsed->body.data() - raw->data());
        post.frontmatter = std::move(parsed->frontmatter);
        std::string_view name = post.fileName();
        post.slug = post.frontmatter.slug ? *post.frontmatter.slug : std::string(name.substr(0, name.size() - 3));
        post.raw = std::move(*raw);
    }
    return posts;
}

const Post *findPostBySlug(const std::vector<Post> &posts, std::string_view slug) noexcept {
    for (const Post &p : posts)
        if (p.slug == slug) return &p;
    return nullptr;
}

Result<std::vector<Note>> loadNotes(std::string_view notesDir) {
    std::vector<Note> notes;
    QL_TRY(visitNotes(notesDir, [&](const Note &note) { notes.push_back(note); }));
    for (Note &note : notes) {
        auto raw = readFile(note.path);
        if (!raw) return Error::InputOutput;
        auto parsed = note_frontmatter::parse(*raw);
        if (!parsed) return std::move(parsed).failure();
        note.bodyOffset = static_cast<std::size_t>(parsed->body.data() - raw->data());
        note.frontmatter = std::move(parsed->frontmatter);
        std::string_view name = note.fileName();
        note.id = note.frontmatter.slug ? *note.frontmatter.slug : std::string(name.substr(0, name.size() - 3));
        note.raw = std::move(*raw);
    }
    return notes;
}

const Note *findNoteById(const std::vector<Note> &notes, std::string_view id) noexcept {
    for (const Note &note : notes) {
        std::string_view name = note.fileName();
        if (note.id == id || (name.ends_with(".md") && name.substr(0, name.size() - 3) == id)) return &note;
    }
    return nullptr;
}

std::string escapeJson(std::string_view in) {
    std::string out;
    ffi::appendEscapedJson(out, in);
    return out;
}

}  // namespace qtest
