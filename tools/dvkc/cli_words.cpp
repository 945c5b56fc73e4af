#include "cli_words.h"

#include <algorithm>
#include <numeric>

namespace dvkc::tool {
namespace {

std::size_t edit_distance(std::string_view a, std::string_view b)
{
    std::vector<std::size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string closest_word(std::string_view word, const std::vector<std::string> &candidates)
{
    std::string best;
    std::size_t best_distance = 3;
    for (const std::string &candidate : candidates) {
        const std::size_t distance = edit_distance(word, candidate);
        if (distance < best_distance && distance * 2 < std::max(word.size(), candidate.size())) {
            best = candidate;
            best_distance = distance;
        }
    }
    return best;
}

}  // namespace dvkc::tool
