#pragma once
// The one seam through which the flow touches the computer. The Windows build binds
// it to the real operations; native tests bind it to a fake.
#include <cstdint>
#include <functional>
#include <string>

#include "base/result.h"
#include "flow/computer_facts.h"
#include "flow/sources.h"
#include "flow/transfer.h"
#include "flow/verification.h"

namespace vantile {

// Receives the total written so far; answers false to stop the transfer.
using ProgressObserver = std::function<bool(std::uint64_t total)>;

class InstallOperations {
  public:
    virtual ~InstallOperations() = default;

    virtual Status check_windows_build() = 0;
    virtual Result<std::string> locate_system_tar() = 0;
    virtual Architecture detect_architecture() = 0;

    // One try; the flow counts and paces the tries. A wait for the network ends once
    // stop_requested answers true (the try then fails).
    virtual Result<std::string> read_manifest(const ManifestSource& source,
                                              const StopQuery& stop_requested) = 0;

    virtual Result<std::string> create_staging_folder() = 0;
    // One try: creates the destination afresh, calls the observer after every chunk; Stopped
    // when the observer answered false. A wait for the network ends once stop_requested answers
    // true (the try then fails).
    virtual Result<TransferEnd> download_to_file(const DownloadSource& source,
                                                 const std::string& destination,
                                                 const ProgressObserver& observer,
                                                 const StopQuery& stop_requested) = 0;
    virtual Result<FileDigest> sha256_of_file(const std::string& path) = 0;

    virtual Status unpack_archive(const std::string& tar_path, const std::string& archive_path,
                                  const std::string& unpack_folder) = 0;
    virtual Result<std::string> find_app_executable(const std::string& unpack_folder) = 0;

    // The exit code of "Vantile.exe --install", or the message when it could not start.
    virtual Result<std::int32_t> run_app_installer(const std::string& program_path) = 0;
    virtual std::string installer_exit_message(std::int32_t exit_code) = 0;

    // Success, or the error text of the first entry that could not be removed.
    virtual Status remove_staging_folder(const std::string& staging_folder) = 0;
};

}  // namespace vantile
