#pragma once
#include <string>

#include "base/result.h"
#include "flow/computer_facts.h"

namespace vantile {

Status check_windows_build();
Result<std::string> locate_system_tar();
Architecture detect_architecture();

}  // namespace vantile
