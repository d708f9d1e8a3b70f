#include "ffi/json.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorlina::ffi {

namespace {

inline bool isPlain(unsigned char c) noexcept { return c >= 0x20 && c != '"' && c != '\\'; }

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// The high bit of every lane of `w` (eight bytes, the first in the lowest
// lane) that holds a byte below 0x20, a '"' or a '\\'. Borrows can set lanes
// above a match, never below one, so the lowest set lane is the first match.
inline std::uint64_t specialLanes(std::uint64_t w) noexcept {
    std::uint64_t quote = w ^ (kOnes * '"');
    std::uint64_t backslash = w ^ (kOnes * '\\');
    return (((w - kOnes * 0x20) & ~w) | ((quote - kOnes) & ~quote) | ((backslash - kOnes) & ~backslash)) & kHighs;
}

// The letter after the backslash of the two-byte escapes, 0 for the
// bytes that take the \u00XX form (and for those needing no escape).
constexpr auto kShortEscapes = [] {
    std::array<char, 256> t{};
    t['"'] = '"';
    t['\\'] = '\\';
    t['\n'] = 'n';
    t['\r'] = 'r';
    t['\t'] = 't';
    return t;
}();

// Writes the escape of the special byte `c` (at most 6 bytes) at `dst`.
// Table-driven: line breaks, quotes and tabs alternate unpredictably in
// code, and a branch per kind would be mispredicted often.
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

// The index of the first byte at or after `i` that needs an escape, or
// `n`, testing eight bytes at a time.
std::size_t nextSpecial(const char *p, std::size_t i, std::size_t n) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= n; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            if (std::uint64_t hits = specialLanes(w)) return i + static_cast<std::size_t>(std::countr_zero(hits) / 8);
        }
    }
    while (i < n && isPlain(static_cast<unsigned char>(p[i]))) ++i;
    return i;
}

// One escaping routine for both kinds of output buffer.
template <class Out>
void appendEscapedTo(Out &out, std::string_view in) {
    static constexpr char kHex[] = "0123456789abcdef";
    // Copy runs of plain bytes in one go; only the few special bytes are
    // handled one by one.
    const std::size_t n = in.size();
    std::size_t runStart = 0;
    for (;;) {
        std::size_t i = nextSpecial(in.data(), runStart, n);
        out.append(in.data() + runStart, i - runStart);
        if (i == n) break;
        unsigned char c = static_cast<unsigned char>(in[i]);
        runStart = i + 1;
        switch (c) {
            case '"': out.append("\\\"", 2); break;
            case '\\': out.append("\\\\", 2); break;
            case '\n': out.append("\\n", 2); break;
            case '\r': out.append("\\r", 2); break;
            case '\t': out.append("\\t", 2); break;
            default: {
                const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
                out.append(esc, 6);
            }
        }
    }
}

}  // namespace

void appendEscapedJson(std::string &out, std::string_view in) { appendEscapedTo(out, in); }

// Copies a block of plain bytes from `src` to `dst` (both with room for a
// whole block) and returns how many bytes before the first special byte it
// holds, or kBlock when there is none.
#if defined(__SSE2__)
constexpr std::size_t kBlock = 16;

// One bit per byte of the 16 at `src` that needs an escape.
inline unsigned specialMask(__m128i v) noexcept {
    // Unsigned v < 0x20 is min(v, 0x1f) == v.
    __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1f)), v);
    __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
    __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, _mm_or_si128(quote, backslash))));
}

inline __m128i load16(const char *p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline void store16(char *p, __m128i v) noexcept { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

inline std::size_t copyBlock(char *dst, const char *src) noexcept {
    __m128i v = load16(src);
    store16(dst, v);
    unsigned mask = specialMask(v);
    return mask == 0 ? kBlock : static_cast<std::size_t>(std::countr_zero(mask));
}

// Escapes whole blocks of 16 while 32 bytes of input are left, so that the
// bytes after each special one can be copied with one more load of 16 that
// stays inside the input. Each block is tested once, however many special
// bytes it holds. Needs 112 free bytes at `dst` per block (16 escapes of
// six and a copy of 16). Returns how far the input was consumed.
inline std::size_t escapeBlocks(const char *p, std::size_t n, char *&dst, const char *end) noexcept {
    std::size_t i = 0;
    while (i + 32 <= n && end - dst >= 112) {
        __m128i v = load16(p + i);
        store16(dst, v);
        unsigned mask = specialMask(v);
        std::size_t done = 0;  // bytes of this block already in place or escaped
        while (mask != 0) {
            std::size_t k = static_cast<std::size_t>(std::countr_zero(mask));
            dst += k - done;
            dst = writeEscape(dst, static_cast<unsigned char>(p[i + k]));
            done = k + 1;
            mask &= mask - 1;
            store16(dst, load16(p + i + done));
        }
        dst += kBlock - done;
        i += kBlock;
    }
    return i;
}
#else
constexpr std::size_t kBlock = 8;
inline std::size_t copyBlock(char *dst, const char *src) noexcept {
    std::uint64_t w;
    std::memcpy(&w, src, 8);
    std::memcpy(dst, &w, 8);
    std::uint64_t hits = specialLanes(w);
    return hits == 0 ? kBlock : static_cast<std::size_t>(std::countr_zero(hits) / 8);
}
#endif

// The list exports put most of their bytes through here, so this one
// writes in place: a block of bytes is copied at once and kept up to the
// first byte that needs an escape. At the top of each round 32 bytes are
// free, enough for a block, the bytes kept and an escape of six.
void appendEscapedJson(CHeapText &out, std::string_view in) {
    if constexpr (std::endian::native != std::endian::little) {
        appendEscapedTo(out, in);
    } else {
        const char *p = in.data();
        const std::size_t n = in.size();
        std::size_t i = 0;
        char *dst = out.writableEnd(n + n / 8 + 32);
        char *end = out.capacityEnd();
#if defined(__SSE2__)
        for (;;) {
            i += escapeBlocks(p + i, n - i, dst, end);
            if (n - i < 32) break;
            // Out of room for a block: more, for what is left.
            out.setEnd(dst);
            dst = out.writableEnd((n - i) + (n - i) / 8 + 112);
            end = out.capacityEnd();
        }
#endif
        while (i < n) {
            if (end - dst < 32) {
                out.setEnd(dst);
                dst = out.writableEnd((n - i) + (n - i) / 8 + 32);
                end = out.capacityEnd();
            }
            if (i + kBlock <= n) {
                std::size_t k = copyBlock(dst, p + i);
                dst += k;
                i += k;
                if (k == kBlock) continue;
            } else if (isPlain(static_cast<unsigned char>(p[i]))) {
                *dst++ = p[i++];
                continue;
            }
            dst = writeEscape(dst, static_cast<unsigned char>(p[i]));
            ++i;
        }
        out.setEnd(dst);
    }
}

std::string escapeJson(std::string_view in) {
    std::string out;
    out.reserve(in.size() + in.size() / 8);
    appendEscapedJson(out, in);
    return out;
}

void appendJsonString(std::string &out, std::string_view in) {
    out.push_back('"');
    appendEscapedJson(out, in);
    out.push_back('"');
}

void appendJsonStringArray(std::string &out, const std::vector<std::string> &items) {
    out.push_back('[');
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out.push_back(',');
        appendJsonString(out, items[i]);
    }
    out.push_back(']');
}

}  // namespace quorlina::ffi
