#pragma once
#include <string>

#include "base/result.h"

namespace vantile {

// A new, empty folder for this run in the user's temporary folder.
Result<std::string> create_staging_folder();

}  // namespace vantile
