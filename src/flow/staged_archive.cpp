#include "flow/staged_archive.h"

#include "base/text.h"

namespace vantile {

StagedArchive staged_archive(std::string_view staging_folder) {
    return StagedArchive{join_path(staging_folder, ARCHIVE_FILE_NAME),
                         join_path(staging_folder, UNPACK_FOLDER_NAME)};
}

Result<std::string> unpack_staged_archive(InstallOperations& operations,
                                          const std::string& tar_path,
                                          const StagedArchive& staged) {
    if (Status unpacked = operations.unpack_archive(tar_path, staged.archive, staged.unpack_folder);
        !unpacked)
        return fail(unpacked.error());
    return operations.find_app_executable(staged.unpack_folder);
}

}  // namespace vantile
