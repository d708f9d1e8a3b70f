// The JSON string escaper's inner loops. '"' '\\' LF CR TAB get their
// two-byte escapes, every other byte below 0x20 becomes \u00XX with
// lowercase hex digits, and all other bytes pass through.
//
// Text is written in place into a buffer whose room the caller checks: every
// routine here writes at most kRoom bytes past where its output ends per
// step, so a caller keeps at least that much room free. The list exports
// put most of their bytes through escapeSome, which copies plain bytes a
// block at a time and keeps them up to the next byte that needs an escape.
// The portable word-at-a-time loop is used where SSE2 is missing, and both
// are checked against the byte-by-byte escapeBytes.
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

// The block loop that suits this machine, then the word loop for what is
// left of a shorter text, then the bytes: escapes p[i..n) while kRoom bytes
// are free at `dst`, advancing `i`. The word loop is left out where words
// are not little-endian.
inline constexpr std::size_t kRoom = NativeBlocks::kRoom > WordBlocks::kRoom ? NativeBlocks::kRoom : WordBlocks::kRoom;

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

inline char *escapeSome(char *dst, const char *end, const char *p, std::size_t n, std::size_t &i) noexcept {
    return escapeSomeWith<NativeBlocks>(dst, end, p, n, i);
}

}  // namespace quorlina::ffi::json_escape
