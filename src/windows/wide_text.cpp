#include "windows/wide_text.h"

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

}  // namespace vantile
