// Fuzzes the front-matter string reader: it never grows its input, leaves
// plain values alone, and undoes the writer's escaping of any byte string.
#include <cstddef>
#include <cstdint>

#include "core/snippet_frontmatter.hpp"
#include "fuzz_check.hpp"

using namespace quorlina;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view in = qfuzz::asView(data, size);

    std::string out = parseTomlString(in);
    FUZZ_CHECK(out.size() <= in.size(), "output longer than input");
    bool quoted = in.size() >= 2 && in.front() == '"' && in.back() == '"';
    bool escQuoted = in.size() >= 4 && in.substr(0, 2) == "\\\"" && in.substr(in.size() - 2) == "\\\"";
    if (!quoted && !escQuoted && in.find('\\') == std::string_view::npos)
        FUZZ_CHECK(out == in, "plain value changed: " + qfuzz::show(in));

    // Quote the input the way a writer escapes a string value; reading it
    // must give the input back exactly.
    std::string written = "\"";
    for (char c : in) {
        if (c == '"' || c == '\\') written.push_back('\\');
        written.push_back(c);
    }
    written.push_back('"');
    std::string back = parseTomlString(written);
    FUZZ_CHECK(back == in, qfuzz::show(in) + " read back as " + qfuzz::show(back));
    return 0;
}
