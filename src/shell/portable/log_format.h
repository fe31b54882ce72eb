#pragma once
#include <string>
#include <string_view>

namespace vantile {

inline constexpr const char* LOG_FILE_NAME = "vantile-install.log";

// "[" seconds "s] " text "\n"; seconds with one decimal, right-aligned in at least 6.
std::string format_log_line(double seconds, std::string_view text);

}  // namespace vantile
