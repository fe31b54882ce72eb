#pragma once
#include <cstdint>
#include <string>

#include "base/result.h"

namespace vantile {

Result<std::int32_t> run_app_installer(const std::string& program_path);
std::string installer_exit_message(std::int32_t exit_code);

}  // namespace vantile
