#pragma once
// Where an archive lies in a staging folder and how the program is had from it: the
// installer's own sequence, which vantile-release also runs to judge an archive on Windows.
#include <string>
#include <string_view>

#include "base/result.h"
#include "flow/install_operations.h"

namespace vantile {

inline constexpr const char* ARCHIVE_FILE_NAME = "vantile-desktop.zip";
inline constexpr const char* UNPACK_FOLDER_NAME = "zip";

struct StagedArchive {
    std::string archive;        // where the archive is put
    std::string unpack_folder;  // where it is unpacked
};

StagedArchive staged_archive(std::string_view staging_folder);

// Windows' tar.exe (at `tar_path`) unpacks the archive, then Vantile.exe is looked for at the
// top of what it gave: the program's path, or the message of what failed.
Result<std::string> unpack_staged_archive(InstallOperations& operations,
                                          const std::string& tar_path, const StagedArchive& staged);

}  // namespace vantile
