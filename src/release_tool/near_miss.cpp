#include "release_tool/near_miss.h"

#include <algorithm>

namespace vantile {

std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

std::optional<std::string_view> nearest_word(std::string_view word,
                                             const std::vector<std::string_view>& known) {
    std::optional<std::string_view> best;
    if (std::ranges::find(known, word) != known.end()) return best;
    std::size_t best_distance = 3;
    for (std::string_view candidate : known) {
        const std::size_t distance = edit_distance(word, candidate);
        if (distance > 0 && distance < best_distance) {
            best = candidate;
            best_distance = distance;
        }
    }
    return best;
}

}  // namespace vantile
