#include "utf8.hpp"

namespace qcli {

std::size_t decodeUtf8(std::string_view text, char32_t &cp) noexcept {
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

void appendUtf8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
        return;
    }
    // A lead byte that announces one to three continuation bytes, each
    // carrying six bits.
    const int more = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    static constexpr char32_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
    out.push_back(static_cast<char>(kLead[more] | (cp >> (6 * more))));
    for (int i = more - 1; i >= 0; --i) out.push_back(static_cast<char>(0x80 | ((cp >> (6 * i)) & 0x3F)));
}

}  // namespace qcli
