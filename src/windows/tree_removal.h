#pragma once
#include <string>

#include "base/result.h"

namespace vantile {

// Removes the staging folder and everything in it, deleting links and never following them.
// Success, or the os_error_text of the first entry that could not be removed.
Status remove_staging_folder(const std::string& staging_folder);

}  // namespace vantile
