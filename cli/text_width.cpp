#include "text_width.hpp"

#include <algorithm>
#include <iterator>

#include "utf8.hpp"

namespace qcli {

namespace {

// A run of code points that take `width` columns each.
struct Range {
    char32_t first;
    char32_t last;
    int width;
};

// Every code point from U+0300 on that does not take one column, in
// ascending order. Width 0: combining marks of the common scripts, zero-width spaces and
// joiners, direction marks, variation selectors, emoji skin-tone modifiers
// and tag characters. Width 2: East Asian wide and fullwidth characters,
// and emoji shown in emoji style by default. Where a wide block holds
// combining marks (U+302A, U+3099, the skin tones of U+1F3FB), the block is
// split around them.
constexpr Range kWidths[] = {
    {0x0300, 0x036F, 0},    {0x0483, 0x0489, 0},    {0x0591, 0x05BD, 0},    {0x05BF, 0x05BF, 0},
    {0x05C1, 0x05C2, 0},    {0x05C4, 0x05C5, 0},    {0x05C7, 0x05C7, 0},    {0x0610, 0x061A, 0},
    {0x064B, 0x065F, 0},    {0x0670, 0x0670, 0},    {0x06D6, 0x06DC, 0},    {0x06DF, 0x06E4, 0},
    {0x06E7, 0x06E8, 0},    {0x06EA, 0x06ED, 0},    {0x0900, 0x0902, 0},    {0x093A, 0x093A, 0},
    {0x093C, 0x093C, 0},    {0x0941, 0x0948, 0},    {0x094D, 0x094D, 0},    {0x0951, 0x0957, 0},
    {0x0962, 0x0963, 0},    {0x0E31, 0x0E31, 0},    {0x0E34, 0x0E3A, 0},    {0x0E47, 0x0E4E, 0},
    {0x1100, 0x115F, 2},    {0x1AB0, 0x1AFF, 0},    {0x1DC0, 0x1DFF, 0},    {0x200B, 0x200F, 0},
    {0x202A, 0x202E, 0},    {0x2060, 0x2064, 0},    {0x20D0, 0x20FF, 0},    {0x231A, 0x231B, 2},
    {0x2329, 0x232A, 2},    {0x23E9, 0x23EC, 2},    {0x23F0, 0x23F0, 2},    {0x23F3, 0x23F3, 2},
    {0x25FD, 0x25FE, 2},    {0x2614, 0x2615, 2},    {0x2648, 0x2653, 2},    {0x267F, 0x267F, 2},
    {0x2693, 0x2693, 2},    {0x26A1, 0x26A1, 2},    {0x26AA, 0x26AB, 2},    {0x26BD, 0x26BE, 2},
    {0x26C4, 0x26C5, 2},    {0x26CE, 0x26CE, 2},    {0x26D4, 0x26D4, 2},    {0x26EA, 0x26EA, 2},
    {0x26F2, 0x26F3, 2},    {0x26F5, 0x26F5, 2},    {0x26FA, 0x26FA, 2},    {0x26FD, 0x26FD, 2},
    {0x2705, 0x2705, 2},    {0x270A, 0x270B, 2},    {0x2728, 0x2728, 2},    {0x274C, 0x274C, 2},
    {0x274E, 0x274E, 2},    {0x2753, 0x2755, 2},    {0x2757, 0x2757, 2},    {0x2795, 0x2797, 2},
    {0x27B0, 0x27B0, 2},    {0x27BF, 0x27BF, 2},    {0x2B1B, 0x2B1C, 2},    {0x2B50, 0x2B50, 2},
    {0x2B55, 0x2B55, 2},    {0x2E80, 0x3029, 2},    {0x302A, 0x302D, 0},    {0x302E, 0x303E, 2},
    {0x3041, 0x3098, 2},    {0x3099, 0x309A, 0},    {0x309B, 0x4DBF, 2},    {0x4E00, 0xA4CF, 2},
    {0xA960, 0xA97F, 2},    {0xAC00, 0xD7A3, 2},    {0xF900, 0xFAFF, 2},    {0xFE00, 0xFE0F, 0},
    {0xFE10, 0xFE19, 2},    {0xFE20, 0xFE2F, 0},    {0xFE30, 0xFE6F, 2},    {0xFEFF, 0xFEFF, 0},
    {0xFF00, 0xFF60, 2},    {0xFFE0, 0xFFE6, 2},    {0x16FE0, 0x16FE4, 2},  {0x17000, 0x18CFF, 2},
    {0x1B000, 0x1B2FF, 2},  {0x1F004, 0x1F004, 2},  {0x1F0CF, 0x1F0CF, 2},  {0x1F18E, 0x1F18E, 2},
    {0x1F191, 0x1F19A, 2},  {0x1F200, 0x1F202, 2},  {0x1F210, 0x1F23B, 2},  {0x1F240, 0x1F248, 2},
    {0x1F250, 0x1F251, 2},  {0x1F260, 0x1F265, 2},  {0x1F300, 0x1F3FA, 2},  {0x1F3FB, 0x1F3FF, 0},
    {0x1F400, 0x1F64F, 2},  {0x1F680, 0x1F6FF, 2},  {0x1F7E0, 0x1F7F0, 2},  {0x1F900, 0x1F9FF, 2},
    {0x1FA70, 0x1FAFF, 2},  {0x20000, 0x2FFFD, 2},  {0x30000, 0x3FFFD, 2},  {0xE0000, 0xE0FFF, 0},
};

// Length and columns of the character at the start of a non-empty text.
std::size_t nextCharacter(std::string_view text, int &width) {
    char32_t cp = 0;
    const std::size_t length = decodeUtf8(text, cp);
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
    // The first range that ends at or after cp.
    const Range *r = std::lower_bound(std::begin(kWidths), std::end(kWidths), cp,
                                      [](const Range &range, char32_t c) { return range.last < c; });
    return r != std::end(kWidths) && r->first <= cp ? r->width : 1;
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
