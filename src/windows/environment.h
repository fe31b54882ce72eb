#pragma once
// What the process's environment tells: its variables and the user's temporary folder.
#include <cstdint>
#include <optional>
#include <string>

namespace vantile {

// The variable's value; nothing when it is not set or is not valid Unicode.
std::optional<std::string> environment_variable(const char* name);
// The variable's value as Windows holds it, valid Unicode or not; nothing when it is not set.
std::optional<std::wstring> environment_variable_units(const wchar_t* name);

// The user's temporary folder (GetTempPath2W where Windows has it), ending in a
// backslash and converted exactly (from_wide_exact); nothing when Windows cannot report one.
std::optional<std::string> temporary_folder();

// The time now, in 100 ns steps since 1601 (FILETIME): GetSystemTimePreciseAsFileTime where
// Windows has it (8 and later), else GetSystemTimeAsFileTime.
std::uint64_t system_time_now();

}  // namespace vantile
