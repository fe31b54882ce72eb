#pragma once
// UTF-8 inside the program, UTF-16 only at the Win32 call.
#include <string>
#include <string_view>

namespace vantile {

// A NUL-terminated UTF-16 copy, made right before a Win32 call.
std::wstring to_wide(std::string_view text);
// UTF-16 from Windows to UTF-8; unpaired surrogates become U+FFFD.
std::string from_wide(std::wstring_view text);
// UTF-16 from Windows as UTF-8 that to_wide turns back into the very same units: an unpaired
// surrogate keeps its own three-byte form (WTF-8) instead of becoming U+FFFD. For paths and
// other names that must reach Windows again unchanged.
std::string from_wide_exact(std::wstring_view text);
// Such text as a message shows it: valid UTF-8, with U+FFFD for an unpaired surrogate.
std::string display_text(std::string_view exact);

}  // namespace vantile
