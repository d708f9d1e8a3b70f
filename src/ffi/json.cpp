#include "ffi/json.hpp"

namespace quorlina::ffi {

void appendEscapedJson(std::string &out, std::string_view in) {
    static constexpr char kHex[] = "0123456789abcdef";
    // Copy runs of plain bytes in one go; only the few special bytes are
    // handled one by one.
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(in.data() + runStart, i - runStart);
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
    out.append(in.data() + runStart, in.size() - runStart);
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
