#include "release_tool/computer_names.h"

#include "base/text.h"

namespace vantile {
namespace {

constexpr bool TWO_KINDS = std::size(ARCHITECTURES) == 2;

// "an x64", "an arm64": "an" before a vowel, and before an x, read "ex".
std::string with_article(std::string_view name) {
    const bool vowel_sound =
        std::string_view("aeioux").find(ascii_lower(name.front())) != std::string_view::npos;
    return fill_template(vowel_sound ? "an {}" : "a {}", {name});
}

}  // namespace

std::string_view computer_name(Architecture architecture) {
    return architecture_facts(architecture).name;
}

std::string spoken_list(const std::vector<std::string>& items, std::string_view conjunction) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? fill_template(" {} ", {conjunction}) : ", ";
        text += items[i];
    }
    return text;
}

std::string_view every_kind_of_computer() {
    return TWO_KINDS ? "both kinds of computer" : "every kind of computer";
}

std::string_view no_kind_of_computer() {
    return TWO_KINDS ? "neither kind of computer" : "no kind of computer";
}

std::string on_each_kind_of_computer() {
    std::vector<std::string> places;
    for (const ArchitectureFacts& facts : ARCHITECTURES)
        places.push_back("on " + with_article(facts.name));
    return spoken_list(places) + " computer";
}

}  // namespace vantile
