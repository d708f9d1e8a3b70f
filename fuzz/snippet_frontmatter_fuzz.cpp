// Fuzzes the snippet front-matter reader on arbitrary file texts, and checks
// that every file the writer can produce from valid input reads back as the
// description, file name and code it was built from.
#include <cstddef>
#include <cstdint>

#include "core/snippet_frontmatter.hpp"
#include "core/snippets.hpp"
#include "fuzz_check.hpp"

using namespace quorlina;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view in = qfuzz::asView(data, size);

    auto parsed = snippet_frontmatter::parse(in);
    if (parsed) {
        FUZZ_CHECK(in.substr(0, 3) == "+++", "parsed without an opening delimiter");
        FUZZ_CHECK(!parsed->frontmatter.description.empty(), "empty description accepted");
        FUZZ_CHECK(parsed->codeOffset >= 6 && parsed->codeOffset <= in.size(), "code offset out of range");
    } else {
        Error e = parsed.error();
        FUZZ_CHECK(e == Error::MissingFrontmatter || e == Error::UnclosedFrontmatter ||
                       e == Error::MissingDescription,
                   std::string(errorName(e)));
    }

    // Writer and reader against each other: description, file name and code
    // separated by NUL bytes.
    auto parts = qfuzz::split(in, '\0', 3);
    std::string_view description = parts[0], filename = parts[1], code = parts[2];
    if (ensureDescriptionValid(description).ok() && ensureFilenameValid(filename).ok()) {
        std::string file = buildSnippetBody(description, filename, code);
        auto back = snippet_frontmatter::parse(file);
        FUZZ_CHECK(back.ok(), "written file does not parse: " + qfuzz::show(file));
        FUZZ_CHECK(back->frontmatter.description == description,
                   "description " + qfuzz::show(description) + " read back as " +
                       qfuzz::show(back->frontmatter.description));
        FUZZ_CHECK(back->frontmatter.filename && *back->frontmatter.filename == filename,
                   "file name " + qfuzz::show(filename) + " not read back");
        FUZZ_CHECK(std::string_view(file).substr(back->codeOffset) == "\n" + std::string(code),
                   "code not read back");
    }
    return 0;
}
