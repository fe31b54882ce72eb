#pragma once
// Splitting the process's command line by the Windows rules, and reading the arguments.
#include <string>
#include <string_view>
#include <vector>

namespace vantile {

// All arguments, the program's own name first.
std::vector<std::u16string> split_command_line(std::u16string_view command_line);

// The arguments after the program's name as UTF-8. An argument that is not valid UTF-16
// keeps a U+FFFD in place of each unpaired surrogate, so it can never read "--quiet" and
// the run ends with the usage line.
std::vector<std::string> arguments_after_program(std::u16string_view command_line);

enum class Mode { Window, Quiet, UsageError };

// No arguments: window; exactly "--quiet": quiet; anything else: a usage error.
Mode mode_for(const std::vector<std::string>& arguments);

inline constexpr const char* USAGE_LINE = "usage: vantile-install [--quiet]";

}  // namespace vantile
