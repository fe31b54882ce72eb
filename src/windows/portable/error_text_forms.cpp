#include "windows/portable/error_text_forms.h"

#include <algorithm>
#include <array>
#include <optional>

#include "base/text.h"
#include "flow/file_messages.h"

namespace vantile {
namespace {

// Every code point with the White_Space property (Unicode 15 PropList.txt). None is a
// surrogate, so trimming UTF-16 units trims the same characters as trimming code points.
constexpr std::array<char32_t, 25> UNICODE_WHITE_SPACE = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D,  // tab, line feed, vertical tab, form feed, carriage
                                             // return
    0x0020,                                  // space
    0x0085,                                  // next line
    0x00A0,                                  // no-break space
    0x1680,                                  // ogham space mark
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009,
    0x200A,  // en quad .. hair space
    0x2028,  // line separator
    0x2029,  // paragraph separator
    0x202F,  // narrow no-break space
    0x205F,  // medium mathematical space
    0x3000,  // ideographic space
};

// What FormatMessageW's trailing line break and padding are made of; leading space stays.
bool is_trailing_os_space(char16_t unit) {
    return unit == u'\t' || unit == u'\n' || unit == u'\f' || unit == u'\r' || unit == u' ';
}

}  // namespace

bool is_unicode_white_space(char32_t code_point) {
    return std::find(UNICODE_WHITE_SPACE.begin(), UNICODE_WHITE_SPACE.end(), code_point) !=
           UNICODE_WHITE_SPACE.end();
}

std::string windows_error_form(std::u16string_view message, std::uint32_t code) {
    while (!message.empty() && is_unicode_white_space(message.front())) message.remove_prefix(1);
    while (!message.empty() && is_unicode_white_space(message.back())) message.remove_suffix(1);
    const std::string number = std::to_string(code);
    if (message.empty()) return fill_template("Windows error {}", {number});
    return fill_template("{} (Windows error {})", {utf16_to_utf8_lossy(message), number});
}

std::string os_error_form(std::int32_t code, std::int32_t lookup_code, std::u16string_view message,
                          std::int32_t lookup_error) {
    std::string detail;
    if (message.empty()) {
        detail = fill_template("OS Error {} (FormatMessageW() returned error {})",
                               {std::to_string(lookup_code), std::to_string(lookup_error)});
    } else if (std::optional<std::string> text = utf16_to_utf8_strict(message)) {
        while (!text->empty() && is_trailing_os_space(static_cast<char16_t>(text->back())))
            text->pop_back();
        detail = std::move(*text);
    } else {
        detail = fill_template("OS Error {} (FormatMessageW() returned invalid UTF-16)",
                               {std::to_string(lookup_code)});
    }
    return os_error_reason(detail, code);
}

}  // namespace vantile
