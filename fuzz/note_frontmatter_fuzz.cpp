// Fuzzes the note front-matter reader on arbitrary file texts, and checks
// that every note file the writer composes reads back with its slug and its
// body (less the leading blanks a front-matter block drops).
#include <cstddef>
#include <cstdint>

#include "core/note_frontmatter.hpp"
#include "core/notes.hpp"
#include "core/text.hpp"
#include "fuzz_check.hpp"

using namespace quorlina;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view in = qfuzz::asView(data, size);

    auto parsed = note_frontmatter::parse(in);
    if (in.substr(0, 3) != "+++") {
        FUZZ_CHECK(parsed.ok() && !parsed->frontmatter.slug && parsed->body == in,
                   "text without front matter is not all body");
    }
    if (parsed) {
        const char *end = in.data() + in.size();
        FUZZ_CHECK(parsed->body.data() + parsed->body.size() == end && parsed->body.data() >= in.data(),
                   "body is not a tail of the text");
        if (parsed->frontmatter.slug) FUZZ_CHECK(text::isValidSlug(*parsed->frontmatter.slug), "invalid slug kept");
    } else {
        FUZZ_CHECK(parsed.error() == Error::UnclosedFrontmatter || parsed.error() == Error::InvalidSlug,
                   std::string(errorName(parsed.error())));
    }

    // Writer and reader against each other: slug and body separated by a NUL.
    auto parts = qfuzz::split(in, '\0', 2);
    std::optional<std::string_view> slug;
    if (text::isValidSlug(parts[0])) slug = parts[0];
    std::string_view body = parts[1];
    std::string file = composeNoteFile(slug, body);
    auto back = note_frontmatter::parse(file);
    FUZZ_CHECK(back.ok(), "composed file does not parse: " + qfuzz::show(file));
    FUZZ_CHECK(back->frontmatter.slug.has_value() == slug.has_value() && (!slug || *back->frontmatter.slug == *slug),
               "slug not read back from " + qfuzz::show(file));
    std::string_view expected = slug ? text::trimLeft(body, text::isW4) : body;
    FUZZ_CHECK(back->body == expected, "body " + qfuzz::show(body) + " read back as " + qfuzz::show(back->body));
    return 0;
}
