// The tool on Windows: paths are the installer's own, and an archive is judged by running the
// installer's own steps on a copy of it: a staging folder, Windows' tar.exe, the look for
// Vantile.exe, and the removal of the staging folder.
#include "base/text.h"
#include "flow/staged_archive.h"
#include "release_tool/host.h"
#include "windows/windows_operations.h"

namespace vantile {
namespace {

// The installer's message when a step fails, or nothing when Vantile.exe is there.
std::optional<std::string> unpack_as_the_installer_does(WindowsOperations& operations,
                                                        const std::string& path,
                                                        const std::string& staging) {
    Result<std::string> tar = operations.locate_system_tar();
    if (!tar) return tar.error();
    const StagedArchive staged = staged_archive(staging);
    // A copy, so that the publisher's file is never moved or changed.
    Result<TransferEnd> copied = operations.download_to_file(
        LocalFile{path}, staged.archive, [](std::uint64_t) { return true; }, {});
    if (!copied) return copied.error();
    if (Result<std::string> program = unpack_staged_archive(operations, tar.value(), staged);
        !program)
        return program.error();
    return std::nullopt;
}

}  // namespace

std::optional<std::string> host_path(std::string_view installer_path) {
    return std::string(installer_path);
}

UnpackVerdict judge_unpacking(const std::string& path, std::string_view) {
    WindowsOperations operations;
    Result<std::string> staging = operations.create_staging_folder();
    if (!staging) return UnpackVerdict{staging.error(), {}};
    UnpackVerdict verdict{unpack_as_the_installer_does(operations, path, staging.value()), {}};
    if (Status removed = operations.remove_staging_folder(staging.value()); !removed)
        verdict.reasons.push_back(fill_template("the tool's staging folder {} stays: {}",
                                                {staging.value(), removed.error()}));
    return verdict;
}

}  // namespace vantile
