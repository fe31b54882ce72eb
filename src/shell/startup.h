#pragma once
#include <string>
#include <vector>

namespace vantile {

inline constexpr const wchar_t* SINGLE_INSTANCE_MUTEX = L"Local\\VantileInstall";

// The whole run after the command line was split; returns the exit code.
int run(const std::vector<std::string>& arguments);

}  // namespace vantile
