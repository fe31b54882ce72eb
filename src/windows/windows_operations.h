#pragma once
#include "flow/install_operations.h"

namespace vantile {

// The install flow's operations on the real computer.
class WindowsOperations final : public InstallOperations {
  public:
    Status check_windows_build() override;
    Result<std::string> locate_system_tar() override;
    Architecture detect_architecture() override;
    Result<std::string> read_manifest(const ManifestSource& source,
                                      const StopQuery& stop_requested) override;
    Result<std::string> create_staging_folder() override;
    Result<TransferEnd> download_to_file(const DownloadSource& source,
                                         const std::string& destination,
                                         const ProgressObserver& observer,
                                         const StopQuery& stop_requested) override;
    Result<FileDigest> sha256_of_file(const std::string& path) override;
    Status unpack_archive(const std::string& tar_path, const std::string& archive_path,
                          const std::string& unpack_folder) override;
    Result<std::string> find_app_executable(const std::string& unpack_folder) override;
    Result<std::int32_t> run_app_installer(const std::string& program_path) override;
    std::string installer_exit_message(std::int32_t exit_code) override;
    Status remove_staging_folder(const std::string& staging_folder) override;
};

}  // namespace vantile
