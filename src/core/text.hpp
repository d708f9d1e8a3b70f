// Small byte-string helpers shared by the front-matter readers and writers.
#pragma once

#include <string_view>

namespace quorlina::text {

inline bool isW2(char c) noexcept { return c == ' ' || c == '\t'; }
inline bool isW4(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

template <class Pred>
std::string_view trimLeft(std::string_view s, Pred pred) noexcept {
    while (!s.empty() && pred(s.front())) s.remove_prefix(1);
    return s;
}

template <class Pred>
std::string_view trimRight(std::string_view s, Pred pred) noexcept {
    while (!s.empty() && pred(s.back())) s.remove_suffix(1);
    return s;
}

template <class Pred>
std::string_view trim(std::string_view s, Pred pred) noexcept {
    return trimRight(trimLeft(s, pred), pred);
}

inline bool isAsciiDigit(char c) noexcept { return c >= '0' && c <= '9'; }
inline bool isAsciiAlpha(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline char asciiLower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// A slug (and a file extension) is made of ASCII letters, digits, "_" and "-".
inline bool isSlugByte(char c) noexcept { return isAsciiAlpha(c) || isAsciiDigit(c) || c == '_' || c == '-'; }

// Non-empty and only slug bytes.
inline bool isValidSlug(std::string_view s) noexcept {
    if (s.empty()) return false;
    for (char c : s)
        if (!isSlugByte(c)) return false;
    return true;
}

// Whether `s` holds a byte that a TOML basic string cannot hold raw: a
// control byte other than tab (0x00-0x08, 0x0A-0x1F) or DEL (0x7F). Line
// breaks are among them.
inline bool hasTomlControlByte(std::string_view s) noexcept {
    for (char c : s) {
        auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t') || b == 0x7F) return true;
    }
    return false;
}

// Whether the start `head` of a content file decides its front matter: the
// file does not open with "+++", or the "+++" that closes its block (see
// frontmatter::findClose) is in `head` and settled by it. Readers that need
// only the front matter can stop reading a file there.
bool frontMatterSettled(std::string_view head) noexcept;

}  // namespace quorlina::text
