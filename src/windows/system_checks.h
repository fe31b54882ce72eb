#pragma once
#include <cstdint>
#include <string>

#include "base/result.h"
#include "flow/computer_facts.h"

namespace vantile {

// The build that RtlGetVersion reports for this Windows, or 0 when it cannot tell.
std::uint32_t running_windows_build();
Status check_windows_build();
Result<std::string> locate_system_tar();
Architecture detect_architecture();

}  // namespace vantile
