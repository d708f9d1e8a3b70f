// The JSON escaper's block loops against a byte-by-byte oracle written here:
// every length and every position of an escaped byte around the block and
// chunk edges, all 256 byte values, texts as dense in escapes as code, and
// output buffers whose room runs out at every point, for the loop this
// machine is built for, the shuffle loops where the processor has them
// (SSSE3, AVX2), the portable word loop, and the two appendEscapedJson. The
// shuffle loops are also run on their own over every pattern of escaped and
// plain bytes in each half of a block, every byte value at every place of a
// block, and every room.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ffi/c_heap_text.hpp"
#include "ffi/json.hpp"
#include "ffi/json_escape.hpp"

using namespace quorlina;
namespace je = quorlina::ffi::json_escape;

namespace {

// What every byte becomes, written out case by case.
std::string oracle(std::string_view in) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (char ch : in) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

// Escapes `in` with the loops of `Blocks` into a buffer whose room starts at
// `step` bytes and grows by `step` whenever a call stops short, so that the
// room runs out at every kind of step. Bytes past the room are checked
// untouched.
template <class Blocks>
std::string escapeWith(std::string_view in, std::size_t step) {
    constexpr char kGuard = '\x5A';
    std::vector<char> buf(6 * in.size() + je::kRoom + 64 + step, kGuard);
    std::size_t i = 0, room = std::min(buf.size() - 64, step);
    char *dst = buf.data();
    for (;;) {
        char *end = buf.data() + room;
        dst = je::escapeSomeWith<Blocks>(dst, end, in.data(), in.size(), i);
        EXPECT_LE(dst, end);
        if (i == in.size()) break;
        room = std::min(buf.size() - 64, room + step);
    }
    for (std::size_t k = room; k < buf.size(); ++k)
        if (buf[k] != kGuard) ADD_FAILURE() << "wrote past the room at " << k;
    return std::string(buf.data(), static_cast<std::size_t>(dst - buf.data()));
}

// Every way of escaping `in` this build has; `roomSteps` are the steps of
// room to try.
void expectAllAgree(std::string_view in, const std::string &why,
                    std::initializer_list<std::size_t> roomSteps = {1, 7, 100, std::size_t{1} << 20}) {
    const std::string want = oracle(in);
    SCOPED_TRACE(why + ", " + std::to_string(in.size()) + " bytes");
    for (std::size_t step : roomSteps) {
        if (step == 1 && in.size() > 400) continue;  // slow, and no other case
        EXPECT_EQ(escapeWith<je::NativeBlocks>(in, step), want) << "native blocks, room step " << step;
        EXPECT_EQ(escapeWith<je::WordBlocks>(in, step), want) << "word blocks, room step " << step;
#if QUORLINA_JSON_ESCAPE_SHUFFLE
        if (je::Ssse3Blocks::available()) {
            EXPECT_EQ(escapeWith<je::Ssse3Blocks>(in, step), want) << "SSSE3 blocks, room step " << step;
        }
        if (je::Avx2Blocks::available()) {
            EXPECT_EQ(escapeWith<je::Avx2Blocks>(in, step), want) << "AVX2 blocks, room step " << step;
        }
#endif
    }
    ffi::CHeapText heap;
    heap.append("x", 1);
    ffi::appendEscapedJson(heap, in);
    EXPECT_EQ(heap.view(), "x" + want);
    std::string s = "y";
    ffi::appendEscapedJson(s, in);
    EXPECT_EQ(s, "y" + want);
}

// A deterministic stream of bytes (splitmix64).
struct Bytes {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
};

// `n` plain bytes that differ from their neighbours, so that a run copied
// from a wrong place shows.
std::string plainText(std::size_t n) {
    std::string s(n, ' ');
    for (std::size_t k = 0; k < n; ++k) s[k] = static_cast<char>('a' + k % 26);
    return s;
}

}  // namespace

TEST(JsonEscapeLoops, TheOracleHoldsTheDocumentedBytes) {
    EXPECT_EQ(oracle("a\"b\\c"), "a\\\"b\\\\c");
    EXPECT_EQ(oracle(std::string("\r\n\t\x01\x1F\x7F\xC3\xA9", 8)), "\\r\\n\\t\\u0001\\u001f\x7F\xC3\xA9");
}

TEST(JsonEscapeLoops, EveryByteValueAloneAndInALongText) {
    for (int c = 0; c < 256; ++c) {
        const std::string one(1, static_cast<char>(c));
        expectAllAgree(one, "byte " + std::to_string(c));
        // The byte at every place of two chunks of plain text and in runs.
        std::string text = plainText(2 * 64 + 40);
        for (std::size_t at : {std::size_t{0}, std::size_t{15}, std::size_t{16}, std::size_t{63}, std::size_t{64},
                               std::size_t{127}, std::size_t{128}, text.size() - 1})
            text[at] = static_cast<char>(c);
        expectAllAgree(text, "byte " + std::to_string(c) + " around block edges");
        expectAllAgree(std::string(300, static_cast<char>(c)), "a run of byte " + std::to_string(c));
    }
}

TEST(JsonEscapeLoops, OneEscapeAtEveryPositionOfEveryLength) {
    for (std::size_t n = 0; n <= 300; ++n) {
        expectAllAgree(plainText(n), "plain");
        for (std::size_t at = 0; at < n; ++at) {
            std::string text = plainText(n);
            text[at] = at % 3 == 0 ? '"' : at % 3 == 1 ? '\n' : '\x02';
            expectAllAgree(text, "escape at " + std::to_string(at), {20, std::size_t{1} << 20});
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(JsonEscapeLoops, TextsOfEveryDensityOfEscapes) {
    Bytes rng{20};
    // From one escape in a thousand bytes to nothing but escapes, with
    // multi-byte UTF-8 and DEL among the plain bytes.
    const char kPlain[] = "abc xyz{}();=+-_/\x7F\xC3\xA9\xE2\x82\xAC";
    const char kSpecial[] = "\"\\\n\r\t\x01\x1F";
    for (unsigned density : {1u, 20u, 100u, 300u, 1000u}) {
        for (int round = 0; round < 40; ++round) {
            std::string text;
            std::size_t n = rng.next() % 3000;
            for (std::size_t k = 0; k < n; ++k) {
                bool special = rng.next() % 1000 < density;
                text += special ? kSpecial[rng.next() % (sizeof kSpecial - 1)] : kPlain[rng.next() % (sizeof kPlain - 1)];
            }
            expectAllAgree(text, "density " + std::to_string(density) + "/1000");
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(JsonEscapeLoops, CodeLikeTextAsTheSnippetListWritesIt) {
    std::string code;
    for (int line = 0; line < 200; ++line)
        code += "\tif (x[\"key\"] == '\\\\') { print(\"caf\xC3\xA9\\n\"); }\r\n";
    expectAllAgree(code, "code");
    // Appending many texts to one buffer keeps each in place.
    ffi::CHeapText heap;
    std::string want;
    for (int k = 0; k < 300; ++k) {
        std::string piece = code.substr(static_cast<std::size_t>(k) % 97, static_cast<std::size_t>(k) * 7 % 500);
        ffi::appendEscapedJson(heap, piece);
        want += oracle(piece);
    }
    EXPECT_EQ(heap.view(), want);
}

#if QUORLINA_JSON_ESCAPE_SHUFFLE
namespace {

// What one call of a shuffle loop alone did: its output and the bytes of
// input it took.
struct ShuffleRun {
    std::string out;
    std::size_t taken;
};

// Both shuffle loops end on a step of 16 bytes that needs this much room.
constexpr std::size_t kShuffleStep = 16;
constexpr std::size_t kShuffleStepRoom = je::Ssse3Blocks::kRoom;

// Runs the shuffle loop of `Blocks` once over `in` with `room` bytes of room
// and checks that nothing past the room was written.
template <class Blocks>
ShuffleRun shuffleOnce(std::string_view in, std::size_t room) {
    constexpr char kGuard = '\x5A';
    std::vector<char> buf(room + 64, kGuard);
    std::size_t i = 0;
    char *dst = Blocks::escapeSome(buf.data(), buf.data() + room, in.data(), in.size(), i);
    EXPECT_LE(dst, buf.data() + room);
    for (std::size_t k = room; k < buf.size(); ++k)
        if (buf[k] != kGuard) ADD_FAILURE() << "wrote past the room at " << k;
    return {std::string(buf.data(), static_cast<std::size_t>(dst - buf.data())), i};
}

// Runs the shuffle loop of `Blocks` alone over `in`, a multiple of 16 bytes,
// with room to spare: it must take all of it and write the oracle's bytes.
template <class Blocks>
void expectShuffleEscapes(std::string_view in, const std::string &why) {
    ASSERT_EQ(in.size() % kShuffleStep, 0u);
    ShuffleRun run = shuffleOnce<Blocks>(in, 6 * in.size() + Blocks::kRoom);
    EXPECT_EQ(run.taken, in.size()) << why;
    EXPECT_EQ(run.out, oracle(in)) << why;
}

const char kShortEscaped[] = {'\n', '\r', '\t', '"', '\\'};

template <class Blocks>
class JsonEscapeShuffle : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Blocks::available())
            GTEST_SKIP() << "this processor lacks the instructions of the " << Blocks::kBlock << "-byte shuffle loop";
    }
};

using ShuffleLoops = ::testing::Types<je::Ssse3Blocks, je::Avx2Blocks>;
TYPED_TEST_SUITE(JsonEscapeShuffle, ShuffleLoops);

}  // namespace

TYPED_TEST(JsonEscapeShuffle, EveryMaskOfEachHalfWithEachTwoByteEscape) {
    constexpr std::size_t kBlock = TypeParam::kBlock;
    for (std::size_t half = 0; half < kBlock / 8; ++half) {
        for (char c : kShortEscaped) {
            for (unsigned m = 0; m < 256; ++m) {
                // The half under test has `c` where m has a bit; the other
                // halves hold a mix, and a second block follows.
                std::string text = plainText(2 * kBlock);
                for (std::size_t other = 0; other < kBlock / 8; ++other)
                    for (unsigned k = 0; k < 8; ++k)
                        if (other != half && ((0xA5u >> ((k + other) % 8)) & 1)) text[8 * other + k] = kShortEscaped[k % 5];
                for (unsigned k = 0; k < 8; ++k)
                    if ((m >> k) & 1) text[8 * half + k] = c;
                text[kBlock + m % kBlock] = c;
                expectShuffleEscapes<TypeParam>(text, "half " + std::to_string(half) + ", mask " + std::to_string(m) +
                                                          ", byte " + std::to_string(static_cast<int>(c)));
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
}

TYPED_TEST(JsonEscapeShuffle, MasksOfAWholeBlockWithMixedEscapes) {
    // The halves' masks together, with the kinds of escape changing from
    // byte to byte.
    constexpr std::size_t kBlock = TypeParam::kBlock;
    Bytes rng{7};
    for (int round = 0; round < 20000; ++round) {
        const std::uint64_t m = rng.next();
        std::string text = plainText(kBlock);
        for (std::size_t k = 0; k < kBlock; ++k)
            if ((m >> k) & 1) text[k] = kShortEscaped[(k + static_cast<std::size_t>(m >> 40)) % 5];
        expectShuffleEscapes<TypeParam>(text, "mask " + std::to_string(m & ((std::uint64_t{1} << kBlock) - 1)));
        if (::testing::Test::HasFailure()) return;
    }
    expectShuffleEscapes<TypeParam>(std::string(32, '\n') + std::string(32, '"') + "\\\t\r\"\n" + plainText(11),
                                    "blocks of nothing but escapes");
}

TYPED_TEST(JsonEscapeShuffle, EveryByteValueAtEveryPlaceOfABlockAmongEscapes) {
    // Bytes of 0x80 and above, bytes whose low four bits are those of TAB LF
    // CR (')' '*' '-' 0x19 0x1A 0x1D 0x89 0x8A 0x8D ...), DEL, and the
    // control bytes that take \u00XX: each at every place, beside two-byte
    // escapes, and followed by bytes that the shuffle writes.
    const std::string around = "\t a\"b\nc\\d\re\tf\"ghx\ny\tz\"\\012345678";
    ASSERT_EQ(around.size(), 32u);
    for (int c = 0; c < 256; ++c) {
        for (std::size_t at = 0; at < TypeParam::kBlock; ++at) {
            std::string text = around + around;
            text[at] = static_cast<char>(c);
            expectShuffleEscapes<TypeParam>(text, "byte " + std::to_string(c) + " at " + std::to_string(at));
            std::string lone = plainText(64);
            lone[at] = static_cast<char>(c);
            expectShuffleEscapes<TypeParam>(lone, "byte " + std::to_string(c) + " alone at " + std::to_string(at));
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TYPED_TEST(JsonEscapeShuffle, RoomRunningOutAtEveryPoint) {
    // Blocks of two-byte escapes, a block with bytes that take \u00XX,
    // plain blocks and a tail shorter than a block.
    std::string text;
    for (int line = 0; line < 5; ++line) text += "\tif (s == \"\\n\") {\r\n";
    text += std::string("\x01\x1F\n\"", 4) + plainText(60) + "\t\t}\n";
    const std::string want = oracle(text);
    for (std::size_t room = 0; room <= want.size() + je::kRoom; ++room) {
        SCOPED_TRACE("room " + std::to_string(room));
        ShuffleRun run = shuffleOnce<TypeParam>(text, room);
        EXPECT_EQ(run.taken % kShuffleStep, 0u);
        EXPECT_EQ(run.out, oracle(std::string_view(text).substr(0, run.taken)));
        // It stops only when 16 bytes of input or the room for them run short.
        EXPECT_TRUE(text.size() - run.taken < kShuffleStep || room - run.out.size() < kShuffleStepRoom)
            << "stopped after " << run.taken << " bytes";
        // With the word and byte loops after it: a prefix of the text, and
        // all of it once the room holds all of it.
        constexpr char kGuard = '\x5A';
        std::vector<char> buf(room + 64, kGuard);
        std::size_t i = 0;
        char *dst = je::escapeSomeWith<TypeParam>(buf.data(), buf.data() + room, text.data(), text.size(), i);
        ASSERT_LE(dst, buf.data() + room);
        for (std::size_t k = room; k < buf.size(); ++k)
            if (buf[k] != kGuard) ADD_FAILURE() << "wrote past the room at " << k;
        EXPECT_EQ(std::string(buf.data(), static_cast<std::size_t>(dst - buf.data())),
                  oracle(std::string_view(text).substr(0, i)));
        if (room >= want.size() + je::kRoom) {
            EXPECT_EQ(i, text.size());
        }
        if (::testing::Test::HasFailure()) return;
    }
}
#else
TEST(JsonEscapeShuffle, BuiltForX86Only) { GTEST_SKIP() << "the shuffle loops are built for x86-64 with GCC or Clang"; }
#endif
