#pragma once
#include <string>
#include <vector>

namespace vantile {

inline constexpr const wchar_t* SINGLE_INSTANCE_MUTEX = L"Local\\VantileInstall";

// The whole run after the command line was split; returns the exit code. Where the DLL search
// could not be restricted to System32, the run only logs why it stops, shows nothing (in
// window mode too), and returns 1.
int run(const std::vector<std::string>& arguments, bool dll_search_restricted);

}  // namespace vantile
