#include "suggest.hpp"

#include <algorithm>
#include <numeric>

namespace qcli {

std::size_t editDistance(std::string_view a, std::string_view b) {
    // Three rows of the dynamic programme: two back, one back, current.
    std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), row(b.size() + 1);
    std::iota(previous.begin(), previous.end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                row[j] = std::min(row[j], before[j - 2] + 1);
            }
        }
        std::swap(before, previous);
        std::swap(previous, row);
    }
    return previous[b.size()];
}

std::optional<std::string> nearest(std::string_view word, const std::vector<std::string> &candidates) {
    const std::size_t allowed = word.size() < 5 ? 1 : 2;
    const std::string *best = nullptr;
    std::size_t bestDistance = allowed + 1;
    for (const std::string &c : candidates) {
        const std::size_t d = editDistance(word, c);
        if (d < bestDistance) {
            best = &c;
            bestDistance = d;
        }
    }
    if (best != nullptr) return *best;
    const std::string *prefixed = nullptr;
    for (const std::string &c : candidates) {
        if (word.empty() || c.compare(0, word.size(), word) != 0) continue;
        if (prefixed != nullptr) return std::nullopt;  // ambiguous
        prefixed = &c;
    }
    if (prefixed != nullptr) return *prefixed;
    return std::nullopt;
}

}  // namespace qcli
