#pragma once

namespace vantile {

inline constexpr const char* PROGRAM_VERSION = "1.4.53";
inline constexpr const char* BUILD_CHANNEL = "production";

}  // namespace vantile
