#include "core/paths.hpp"

namespace quorlina {

std::string joinPath(std::initializer_list<std::string_view> pieces) {
    std::string out;
    joinPathInto(out, pieces);
    return out;
}

void joinPathInto(std::string &out, std::initializer_list<std::string_view> pieces) {
    std::size_t total = 0;
    for (auto p : pieces) total += p.size() + 1;
    out.clear();
    out.reserve(total);
    for (std::string_view p : pieces) {
        if (p.empty()) continue;
        if (!out.empty()) {
            bool leftSlash = out.back() == '/';
            bool rightSlash = p.front() == '/';
            if (leftSlash && rightSlash) {
                p.remove_prefix(1);
            } else if (!leftSlash && !rightSlash) {
                out.push_back('/');
            }
        }
        out.append(p);
    }
}

std::string snippetsDir(std::string_view root) { return joinPath({root, "content", "snippets"}); }
std::string blogDir(std::string_view root) { return joinPath({root, "content", "blog"}); }
std::string notesDir(std::string_view root) { return joinPath({root, "content", "notes"}); }

}  // namespace quorlina
