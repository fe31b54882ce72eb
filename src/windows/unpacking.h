#pragma once
#include <string>

#include "base/result.h"

namespace vantile {

// Unpacks the archive into the folder with the system's tar.exe.
Status unpack_archive(const std::string& tar_path, const std::string& archive_path,
                      const std::string& unpack_folder);
// The app's own installer at the top of the unpacked archive.
Result<std::string> find_app_executable(const std::string& unpack_folder);

}  // namespace vantile
