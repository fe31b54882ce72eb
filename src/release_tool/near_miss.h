#pragma once
// Words a letter or two from the one meant: a misspelt option, command or manifest key.
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace vantile {

// Edits (insertions, deletions, substitutions, swaps of neighbours) from one word to the other.
std::size_t edit_distance(std::string_view a, std::string_view b);

// The known word `word` most likely meant: at most two edits from it. Nothing when `word` is
// itself known, however close another known word lies.
std::optional<std::string_view> nearest_word(std::string_view word,
                                             const std::vector<std::string_view>& known);

}  // namespace vantile
