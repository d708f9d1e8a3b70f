// The JSON string escaper's inner loops. '"' '\\' LF CR TAB get their
// two-byte escapes, every other byte below 0x20 becomes \u00XX with
// lowercase hex digits, and all other bytes pass through.
//
// Text is written in place into a buffer whose room the caller checks: every
// routine here writes at most kRoom bytes past where its output ends per
// step, so a caller keeps at least that much room free. The list exports
// put most of their bytes through escapeSome. On x86-64 processors with
// SSSE3 (asked once, at load) it expands each half of a 16-byte block with
// one byte shuffle, whatever the number of escapes in it, and with AVX2 two
// such halves at once, 32 bytes a step. Elsewhere it copies plain bytes a
// block at a time with SSE2 and keeps them up to the next byte that needs
// an escape. The portable word-at-a-time loop is used where SSE2 is
// missing, and all of them are checked against the byte-by-byte
// escapeBytes.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The shuffle loops are compiled for SSSE3 and AVX2 function by function,
// so the rest of the library keeps its baseline; GCC and Clang spell that
// the same way.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUORLINA_JSON_ESCAPE_SHUFFLE 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define QUORLINA_JSON_ESCAPE_SHUFFLE 0
#endif

namespace quorlina::ffi::json_escape {

inline constexpr bool needsEscape(unsigned char c) noexcept { return c < 0x20 || c == '"' || c == '\\'; }

// The second byte of the two-byte escapes; 0 for the bytes that take the
// \u00XX form (and for those that need no escape).
inline constexpr std::array<char, 256> kShortEscapes = [] {
    std::array<char, 256> t{};
    t['"'] = '"';
    t['\\'] = '\\';
    t['\n'] = 'n';
    t['\r'] = 'r';
    t['\t'] = 't';
    return t;
}();

// Writes the escape of `c`, a byte that needs one, at `dst` (at most 6
// bytes). Table-driven: line breaks, quotes and tabs alternate
// unpredictably in code, and a branch per kind would be mispredicted often.
inline char *writeEscape(char *dst, unsigned char c) noexcept {
    static constexpr char kHex[] = "0123456789abcdef";
    dst[0] = '\\';
    if (char e = kShortEscapes[c]) {
        dst[1] = e;
        return dst + 2;
    }
    dst[1] = 'u';
    dst[2] = '0';
    dst[3] = '0';
    dst[4] = kHex[c >> 4];
    dst[5] = kHex[c & 0xF];
    return dst + 6;
}

// Byte by byte: the reference the block loops must agree with, and the
// loop for the last few bytes of a text. Writes at most 6 * n bytes.
inline char *escapeBytes(char *dst, const char *p, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(p[i]);
        if (needsEscape(c)) {
            dst = writeEscape(dst, c);
        } else {
            *dst++ = static_cast<char>(c);
        }
    }
    return dst;
}

// Eight bytes at a time in a plain 64-bit word (little-endian only).
struct WordBlocks {
    // Room needed per step: the word copied and an escape after it.
    static constexpr std::size_t kRoom = 8 + 6;

    // Escapes p[i..n) while more than a word is left and kRoom bytes are
    // free at `dst`; returns the end of the output and advances `i`.
    static char *escapeSome(char *dst, const char *end, const char *p, std::size_t n, std::size_t &i) noexcept {
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
        constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
        while (i + 8 < n && end - dst >= static_cast<std::ptrdiff_t>(kRoom)) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            std::memcpy(dst, &w, 8);
            // The high bit of every lane holding a byte below 0x20, a '"' or
            // a '\\'. Borrows can set lanes above a match, never below one,
            // so the lowest set lane is the first match.
            std::uint64_t quote = w ^ (kOnes * '"');
            std::uint64_t backslash = w ^ (kOnes * '\\');
            std::uint64_t hits =
                (((w - kOnes * 0x20) & ~w) | ((quote - kOnes) & ~quote) | ((backslash - kOnes) & ~backslash)) & kHighs;
            if (hits == 0) {
                dst += 8;
                i += 8;
                continue;
            }
            auto k = static_cast<std::size_t>(std::countr_zero(hits) / 8);
            dst = writeEscape(dst + k, static_cast<unsigned char>(p[i + k]));
            i += k + 1;
        }
        return dst;
    }
};

#if defined(__SSE2__)
// Sixteen bytes at a time with SSE2, a chunk of four blocks per step.
struct Sse2Blocks {
    static constexpr std::size_t kChunk = 64;
    // Room needed per step: a chunk of escapes of six and a copy of a chunk.
    static constexpr std::size_t kRoom = kChunk * 6 + kChunk;

    static __m128i load(const char *p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
    static void store(char *p, __m128i v) noexcept { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

    // One bit per byte of `v` that needs an escape.
    static std::uint64_t specialMask(__m128i v) noexcept {
        // Unsigned v < 0x20 is min(v, 0x1f) == v.
        __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1f)), v);
        __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
        __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(control, _mm_or_si128(quote, backslash))));
    }

    static void copyChunk(char *dst, const char *src) noexcept {
        for (std::size_t b = 0; b < kChunk; b += 16) store(dst + b, load(src + b));
    }

    // Escapes p[i..n) in chunks while two chunks of input are left (the
    // copy after an escape reads a chunk past it) and kRoom bytes are free
    // at `dst`. A chunk is copied whole and tested once; after each byte that
    // needs an escape, the rest of the chunk is copied again behind the
    // escape. Returns the end of the output and advances `i`.
    static char *escapeSome(char *dst, const char *end, const char *p, std::size_t n, std::size_t &i) noexcept {
        while (i + 2 * kChunk <= n && end - dst >= static_cast<std::ptrdiff_t>(kRoom)) {
            std::uint64_t mask = 0;
            for (std::size_t b = 0; b < kChunk; b += 16) {
                __m128i v = load(p + i + b);
                store(dst + b, v);
                mask |= specialMask(v) << b;
            }
            std::size_t done = 0;  // bytes of this chunk already in place or escaped
            while (mask != 0) {
                auto k = static_cast<std::size_t>(std::countr_zero(mask));
                dst = writeEscape(dst + (k - done), static_cast<unsigned char>(p[i + k]));
                done = k + 1;
                mask &= mask - 1;
                copyChunk(dst, p + i + done);
            }
            dst += kChunk - done;
            i += kChunk;
        }
        return dst;
    }
};
using NativeBlocks = Sse2Blocks;
#else
using NativeBlocks = WordBlocks;
#endif

#if QUORLINA_JSON_ESCAPE_SHUFFLE
// What this processor can run, from CPUID: SSSE3's byte shuffle (leaf 1,
// ECX), and AVX2 (leaf 7, EBX) with the system saving the 256-bit
// registers (OSXSAVE, then XCR0's SSE and AVX state bits).
inline bool processorHasSsse3() noexcept {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_SSSE3) != 0;
}

inline bool processorHasAvx2() noexcept {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
    unsigned xcr0 = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    if ((xcr0 & 0x6) != 0x6) return false;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (ebx & bit_AVX2) != 0;
}

// Asked once, when the library is loaded. Until then they read false and
// the SSE2 loop runs, which writes the same bytes.
inline const bool kHasSsse3 = processorHasSsse3();
inline const bool kHasAvx2 = kHasSsse3 && processorHasAvx2();

// Sixteen bytes at a time with SSSE3, each 8-byte half expanded by one byte
// shuffle. The half's bytes, with LF CR TAB already turned into n r t, sit
// in lanes 0-7 and backslashes in lanes 8-15; the shuffle for the half's
// mask of bytes to escape picks, in order, a backslash before each of those
// bytes and the byte itself. No branch depends on where the escapes are. A
// block holding a control byte that takes \u00XX (rare in text) is escaped
// byte by byte.
struct Ssse3Blocks {
    static constexpr std::size_t kBlock = 16;
    // Room needed per step: a block of escapes of six. A block of two-byte
    // escapes writes 32.
    static constexpr std::size_t kRoom = kBlock * 6;

    struct alignas(16) Lanes {
        unsigned char at[16];
    };

    // For each mask of an 8-byte half: the shuffle that writes it escaped.
    // Lanes past its output pick nothing (0x80 gives a zero byte), and the
    // next store or the caller's room takes them.
    static constexpr std::array<Lanes, 256> kShuffle = [] {
        std::array<Lanes, 256> t{};
        for (unsigned m = 0; m < 256; ++m) {
            unsigned out = 0;
            for (unsigned k = 0; k < 8; ++k) {
                if ((m >> k) & 1) t[m].at[out++] = 8;
                t[m].at[out++] = static_cast<unsigned char>(k);
            }
            while (out < 16) t[m].at[out++] = 0x80;
        }
        return t;
    }();

    // For each mask of an 8-byte half: the length of its output.
    static constexpr std::array<unsigned char, 256> kLength = [] {
        std::array<unsigned char, 256> t{};
        for (unsigned m = 0; m < 256; ++m) t[m] = static_cast<unsigned char>(8 + std::popcount(m));
        return t;
    }();

    // Looked up by a byte's low four bits (bytes of 0x80 and above look up
    // 0). For TAB LF CR: what turns them into t n r.
    static constexpr char kToLetter[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 't' - '\t', 'n' - '\n', 0, 0, 'r' - '\r', 0, 0};
    // The control byte with those low bits that has a two-byte escape;
    // elsewhere 0x7f, which is no control byte.
    static constexpr char kShortControls[16] = {0x7f, 0x7f, 0x7f, 0x7f, 0x7f, 0x7f, 0x7f, 0x7f,
                                                0x7f, '\t', '\n', 0x7f, 0x7f, '\r', 0x7f, 0x7f};

    static bool available() noexcept { return kHasSsse3; }

    __attribute__((target("ssse3"))) static __m128i shuffleOf(unsigned mask) noexcept {
        return _mm_load_si128(reinterpret_cast<const __m128i *>(kShuffle[mask].at));
    }

    // Escapes p[i..n) a block at a time while a block of input is left and
    // kRoom bytes are free at `dst`; returns the end of the output and
    // advances `i`.
    __attribute__((target("ssse3"))) static char *escapeSome(char *dst, const char *end, const char *p,
                                                                std::size_t n, std::size_t &i) noexcept {
        const __m128i backslashes = _mm_set1_epi8('\\');
        const __m128i quotes = _mm_set1_epi8('"');
        const __m128i controlMax = _mm_set1_epi8(0x1f);
        const __m128i toLetter = _mm_loadu_si128(reinterpret_cast<const __m128i *>(kToLetter));
        const __m128i shortControls = _mm_loadu_si128(reinterpret_cast<const __m128i *>(kShortControls));
        std::size_t at = i;
        while (at + kBlock <= n && end - dst >= static_cast<std::ptrdiff_t>(kRoom)) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + at));
            // Unsigned v < 0x20 is min(v, 0x1f) == v.
            const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, controlMax), v);
            const __m128i special =
                _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi8(v, quotes), _mm_cmpeq_epi8(v, backslashes)));
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(special));
            const __m128i shortControl = _mm_cmpeq_epi8(_mm_shuffle_epi8(shortControls, v), v);
            if (_mm_movemask_epi8(_mm_andnot_si128(shortControl, control)) != 0) {
                dst = escapeBytes(dst, p + at, kBlock);
                at += kBlock;
                continue;
            }
            const __m128i letters = _mm_add_epi8(v, _mm_and_si128(control, _mm_shuffle_epi8(toLetter, v)));
            const unsigned low = mask & 0xFF, high = mask >> 8;
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst),
                             _mm_shuffle_epi8(_mm_unpacklo_epi64(letters, backslashes), shuffleOf(low)));
            dst += kLength[low];
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst),
                             _mm_shuffle_epi8(_mm_unpackhi_epi64(letters, backslashes), shuffleOf(high)));
            dst += kLength[high];
            at += kBlock;
        }
        i = at;
        return dst;
    }
};

// The same with AVX2, 32 bytes at a time: one 256-bit shuffle works on two
// halves, one in each 128-bit lane, so the bytes 0-7 and 16-23 of a block
// are expanded together, then 8-15 and 24-31, and stored in order. What is
// left under a block and over 16 bytes goes through the SSSE3 loop.
struct Avx2Blocks {
    static constexpr std::size_t kBlock = 32;
    // Room needed per step: a block of escapes of six.
    static constexpr std::size_t kRoom = kBlock * 6;

    static bool available() noexcept { return kHasAvx2; }

    // The shuffles for the masks `a` (low lane) and `b` (high lane).
    __attribute__((target("avx2"))) static __m256i shufflesOf(unsigned a, unsigned b) noexcept {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(Ssse3Blocks::shuffleOf(a)), Ssse3Blocks::shuffleOf(b), 1);
    }

    __attribute__((target("avx2"))) static __m256i twice(const char (&lanes)[16]) noexcept {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(lanes)));
    }

    // Escapes p[i..n) a block at a time while a block of input is left and
    // kRoom bytes are free at `dst`, then one more 16 bytes if they are left;
    // returns the end of the output and advances `i`.
    __attribute__((target("avx2"))) static char *escapeSome(char *dst, const char *end, const char *p,
                                                               std::size_t n, std::size_t &i) noexcept {
        const __m256i backslashes = _mm256_set1_epi8('\\');
        const __m256i quotes = _mm256_set1_epi8('"');
        const __m256i controlMax = _mm256_set1_epi8(0x1f);
        const __m256i toLetter = twice(Ssse3Blocks::kToLetter);
        const __m256i shortControls = twice(Ssse3Blocks::kShortControls);
        std::size_t at = i;
        while (at + kBlock <= n && end - dst >= static_cast<std::ptrdiff_t>(kRoom)) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + at));
            const __m256i control = _mm256_cmpeq_epi8(_mm256_min_epu8(v, controlMax), v);
            const __m256i special = _mm256_or_si256(
                control, _mm256_or_si256(_mm256_cmpeq_epi8(v, quotes), _mm256_cmpeq_epi8(v, backslashes)));
            const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(special));
            const __m256i shortControl = _mm256_cmpeq_epi8(_mm256_shuffle_epi8(shortControls, v), v);
            if (_mm256_movemask_epi8(_mm256_andnot_si256(shortControl, control)) != 0) {
                dst = escapeBytes(dst, p + at, kBlock);
                at += kBlock;
                continue;
            }
            const __m256i letters = _mm256_add_epi8(v, _mm256_and_si256(control, _mm256_shuffle_epi8(toLetter, v)));
            const unsigned m0 = mask & 0xFF, m1 = (mask >> 8) & 0xFF, m2 = (mask >> 16) & 0xFF, m3 = mask >> 24;
            const __m256i first = _mm256_shuffle_epi8(_mm256_unpacklo_epi64(letters, backslashes), shufflesOf(m0, m2));
            const __m256i second = _mm256_shuffle_epi8(_mm256_unpackhi_epi64(letters, backslashes), shufflesOf(m1, m3));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm256_castsi256_si128(first));
            dst += Ssse3Blocks::kLength[m0];
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm256_castsi256_si128(second));
            dst += Ssse3Blocks::kLength[m1];
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm256_extracti128_si256(first, 1));
            dst += Ssse3Blocks::kLength[m2];
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm256_extracti128_si256(second, 1));
            dst += Ssse3Blocks::kLength[m3];
            at += kBlock;
        }
        i = at;
        return Ssse3Blocks::escapeSome(dst, end, p, n, i);
    }
};
#endif

// The block loop that suits this machine, then the word loop for what is
// left of a shorter text, then the bytes: escapes p[i..n) while kRoom bytes
// are free at `dst`, advancing `i`. The word loop is left out where words
// are not little-endian.
#if QUORLINA_JSON_ESCAPE_SHUFFLE
inline constexpr std::size_t kShuffleRoom = std::max(Ssse3Blocks::kRoom, Avx2Blocks::kRoom);
#else
inline constexpr std::size_t kShuffleRoom = 0;
#endif
inline constexpr std::size_t kRoom = std::max({NativeBlocks::kRoom, WordBlocks::kRoom, kShuffleRoom});

template <class Blocks>
char *escapeSomeWith(char *dst, const char *end, const char *p, std::size_t n, std::size_t &i) noexcept {
    constexpr bool kWords = std::endian::native == std::endian::little;
    if constexpr (kWords || !std::is_same_v<Blocks, WordBlocks>) dst = Blocks::escapeSome(dst, end, p, n, i);
    if constexpr (kWords) dst = WordBlocks::escapeSome(dst, end, p, n, i);
    // Byte by byte: the last few bytes after the words, or, where words are
    // not read, as many as the room holds.
    const std::size_t fits = end > dst ? static_cast<std::size_t>(end - dst) / 6 : 0;
    std::size_t bytes = n - i;
    if (kWords && bytes > 8) bytes = 0;
    bytes = std::min(bytes, fits);
    dst = escapeBytes(dst, p + i, bytes);
    i += bytes;
    return dst;
}

// The same with the fastest block loop this processor runs: the AVX2 or
// SSSE3 shuffles where it has them, else the loop the build targets.
inline char *escapeSome(char *dst, const char *end, const char *p, std::size_t n, std::size_t &i) noexcept {
#if QUORLINA_JSON_ESCAPE_SHUFFLE
    if (Avx2Blocks::available()) return escapeSomeWith<Avx2Blocks>(dst, end, p, n, i);
    if (Ssse3Blocks::available()) return escapeSomeWith<Ssse3Blocks>(dst, end, p, n, i);
#endif
    return escapeSomeWith<NativeBlocks>(dst, end, p, n, i);
}

}  // namespace quorlina::ffi::json_escape
