#include "windows/windows_operations.h"

#include <windows.h>

#include "windows/app_installer.h"
#include "windows/download.h"
#include "windows/manifest_reading.h"
#include "flow/sha256.h"
#include "windows/staging_folder.h"
#include "windows/system_checks.h"
#include "windows/tree_removal.h"
#include "windows/unpacking.h"

namespace vantile {

Status WindowsOperations::check_windows_build() {
    return vantile::check_windows_build();
}
Result<std::string> WindowsOperations::locate_system_tar() {
    return vantile::locate_system_tar();
}
Architecture WindowsOperations::detect_architecture() {
    return vantile::detect_architecture();
}
Result<std::string> WindowsOperations::read_manifest(const ManifestSource& source,
                                                     const StopQuery& stop_requested) {
    return vantile::read_manifest(source, TransferWait{stop_requested});
}
Result<std::string> WindowsOperations::create_staging_folder() {
    return vantile::create_staging_folder();
}
Result<TransferEnd> WindowsOperations::download_to_file(const DownloadSource& source,
                                                        const std::string& destination,
                                                        const ProgressObserver& observer,
                                                        const StopQuery& stop_requested) {
    return vantile::download_to_file(source, destination, observer, TransferWait{stop_requested});
}
Result<FileDigest> WindowsOperations::sha256_of_file(const std::string& path) {
    return vantile::sha256_of_file(path);
}
Status WindowsOperations::unpack_archive(const std::string& tar_path,
                                         const std::string& archive_path,
                                         const std::string& unpack_folder) {
    return vantile::unpack_archive(tar_path, archive_path, unpack_folder);
}
Result<std::string> WindowsOperations::find_app_executable(const std::string& unpack_folder) {
    return vantile::find_app_executable(unpack_folder);
}
Result<std::int32_t> WindowsOperations::run_app_installer(const std::string& program_path) {
    return vantile::run_app_installer(program_path);
}
std::string WindowsOperations::installer_exit_message(std::int32_t exit_code) {
    return vantile::installer_exit_message(exit_code);
}
Status WindowsOperations::remove_staging_folder(const std::string& staging_folder) {
    return vantile::remove_staging_folder(staging_folder);
}

}  // namespace vantile
