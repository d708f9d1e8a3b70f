// Fuzzes the comma-separated tag reader: tags are non-empty, trimmed, free
// of commas, found in the input in order, and reading their joined text
// gives the same list.
#include <cstddef>
#include <cstdint>

#include "ffi/tags_csv.hpp"
#include "fuzz_check.hpp"

using namespace quorlina;

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view in = qfuzz::asView(data, size);

    std::vector<std::string> tags = ffi::parseTagsCsv(in);
    std::size_t commas = 0;
    for (char c : in) commas += c == ',';
    FUZZ_CHECK(tags.size() <= commas + 1, "more tags than pieces");

    std::size_t from = 0;
    std::string joined;
    for (const std::string &t : tags) {
        FUZZ_CHECK(!t.empty(), "empty tag");
        FUZZ_CHECK(t.find(',') == std::string::npos, "tag holds a comma");
        FUZZ_CHECK(!isBlank(t.front()) && !isBlank(t.back()), "tag not trimmed: " + qfuzz::show(t));
        std::size_t at = in.find(t, from);
        FUZZ_CHECK(at != std::string_view::npos, "tag not found in order: " + qfuzz::show(t));
        from = at + t.size();
        if (!joined.empty()) joined.push_back(',');
        joined += t;
    }
    FUZZ_CHECK(ffi::parseTagsCsv(joined) == tags, "joined tags read differently");
    return 0;
}
