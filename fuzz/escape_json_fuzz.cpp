// Fuzzes JSON string escaping: the escaped text between quotes must be one
// valid JSON string that decodes to exactly the input bytes, and a string
// array built from pieces of the input must parse back to those pieces.
#include <cstddef>
#include <cstdint>

#include "ffi/json.hpp"
#include "fuzz_check.hpp"
#include "json_check.hpp"

using namespace quorlina;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view in = qfuzz::asView(data, size);

    std::string escaped = ffi::escapeJson(in);
    for (unsigned char c : escaped) FUZZ_CHECK(c >= 0x20, "raw control byte in output");
    auto decoded = qjson::decodeString("\"" + escaped + "\"");
    FUZZ_CHECK(decoded.has_value(), "not a JSON string: " + qfuzz::show(escaped));
    FUZZ_CHECK(*decoded == in, qfuzz::show(in) + " decoded as " + qfuzz::show(*decoded));

    std::vector<std::string> pieces;
    for (auto p : qfuzz::split(in, ',', 8)) pieces.emplace_back(p);
    std::string array;
    ffi::appendJsonStringArray(array, pieces);
    auto v = qjson::parse(array);
    FUZZ_CHECK(v && v->isArray() && v->items.size() == pieces.size(), "array text: " + qfuzz::show(array));
    for (std::size_t i = 0; i < pieces.size(); ++i)
        FUZZ_CHECK(v->items[i].isString() && v->items[i].text == pieces[i], "array item differs");
    return 0;
}
