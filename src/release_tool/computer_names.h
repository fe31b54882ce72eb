#pragma once
// How vantile-release names the kinds of computer in ARCHITECTURES in its texts, so that a new
// row is named everywhere without a text to change.
#include <string>
#include <string_view>
#include <vector>

#include "flow/computer_facts.h"

namespace vantile {

// "x64" or "arm64".
std::string_view computer_name(Architecture architecture);

// "x64", "x64 and arm64", "x64, arm64 and x86" (or another conjunction).
std::string spoken_list(const std::vector<std::string>& items,
                        std::string_view conjunction = "and");

// "both kinds of computer", or "every kind of computer" beyond two.
std::string_view every_kind_of_computer();
// "neither kind of computer", or "no kind of computer" beyond two.
std::string_view no_kind_of_computer();

// "on an x64 and on an arm64 computer".
std::string on_each_kind_of_computer();

}  // namespace vantile
