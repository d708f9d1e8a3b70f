#include "core/toml_lexer.hpp"

#include <array>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorlina::toml {

namespace {

// Byte classes. A byte that ends a run of plain string content: a quote,
// a backslash, a control byte (tab aside), DEL or any non-ASCII byte.
enum : std::uint8_t { kPlain = 0, kSpecial = 1 };

constexpr std::array<std::uint8_t, 256> makeStringTable(char quote, bool backslash) {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        bool special = (c < 0x20 && c != '\t') || c == 0x7F || c >= 0x80 || c == static_cast<unsigned char>(quote) ||
                       (backslash && c == '\\');
        t[static_cast<std::size_t>(c)] = special ? kSpecial : kPlain;
    }
    return t;
}

// The run tables: basic strings ('"', true), literal strings ('\'', false)
// and comments, which stop at control bytes, non-ASCII bytes and "+"
// ('+', false).
template <char Quote, bool Backslash>
inline constexpr std::array<std::uint8_t, 256> kRunTable = makeStringTable(Quote, Backslash);

inline std::uint8_t byteAt(std::string_view s, std::size_t i) noexcept { return static_cast<unsigned char>(s[i]); }

// Bytes of bare keys: letters, digits, "_" and "-" (one lookup per byte).
constexpr std::array<bool, 256> kBareKeyBytes = [] {
    std::array<bool, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[static_cast<std::size_t>(c)] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                         c == '_' || c == '-';
    return t;
}();
inline bool isBareKeyByte(char c) noexcept { return kBareKeyBytes[static_cast<unsigned char>(c)]; }
inline bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }
inline bool isHex(char c) noexcept { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline int hexValue(char c) noexcept {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

// Deeper nesting of arrays and inline tables than this is refused.
constexpr int kMaxDepth = 512;

// The length of the UTF-8 sequence at s[i], or 0 when it is not a valid one.
std::size_t utf8Length(std::string_view s, std::size_t i) noexcept {
    const std::uint8_t b0 = byteAt(s, i);
    std::size_t n;
    std::uint32_t min;
    std::uint32_t cp;
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2, min = 0x80, cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3, min = 0x800, cp = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4, min = 0x10000, cp = b0 & 0x07u;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const std::uint8_t b = byteAt(s, i + k);
        if ((b & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// Skips the plain ASCII bytes (those of kRunTable<Quote, Backslash> that
// are plain and below 0x80) from s[i] sixteen at a time: returns the first
// other byte, or where fewer than sixteen bytes are left, for the byte loop
// to take on. Without SSE2 it skips nothing.
template <char Quote, bool Backslash>
inline std::size_t skipPlainBlocks(const unsigned char *p, std::size_t n, std::size_t i) noexcept {
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i del = _mm_set1_epi8(0x7F);
    const __m128i quote = _mm_set1_epi8(Quote);
    const __m128i backslash = _mm_set1_epi8('\\');
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        // Signed, bytes below 0x20 and every byte from 0x80 compare less
        // than a space; a tab among them is plain.
        __m128i stop = _mm_andnot_si128(_mm_cmpeq_epi8(v, tab), _mm_cmplt_epi8(v, space));
        stop = _mm_or_si128(stop, _mm_or_si128(_mm_cmpeq_epi8(v, del), _mm_cmpeq_epi8(v, quote)));
        if constexpr (Backslash) stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, backslash));
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(stop)))
            return i + static_cast<std::size_t>(std::countr_zero(mask));
        i += 16;
    }
#else
    (void)p, (void)n;
#endif
    return i;
}

// The end of the run of plain bytes (see the tables) and valid UTF-8
// sequences that starts at s[i].
template <char Quote, bool Backslash>
inline std::size_t skipRun(std::string_view s, std::size_t i) noexcept {
    constexpr const auto &table = kRunTable<Quote, Backslash>;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const std::size_t n = s.size();
    for (;;) {
        i = skipPlainBlocks<Quote, Backslash>(p, n, i);
        while (i < n && table[p[i]] == kPlain) ++i;
        if (i == n || p[i] < 0x80) return i;
        std::size_t k = utf8Length(s, i);
        if (k == 0) return i;
        i += k;
    }
}

bool isLeapYear(unsigned y) noexcept { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Reads `count` digits at s[at] into `value`.
bool digits(std::string_view s, std::size_t at, std::size_t count, unsigned &value) noexcept {
    if (at + count > s.size()) return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!isDigit(s[at + i])) return false;
        value = value * 10 + static_cast<unsigned>(s[at + i] - '0');
    }
    return true;
}

// A full date YYYY-MM-DD at `at`; the offset after it or npos.
std::size_t fullDate(std::string_view s, std::size_t at) noexcept {
    unsigned y, m, d;
    if (!digits(s, at, 4, y) || at + 4 >= s.size() || s[at + 4] != '-' || !digits(s, at + 5, 2, m) ||
        at + 7 >= s.size() || s[at + 7] != '-' || !digits(s, at + 8, 2, d))
        return npos;
    static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1) return npos;
    unsigned maxDay = kDays[m - 1] + (m == 2 && isLeapYear(y) ? 1 : 0);
    if (d > maxDay) return npos;
    return at + 10;
}

// A partial time HH:MM:SS with an optional fraction at `at`.
std::size_t partialTime(std::string_view s, std::size_t at) noexcept {
    unsigned h, m, sec;
    if (!digits(s, at, 2, h) || at + 2 >= s.size() || s[at + 2] != ':' || !digits(s, at + 3, 2, m) ||
        at + 5 >= s.size() || s[at + 5] != ':' || !digits(s, at + 6, 2, sec))
        return npos;
    if (h > 23 || m > 59 || sec > 59) return npos;
    std::size_t i = at + 8;
    if (i < s.size() && s[i] == '.') {
        std::size_t j = i + 1;
        while (j < s.size() && isDigit(s[j])) ++j;
        if (j == i + 1) return npos;
        i = j;
    }
    return i;
}

// A time offset: Z, or +HH:MM / -HH:MM.
std::size_t timeOffset(std::string_view s, std::size_t at) noexcept {
    if (at < s.size() && (s[at] == 'Z' || s[at] == 'z')) return at + 1;
    if (at < s.size() && (s[at] == '+' || s[at] == '-')) {
        unsigned h, m;
        if (!digits(s, at + 1, 2, h) || at + 3 >= s.size() || s[at + 3] != ':' || !digits(s, at + 4, 2, m))
            return npos;
        if (h > 23 || m > 59) return npos;
        return at + 6;
    }
    return at;
}

// Digits with single underscores between them, starting at a digit:
// the offset after them, or npos.
std::size_t digitRun(std::string_view s, std::size_t at, bool (*isDigitOf)(char)) noexcept {
    if (at >= s.size() || !isDigitOf(s[at])) return npos;
    std::size_t i = at + 1;
    for (;;) {
        if (i < s.size() && isDigitOf(s[i])) {
            ++i;
        } else if (i + 1 < s.size() && s[i] == '_' && isDigitOf(s[i + 1])) {
            i += 2;
        } else {
            return i;
        }
    }
}

bool isOctal(char c) noexcept { return c >= '0' && c <= '7'; }
bool isBinary(char c) noexcept { return c == '0' || c == '1'; }
bool isDecimal(char c) noexcept { return isDigit(c); }
bool isHexDigit(char c) noexcept { return isHex(c); }

// A number (integer or float) at `at`.
std::size_t number(std::string_view s, std::size_t at) noexcept {
    std::size_t i = at;
    bool sign = i < s.size() && (s[i] == '+' || s[i] == '-');
    if (sign) ++i;
    if (s.substr(i, 3) == "inf" || s.substr(i, 3) == "nan") return i + 3;
    if (!sign && i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'o' || s[i + 1] == 'b')) {
        bool (*of)(char) = s[i + 1] == 'x' ? isHexDigit : s[i + 1] == 'o' ? isOctal : isBinary;
        return digitRun(s, i + 2, of);
    }
    std::size_t intEnd = digitRun(s, i, isDecimal);
    if (intEnd == npos) return npos;
    // No leading zeros in the integer part.
    if (s[i] == '0' && intEnd != i + 1) return npos;
    std::size_t j = intEnd;
    if (j < s.size() && s[j] == '.') {
        j = digitRun(s, j + 1, isDecimal);
        if (j == npos) return npos;
    }
    if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
        j = digitRun(s, k, isDecimal);
        if (j == npos) return npos;
    }
    return j;
}

}  // namespace

bool isValidUtf8(std::string_view s) noexcept {
    for (std::size_t i = 0; i < s.size();) {
        if (byteAt(s, i) < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = utf8Length(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::size_t Lexer::utf8(std::size_t at) noexcept {
    std::size_t n = utf8Length(s_, at);
    if (n == 0) {
        // A sequence cut by the end of the text might be whole in more.
        if (s_.size() - at < 4) ranOut_ = true;
        return npos;
    }
    return at + n;
}

std::size_t Lexer::comment(std::size_t at) noexcept {
    std::size_t i = at + 1;
    for (;;) {
        i = skipRun<'+', false>(s_, i);
        if (i == s_.size()) return i;
        const std::uint8_t c = byteAt(s_, i);
        if (c == '\n' || (c == '\r' && i + 1 < s_.size() && s_[i + 1] == '\n')) return i;
        if (c == '+') {
            if (watch_ && s_.substr(i, 3) == "+++") {
                delimiter_ = i;
                return npos;
            }
            ++i;
        } else if (c >= 0x80) {
            i = utf8(i);
            if (i == npos) return npos;
        } else {
            if (c == '\r' && i + 1 == s_.size()) ranOut_ = true;
            return npos;  // a control byte
        }
    }
}

std::size_t Lexer::blanksCommentsAndBreaks(std::size_t at) noexcept {
    for (;;) {
        at = skipBlanks(at);
        if (at < s_.size() && s_[at] == '#') {
            at = comment(at);
            if (at == npos) return npos;
        }
        std::size_t br = lineBreakAt(at);
        if (br == 0) return at;
        at += br;
    }
}

std::size_t Lexer::escape(std::size_t at) noexcept {
    // s_[at] is the backslash.
    if (at + 1 >= s_.size()) return end();
    switch (s_[at + 1]) {
    case 'b':
    case 't':
    case 'n':
    case 'f':
    case 'r':
    case '"':
    case '\\':
        return at + 2;
    case 'u':
    case 'U': {
        const std::size_t count = s_[at + 1] == 'u' ? 4 : 8;
        if (at + 2 + count > s_.size()) {
            for (std::size_t k = at + 2; k < s_.size(); ++k)
                if (!isHex(s_[k])) return npos;
            return end();
        }
        std::uint32_t cp = 0;
        for (std::size_t k = 0; k < count; ++k) {
            char c = s_[at + 2 + k];
            if (!isHex(c)) return npos;
            cp = (cp << 4) | static_cast<std::uint32_t>(hexValue(c));
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return npos;
        return at + 2 + count;
    }
    default:
        return npos;
    }
}

std::size_t Lexer::basicString(std::size_t at, bool &escaped) noexcept {
    std::size_t i = at + 1;
    for (;;) {
        i = skipRun<'"', true>(s_, i);
        if (i == s_.size()) return end();
        const std::uint8_t c = byteAt(s_, i);
        if (c == '"') return i + 1;
        if (c == '\\') {
            escaped = true;
            i = escape(i);
        } else if (c >= 0x80) {
            i = utf8(i);
        } else {
            return npos;  // a control byte, a line break among them
        }
        if (i == npos) return npos;
    }
}

std::size_t Lexer::literalString(std::size_t at) noexcept {
    std::size_t i = at + 1;
    for (;;) {
        i = skipRun<'\'', false>(s_, i);
        if (i == s_.size()) return end();
        const std::uint8_t c = byteAt(s_, i);
        if (c == '\'') return i + 1;
        if (c < 0x80) return npos;
        i = utf8(i);
        if (i == npos) return npos;
    }
}

std::size_t Lexer::multiBasicString(std::size_t at) noexcept {
    std::size_t i = at + 3;
    for (;;) {
        i = skipRun<'"', true>(s_, i);
        if (i == s_.size()) return end();
        const std::uint8_t c = byteAt(s_, i);
        if (c == '"') {
            std::size_t q = i;
            while (q < s_.size() && s_[q] == '"') ++q;
            const std::size_t run = q - i;
            if (run >= 3) {
                // Up to two quotes before the closing three belong to the
                // string; more are not allowed.
                if (run > 5) return npos;
                if (q == s_.size()) ranOut_ = true;
                return q;
            }
            if (q == s_.size()) return end();
            i = q;
        } else if (c == '\\') {
            // A backslash before blanks and a line break joins the lines.
            std::size_t j = skipBlanks(i + 1);
            if (lineBreakAt(j) != 0) {
                i = j;
            } else if (j == s_.size()) {
                return end();
            } else {
                i = escape(i);
                if (i == npos) return npos;
            }
        } else if (c == '\n') {
            ++i;
        } else if (c == '\r') {
            if (i + 1 == s_.size()) return end();
            if (s_[i + 1] != '\n') return npos;
            i += 2;
        } else if (c >= 0x80) {
            i = utf8(i);
            if (i == npos) return npos;
        } else {
            return npos;
        }
    }
}

std::size_t Lexer::multiLiteralString(std::size_t at) noexcept {
    std::size_t i = at + 3;
    for (;;) {
        i = skipRun<'\'', false>(s_, i);
        if (i == s_.size()) return end();
        const std::uint8_t c = byteAt(s_, i);
        if (c == '\'') {
            std::size_t q = i;
            while (q < s_.size() && s_[q] == '\'') ++q;
            const std::size_t run = q - i;
            if (run >= 3) {
                if (run > 5) return npos;
                if (q == s_.size()) ranOut_ = true;
                return q;
            }
            if (q == s_.size()) return end();
            i = q;
        } else if (c == '\n') {
            ++i;
        } else if (c == '\r') {
            if (i + 1 == s_.size()) return end();
            if (s_[i + 1] != '\n') return npos;
            i += 2;
        } else if (c >= 0x80) {
            i = utf8(i);
            if (i == npos) return npos;
        } else {
            return npos;
        }
    }
}

std::size_t Lexer::simpleKey(std::size_t at, bool &escaped) noexcept {
    if (at >= s_.size()) return end();
    const char c = s_[at];
    if (c == '"') {
        // A key is a one-line string; three quotes open none.
        if (s_.substr(at, 3) == "\"\"\"") return npos;
        return basicString(at, escaped);
    }
    if (c == '\'') {
        if (s_.substr(at, 3) == "'''") return npos;
        return literalString(at);
    }
    std::size_t i = at;
    while (i < s_.size() && isBareKeyByte(s_[i])) ++i;
    if (i == s_.size()) ranOut_ = true;
    return i == at ? npos : i;
}

std::size_t Lexer::key(std::size_t at, KeyShape &shape) noexcept {
    shape = {};
    bool escaped = false;
    std::size_t i = simpleKey(at, escaped);
    if (i == npos) return npos;
    shape.quoted = s_[at] == '"' || s_[at] == '\'';
    shape.escaped = escaped;
    for (;;) {
        std::size_t j = skipBlanks(i);
        if (j >= s_.size() || s_[j] != '.') return i;
        j = skipBlanks(j + 1);
        bool partEscaped = false;
        std::size_t k = simpleKey(j, partEscaped);
        if (k == npos) return npos;
        shape.dotted = true;
        i = k;
    }
}

std::size_t Lexer::header(std::size_t at) noexcept {
    const bool arrayOfTables = at + 1 < s_.size() && s_[at + 1] == '[';
    std::size_t i = skipBlanks(at + (arrayOfTables ? 2 : 1));
    KeyShape shape;
    i = key(i, shape);
    if (i == npos) return npos;
    i = skipBlanks(i);
    if (i >= s_.size()) return end();
    if (s_[i] != ']') return npos;
    if (!arrayOfTables) return i + 1;
    if (i + 1 >= s_.size()) return end();
    return s_[i + 1] == ']' ? i + 2 : npos;
}

std::size_t Lexer::array(std::size_t at) noexcept {
    std::size_t i = blanksCommentsAndBreaks(at + 1);
    for (;;) {
        if (i == npos) return npos;
        if (i >= s_.size()) return end();
        if (s_[i] == ']') return i + 1;
        ValueKind kind;
        i = value(i, kind);
        if (i == npos) return npos;
        i = blanksCommentsAndBreaks(i);
        if (i == npos) return npos;
        if (i >= s_.size()) return end();
        if (s_[i] == ',') {
            i = blanksCommentsAndBreaks(i + 1);
        } else if (s_[i] != ']') {
            return npos;
        }
    }
}

std::size_t Lexer::inlineTable(std::size_t at) noexcept {
    std::size_t i = skipBlanks(at + 1);
    if (i >= s_.size()) return end();
    if (s_[i] == '}') return i + 1;
    for (;;) {
        KeyShape shape;
        i = key(i, shape);
        if (i == npos) return npos;
        i = skipBlanks(i);
        if (i >= s_.size()) return end();
        if (s_[i] != '=') return npos;
        i = skipBlanks(i + 1);
        ValueKind kind;
        i = value(i, kind);
        if (i == npos) return npos;
        i = skipBlanks(i);
        if (i >= s_.size()) return end();
        if (s_[i] == '}') return i + 1;
        if (s_[i] != ',') return npos;
        i = skipBlanks(i + 1);
    }
}

std::size_t Lexer::scalar(std::size_t at) noexcept {
    // The token runs to the next byte that cannot be part of one; a space
    // can, between the date and the time of a date-time.
    std::size_t tokenEnd = at;
    auto isTokenByte = [](char c) {
        return isBareKeyByte(c) || c == '+' || c == '.' || c == ':';
    };
    while (tokenEnd < s_.size() && isTokenByte(s_[tokenEnd])) ++tokenEnd;
    // A token at the end of the text might go on in more.
    if (tokenEnd == s_.size()) ranOut_ = true;
    std::string_view t = s_.substr(at, tokenEnd - at);
    std::size_t result = npos;
    if (t == "true" || t == "false") {
        result = tokenEnd;
    } else if (t.size() >= 10 && t[4] == '-' && fullDate(s_, at) != npos) {
        std::size_t i = at + 10;
        if (i < s_.size() && (s_[i] == 'T' || s_[i] == 't' || s_[i] == ' ')) {
            std::size_t timeEnd = partialTime(s_, i + 1);
            if (timeEnd != npos) {
                i = timeOffset(s_, timeEnd);
                if (i != npos && i < s_.size() && isTokenByte(s_[i])) i = npos;
                if (i == npos) return npos;
                if (i == s_.size()) ranOut_ = true;
                return i;
            }
            if (s_[i] != ' ') return npos;
            // A space not followed by a time ends a local date; a time cut
            // by the end of the text might be whole in more.
            if (s_.size() - (i + 1) < 8) ranOut_ = true;
        }
        result = at + 10;
        if (result != tokenEnd) return npos;
    } else if (t.size() >= 8 && t[2] == ':') {
        result = partialTime(s_, at);
        if (result != tokenEnd) return npos;
    } else {
        result = number(s_, at);
        if (result != tokenEnd) return npos;
    }
    return result;
}

std::size_t Lexer::value(std::size_t at, ValueKind &kind) noexcept {
    if (at >= s_.size()) return end();
    switch (s_[at]) {
    case '"': {
        bool escaped = false;
        if (s_.substr(at, 3) == "\"\"\"") {
            kind = ValueKind::MultiBasicString;
            return multiBasicString(at);
        }
        if (at + 2 >= s_.size() && s_.substr(at) == "\"\"") ranOut_ = true;
        kind = ValueKind::BasicString;
        return basicString(at, escaped);
    }
    case '\'':
        if (s_.substr(at, 3) == "'''") {
            kind = ValueKind::MultiLiteralString;
            return multiLiteralString(at);
        }
        if (at + 2 >= s_.size() && s_.substr(at) == "''") ranOut_ = true;
        kind = ValueKind::LiteralString;
        return literalString(at);
    case '[':
    case '{': {
        if (depth_ >= kMaxDepth) return npos;
        ++depth_;
        kind = s_[at] == '[' ? ValueKind::Array : ValueKind::InlineTable;
        std::size_t r = kind == ValueKind::Array ? array(at) : inlineTable(at);
        --depth_;
        return r;
    }
    default:
        kind = ValueKind::Scalar;
        return scalar(at);
    }
}

// ------------------------------------------------------------- decoding

namespace {

void appendCodePoint(std::string &out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The content of a multi-line string without the line break that may
// follow its opening quotes.
std::string_view multiLineContent(std::string_view token) noexcept {
    std::string_view body = token.substr(3, token.size() - 6);
    if (body.starts_with('\n')) return body.substr(1);
    if (body.starts_with("\r\n")) return body.substr(2);
    return body;
}

// Appends a multi-line string's content with its CR LF line breaks read as
// LF, as TOML readers read them.
void appendLineBreaksAsLf(std::string_view body, std::string &out) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\r') continue;
        out.append(body.data() + run, i - run);
        run = i + 1;
    }
    out.append(body.data() + run, body.size() - run);
}

void appendUnescaped(std::string_view body, bool multiLine, std::string &out) {
    std::size_t run = 0;
    std::size_t i = multiLine ? body.find_first_of("\\\r") : body.find('\\');
    if (i == std::string_view::npos) {
        out.append(body);
        return;
    }
    for (; i < body.size(); ++i) {
        if (multiLine && body[i] == '\r') {
            // Only as part of CR LF (the lexer checked).
            out.append(body.data() + run, i - run);
            run = i + 1;
            continue;
        }
        if (body[i] != '\\') continue;
        out.append(body.data() + run, i - run);
        const char e = body[i + 1];
        switch (e) {
        case 'b': out.push_back('\b'); ++i; break;
        case 't': out.push_back('\t'); ++i; break;
        case 'n': out.push_back('\n'); ++i; break;
        case 'f': out.push_back('\f'); ++i; break;
        case 'r': out.push_back('\r'); ++i; break;
        case '"': out.push_back('"'); ++i; break;
        case '\\': out.push_back('\\'); ++i; break;
        case 'u':
        case 'U': {
            const std::size_t count = e == 'u' ? 4 : 8;
            std::uint32_t cp = 0;
            for (std::size_t k = 0; k < count; ++k) cp = (cp << 4) | static_cast<std::uint32_t>(hexValue(body[i + 2 + k]));
            appendCodePoint(out, cp);
            i += 1 + count;
            break;
        }
        default:
            // A line-ending backslash (only in a multi-line string): it and
            // every blank and line break after it go.
            if (multiLine) {
                std::size_t j = i + 1;
                while (j < body.size() && (body[j] == ' ' || body[j] == '\t' || body[j] == '\n' || body[j] == '\r')) ++j;
                i = j - 1;
            }
            break;
        }
        run = i + 1;
    }
    out.append(body.data() + run, body.size() - run);
}

}  // namespace

void appendDecoded(std::string_view token, ValueKind kind, std::string &out) {
    switch (kind) {
    case ValueKind::BasicString:
        appendUnescaped(token.substr(1, token.size() - 2), false, out);
        break;
    case ValueKind::LiteralString:
        out.append(token.substr(1, token.size() - 2));
        break;
    case ValueKind::MultiBasicString:
        appendUnescaped(multiLineContent(token), true, out);
        break;
    case ValueKind::MultiLiteralString:
        appendLineBreaksAsLf(multiLineContent(token), out);
        break;
    default:
        out.append(token);
        break;
    }
}

}  // namespace quorlina::toml
