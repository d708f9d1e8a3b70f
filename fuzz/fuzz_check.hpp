// Shared by the fuzz targets: a check that reports and aborts, and a helper
// that splits one fuzz input into several byte strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// Aborts with a message when `cond` is false; libFuzzer and the replay
// driver both report the abort with the input that caused it.
#define FUZZ_CHECK(cond, msg)                                                              \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, #cond, \
                         std::string(msg).c_str());                                        \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace qfuzz {

inline std::string_view asView(const std::uint8_t *data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char *>(data), size);
}

// Splits `in` at every `sep` byte into at most `parts` pieces (the last one
// takes the rest). Missing pieces are empty.
inline std::vector<std::string_view> split(std::string_view in, char sep, std::size_t parts) {
    std::vector<std::string_view> out;
    while (out.size() + 1 < parts) {
        std::size_t at = in.find(sep);
        if (at == std::string_view::npos) break;
        out.push_back(in.substr(0, at));
        in.remove_prefix(at + 1);
    }
    out.push_back(in);
    while (out.size() < parts) out.emplace_back();
    return out;
}

// Printable form of a byte string for failure messages.
inline std::string show(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

}  // namespace qfuzz
