#include "windows/wide_text.h"

#include <cstddef>

#include "base/text.h"

namespace vantile {

std::wstring to_wide(std::string_view text) {
    std::u16string wide = utf8_to_utf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string from_wide(std::wstring_view text) {
    return utf16_to_utf8_lossy(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::string from_wide_exact(std::wstring_view text) {
    std::string converted;
    converted.reserve(text.size());
    std::size_t start = 0;  // the first unit not yet converted
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t unit = text[i];
        if (unit < 0xD800 || unit > 0xDFFF) continue;
        if (unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;  // a proper pair
            continue;
        }
        // Everything before the unpaired surrogate is valid UTF-16 and converts exactly.
        converted += from_wide(text.substr(start, i - start));
        append_utf8(converted, unit);  // the three bytes a surrogate would have in UTF-8
        start = i + 1;
    }
    converted += from_wide(text.substr(start));
    return converted;
}

std::string display_text(std::string_view exact) {
    return from_wide(to_wide(exact));
}

}  // namespace vantile
