#pragma once
// Moving bytes from the release servers (WinINet) or a local file.
#include <string>

#include "base/result.h"
#include "flow/install_operations.h"
#include "flow/transfer.h"
#include "windows/transfer_thread.h"

namespace vantile {

inline constexpr std::size_t TRANSFER_BUFFER_SIZE = 65536;

// Complete when the whole body reached the consumer, Stopped when the consumer asked to stop,
// else the message. WinINet is called on a transfer thread, so the wait for each answer ends
// with the time-out error after the stall limit, and with the cancel error once a stop is
// asked for.
Result<TransferEnd> fetch_address(const std::string& address, const ChunkConsumer& consumer,
                                  const TransferWait& wait = {});
// The same ends for a download into a file: Stopped when the observer asked to stop.
Result<TransferEnd> download_to_file(const DownloadSource& source, const std::string& destination,
                                     const ProgressObserver& observer,
                                     const TransferWait& wait = {});

}  // namespace vantile
