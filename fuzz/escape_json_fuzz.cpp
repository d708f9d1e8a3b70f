// Fuzzes JSON string escaping: the escaped text between quotes must be one
// valid JSON string that decodes to exactly the input bytes, and a string
// array built from pieces of the input must parse back to those pieces. The
// block loops (the one this machine is built for, the shuffle loops where
// the processor has them, and the portable word loop), given room that runs
// out at a point the input chooses, must write exactly the bytes of the
// byte-by-byte loop, and so must both kinds of output buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ffi/c_heap_text.hpp"
#include "ffi/json.hpp"
#include "ffi/json_escape.hpp"
#include "fuzz_check.hpp"
#include "json_check.hpp"

using namespace quorlina;
namespace je = quorlina::ffi::json_escape;

namespace {

// Escapes `in` with `Blocks` into room that starts at `step` bytes and grows
// by `step` whenever a call stops short.
template <class Blocks>
std::string escapeWith(std::string_view in, std::size_t step) {
    std::vector<char> buf(6 * in.size() + je::kRoom + step);
    std::size_t i = 0, room = std::min(buf.size(), step);
    char *dst = buf.data();
    for (;;) {
        char *end = buf.data() + room;
        dst = je::escapeSomeWith<Blocks>(dst, end, in.data(), in.size(), i);
        FUZZ_CHECK(dst <= end, "wrote past the room");
        if (i == in.size()) break;
        room = std::min(buf.size(), room + step);
    }
    return std::string(buf.data(), static_cast<std::size_t>(dst - buf.data()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view in = qfuzz::asView(data, size);

    std::string escaped;
    ffi::appendEscapedJson(escaped, in);
    {
        std::vector<char> buf(6 * size + 1);
        std::string bytes(buf.data(), static_cast<std::size_t>(je::escapeBytes(buf.data(), in.data(), size) - buf.data()));
        FUZZ_CHECK(escaped == bytes, "the string output differs from the byte loop: " + qfuzz::show(in));
        const std::size_t step = size == 0 ? 1 : 1 + data[0] % 64;
        FUZZ_CHECK(escapeWith<je::NativeBlocks>(in, step) == bytes, "block loop differs: " + qfuzz::show(in));
        FUZZ_CHECK(escapeWith<je::WordBlocks>(in, step) == bytes, "word loop differs: " + qfuzz::show(in));
#if QUORLINA_JSON_ESCAPE_SHUFFLE
        if (je::Ssse3Blocks::available()) {
            FUZZ_CHECK(escapeWith<je::Ssse3Blocks>(in, step) == bytes, "SSSE3 loop differs: " + qfuzz::show(in));
        }
        if (je::Avx2Blocks::available()) {
            FUZZ_CHECK(escapeWith<je::Avx2Blocks>(in, step) == bytes, "AVX2 loop differs: " + qfuzz::show(in));
        }
#endif
        ffi::CHeapText heap;
        ffi::appendEscapedJson(heap, in);
        FUZZ_CHECK(heap.view() == bytes, "the C-heap output differs from the byte loop: " + qfuzz::show(in));
    }
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
