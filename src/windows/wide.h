#pragma once
// UTF-8 inside the program, UTF-16 only at the Win32 call.
#include <optional>
#include <string>
#include <string_view>

#include "unique_handle.h"

namespace vantile {

// A NUL-terminated UTF-16 copy, made right before a Win32 call.
std::wstring to_wide(std::string_view text);
// UTF-16 from Windows to UTF-8; unpaired surrogates become U+FFFD.
std::string from_wide(std::wstring_view text);

// The variable's value; nothing when it is not set or is not valid Unicode.
std::optional<std::string> environment_variable(const char* name);

// Opens a file for reading while other programs may still read, write and delete it.
UniqueFile open_for_reading(const std::string& path, unsigned long extra_flags = 0);

// Whether the path names an existing file (not a folder), with links followed.
bool is_existing_file(const std::string& path);

// The user's temporary folder (GetTempPath2W where Windows has it), ending in a
// backslash; nothing when Windows cannot report one.
std::optional<std::string> temporary_folder();

}  // namespace vantile
