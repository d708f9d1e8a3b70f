#include "ffi/tags_csv.hpp"

namespace quorlina::ffi {

std::vector<std::string> parseTagsCsv(std::string_view text) {
    std::vector<std::string> tags;
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        std::string_view piece = text.substr(start, comma - start);
        while (!piece.empty() && isSpace(piece.front())) piece.remove_prefix(1);
        while (!piece.empty() && isSpace(piece.back())) piece.remove_suffix(1);
        if (!piece.empty()) tags.emplace_back(piece);
        start = comma + 1;
    }
    return tags;
}

}  // namespace quorlina::ffi
