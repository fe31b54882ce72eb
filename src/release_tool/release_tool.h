#pragma once
// vantile-release: makes and checks release manifests with the installer's own rules.
#include <ostream>
#include <string>
#include <vector>

namespace vantile {

inline constexpr int TOOL_DONE = 0;
inline constexpr int TOOL_REFUSED = 1;    // make refused, or check found a computer that would fail
inline constexpr int TOOL_USAGE = 2;      // the publisher's mistake: arguments, a missing input
inline constexpr int TOOL_UNCHECKED = 3;  // nothing would fail, but an archive is Windows' only

// Runs one command (the arguments after the program's name, UTF-8); returns the exit code.
int run_release_tool(const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err);

}  // namespace vantile
