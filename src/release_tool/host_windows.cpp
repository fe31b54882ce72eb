// The tool on Windows: paths are the installer's own, and an archive is judged by running the
// installer's own steps on a copy of it: a staging folder, Windows' tar.exe, the look for
// Vantile.exe, and the removal of the staging folder.
#include <io.h>
#include <stdio.h>

#include "base/text.h"
#include "flow/install_flow.h"
#include "release_tool/host.h"
#include "windows/unique_handle.h"
#include "windows/windows_operations.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// The installer's message when a step fails, or nothing when Vantile.exe is there.
std::optional<std::string> unpack_as_the_installer_does(WindowsOperations& operations,
                                                        const std::string& path,
                                                        const std::string& staging) {
    Result<std::string> tar = operations.locate_system_tar();
    if (!tar) return tar.error();
    const std::string archive = join_path(staging, ARCHIVE_FILE_NAME);
    // A copy, so that the publisher's file is never moved or changed.
    Result<TransferEnd> copied = operations.download_to_file(
        LocalFile{path}, archive, [](std::uint64_t) { return true; }, {});
    if (!copied) return copied.error();
    const std::string unpack_folder = join_path(staging, UNPACK_FOLDER_NAME);
    if (Status unpacked = operations.unpack_archive(tar.value(), archive, unpack_folder); !unpacked)
        return unpacked.error();
    if (Result<std::string> program = operations.find_app_executable(unpack_folder); !program)
        return program.error();
    return std::nullopt;
}

// The file opened for no access but its attributes, so that any file, a folder or one open
// elsewhere, can be named.
UniqueFile open_for_identity(const std::string& path) {
    return UniqueFile(CreateFileW(to_wide(path).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

// Spellings (\\?\, \\.\, short names, letter case) differ where the opened files do not.
std::optional<bool> same_file(const std::string& a, const std::string& b) {
    const UniqueFile first = open_for_identity(a);
    if (!first) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
        return std::nullopt;
    }
    const UniqueFile second = open_for_identity(b);
    if (!second) return false;
    BY_HANDLE_FILE_INFORMATION first_info{};
    BY_HANDLE_FILE_INFORMATION second_info{};
    if (!GetFileInformationByHandle(first.get(), &first_info) ||
        !GetFileInformationByHandle(second.get(), &second_info))
        return std::nullopt;
    return first_info.dwVolumeSerialNumber == second_info.dwVolumeSerialNumber &&
           first_info.nFileIndexHigh == second_info.nFileIndexHigh &&
           first_info.nFileIndexLow == second_info.nFileIndexLow;
}

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

bool standard_error_is_terminal() {
    return _isatty(_fileno(stderr)) != 0;
}

}  // namespace vantile
