#include "text_width.hpp"

#include <algorithm>
#include <iterator>

namespace qcli {

namespace {

struct Range {
    char32_t first;
    char32_t last;
};

// Characters that take no column of their own: combining marks of the
// common scripts, zero-width spaces and joiners, direction marks,
// variation selectors, emoji skin-tone modifiers and tag characters.
constexpr Range kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0900, 0x0902},
    {0x093A, 0x093A}, {0x093C, 0x093C}, {0x0941, 0x0948}, {0x094D, 0x094D}, {0x0951, 0x0957},
    {0x0962, 0x0963}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064}, {0x20D0, 0x20FF},
    {0x302A, 0x302D}, {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF},
    {0x1F3FB, 0x1F3FF}, {0xE0000, 0xE0FFF},
};

// East Asian wide and fullwidth characters, and emoji shown in emoji style
// by default.
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F202},
    {0x1F210, 0x1F23B}, {0x1F240, 0x1F248}, {0x1F250, 0x1F251}, {0x1F260, 0x1F265}, {0x1F300, 0x1F64F},
    {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7F0}, {0x1F900, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
};

template <std::size_t N>
bool inTable(const Range (&table)[N], char32_t cp) {
    // The tables are sorted: find the first range that ends at or after cp.
    const Range *r = std::lower_bound(std::begin(table), std::end(table), cp,
                                      [](const Range &range, char32_t c) { return range.last < c; });
    return r != std::end(table) && r->first <= cp;
}

// Decodes the UTF-8 sequence at the start of `text`. Returns its length and
// sets `cp`, or returns 0 when the first byte does not begin a valid,
// shortest-form sequence of a code point outside the surrogates.
std::size_t decode(std::string_view text, char32_t &cp) {
    const auto b0 = static_cast<unsigned char>(text[0]);
    std::size_t length;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2, min = 0x80, cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, min = 0x800, cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

// Length and columns of the character at the start of a non-empty text.
std::size_t nextCharacter(std::string_view text, int &width) {
    char32_t cp = 0;
    const std::size_t length = decode(text, cp);
    if (length == 0) {
        width = 1;
        return 1;
    }
    width = codePointWidth(cp);
    return length;
}

}  // namespace

int codePointWidth(char32_t cp) noexcept {
    if (cp < 0x300) return 1;  // the common case, ASCII and Latin-1 included
    if (inTable(kZeroWidth, cp)) return 0;
    if (inTable(kWide, cp)) return 2;
    return 1;
}

std::size_t displayWidth(std::string_view text) noexcept {
    std::size_t columns = 0;
    while (!text.empty()) {
        int width = 0;
        text.remove_prefix(nextCharacter(text, width));
        columns += static_cast<std::size_t>(width);
    }
    return columns;
}

std::string_view clipToWidth(std::string_view text, std::size_t columns) noexcept {
    std::size_t used = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        int width = 0;
        const std::size_t length = nextCharacter(text.substr(pos), width);
        if (used + static_cast<std::size_t>(width) > columns) break;
        used += static_cast<std::size_t>(width);
        pos += length;
    }
    return text.substr(0, pos);
}

}  // namespace qcli
