#pragma once
// The two forms in which an error code ends a message, built from what FormatMessageW gave.
// Kept apart from the Win32 lookup so every branch can be tested with any message text.
#include <cstdint>
#include <string>
#include <string_view>

namespace vantile {

// WinINet's form: the message lossily decoded and trimmed of Unicode White_Space at both ends,
// then "{} (Windows error {})", or "Windows error {}" when nothing is left.
std::string windows_error_form(std::u16string_view message, std::uint32_t code);

// Whether the code point has the Unicode White_Space property.
bool is_unicode_white_space(char32_t code_point);

// The os error form. `message` is what FormatMessageW wrote (empty when it returned 0, and
// then `lookup_error` is its GetLastError); `lookup_code` the code it was asked for; `code`
// the code the caller passed in.
std::string os_error_form(std::int32_t code, std::int32_t lookup_code, std::u16string_view message,
                          std::int32_t lookup_error);

}  // namespace vantile
