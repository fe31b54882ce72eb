#pragma once
// Moving bytes from the release servers (WinINet) or a local file.
#include <string>

#include "base/result.h"
#include "flow/install_operations.h"
#include "flow/manifest_source.h"

namespace vantile {

inline constexpr std::size_t TRANSFER_BUFFER_SIZE = 65536;

// Success when the whole body reached the consumer, else a message (or "stopped").
Status fetch_address(const std::string& address, const ChunkConsumer& consumer);
Status download_to_file(const DownloadSource& source, const std::string& destination,
                        const ProgressObserver& observer);

}  // namespace vantile
