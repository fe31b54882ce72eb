#pragma once
#include <string>

#include "../result.h"

namespace vantile {

Result<std::string> create_staging_folder();
Status unpack_archive(const std::string& tar_path, const std::string& archive_path,
                      const std::string& unpack_folder);
Result<std::string> find_app_executable(const std::string& unpack_folder);
// Success, or the os_error_text of the first entry that could not be removed.
Status remove_staging_folder(const std::string& staging_folder);

}  // namespace vantile
