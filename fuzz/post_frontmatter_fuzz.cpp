// Fuzzes the post front-matter reader on arbitrary file texts, and checks
// that every block the writer produces from writable values reads back as
// the title, description, slug and tags it was built from.
#include <cstddef>
#include <cstdint>

#include "core/post_frontmatter.hpp"
#include "core/posts.hpp"
#include "core/text.hpp"
#include "ffi/tags_csv.hpp"
#include "fuzz_check.hpp"

using namespace quorlina;

namespace {
bool isSuffix(std::string_view whole, std::string_view part) {
    return part.data() + part.size() == whole.data() + whole.size() && part.data() >= whole.data();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view in = qfuzz::asView(data, size);

    auto parsed = post_frontmatter::parse(in);
    if (parsed) {
        FUZZ_CHECK(in.substr(0, 3) == "+++", "parsed without an opening delimiter");
        FUZZ_CHECK(isSuffix(in, parsed->rest) && isSuffix(in, parsed->body), "body is not a tail of the text");
        FUZZ_CHECK(parsed->body == text::trimLeft(parsed->rest, text::isW4), "body keeps leading blanks");
        if (parsed->frontmatter.slug) FUZZ_CHECK(text::isValidSlug(*parsed->frontmatter.slug), "invalid slug kept");
        for (const auto &t : parsed->frontmatter.tags) FUZZ_CHECK(!t.empty(), "empty tag kept");
    } else {
        Error e = parsed.error();
        FUZZ_CHECK(e == Error::MissingFrontmatter || e == Error::UnclosedFrontmatter || e == Error::InvalidSlug ||
                       e == Error::MissingTitle || e == Error::MissingDescription,
                   std::string(errorName(e)));
    }

    // Writer and reader against each other: title, description, slug, tags
    // (comma-separated) and body separated by NUL bytes.
    auto parts = qfuzz::split(in, '\0', 5);
    std::string_view title = parts[0], description = parts[1], slugText = parts[2], body = parts[4];
    std::vector<std::string> tags = ffi::parseTagsCsv(parts[3]);
    bool writable = isWritableFrontmatterValue(title) && isWritableFrontmatterValue(description);
    for (const auto &t : tags) writable = writable && isWritableFrontmatterValue(t);
    if (!writable) return 0;
    std::optional<std::string_view> slug;
    if (text::isValidSlug(slugText)) slug = slugText;

    // A new post's block has no slug key; a slug is written as an update
    // keeps one, on its own line before the closing delimiter.
    std::string block = buildPostFrontmatter(title, description, tags);
    if (slug) block.insert(block.size() - 4, "slug = \"" + std::string(*slug) + "\"\n");
    std::string file = block + std::string(body);
    auto back = post_frontmatter::parse(file);
    FUZZ_CHECK(back.ok(), "written block does not parse: " + qfuzz::show(file));
    const PostFrontmatter &fm = back->frontmatter;
    FUZZ_CHECK(fm.title == title, "title " + qfuzz::show(title) + " read back as " + qfuzz::show(fm.title));
    FUZZ_CHECK(fm.description == description,
               "description " + qfuzz::show(description) + " read back as " + qfuzz::show(fm.description));
    FUZZ_CHECK(fm.slug.has_value() == slug.has_value() && (!slug || *fm.slug == *slug), "slug not read back");
    FUZZ_CHECK(fm.tags == tags, "tags not read back from " + qfuzz::show(file));
    FUZZ_CHECK(back->rest == "\n" + std::string(body), "text after the block changed");
    return 0;
}
