#pragma once
// UTF-8 inside the program, UTF-16 only at the Win32 call.
#include <string>
#include <string_view>

namespace vantile {

// A NUL-terminated UTF-16 copy, made right before a Win32 call.
std::wstring to_wide(std::string_view text);
// UTF-16 from Windows to UTF-8; unpaired surrogates become U+FFFD.
std::string from_wide(std::wstring_view text);

}  // namespace vantile
