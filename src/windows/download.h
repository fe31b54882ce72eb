#pragma once
// Moving bytes from the release servers (WinINet) or a local file.
#include <functional>
#include <string>

#include "base/result.h"
#include "flow/install_operations.h"
#include "flow/transfer.h"
#include "windows/transfer_thread.h"
#include "windows/unique_handle.h"

namespace vantile {

inline constexpr std::size_t TRANSFER_BUFFER_SIZE = 65536;

// The WinINet root handle of one fetch: the program's user agent, the system's proxy settings,
// the time-outs and decoding of compressed answers. Empty on failure (GetLastError tells why).
UniqueInternet open_internet_root();
// The request for an https address under that root: caches bypassed, no redirects, no cookies,
// no UI. `context` is handed to the root's status callback, if any (none is made for 0). Empty
// on failure (GetLastError tells why).
UniqueInternet open_internet_address(HINTERNET root, const std::string& address,
                                     DWORD_PTR context = 0);

// Complete when the whole body reached the consumer, Stopped when the consumer asked to stop,
// else the message. WinINet is called on a transfer thread, so the wait for each answer ends
// with the time-out error after the stall limit, and with the cancel error once a stop is
// asked for.
Result<TransferEnd> fetch_address(const std::string& address, const ChunkConsumer& consumer,
                                  const TransferWait& wait = {});

// The message of a local file that could not be opened or read, from the OS error text.
using UnreadableMessage = std::function<std::string(const std::string& os_error)>;

// Hands a local file to the consumer in chunks. The file is opened and read on a transfer
// thread, so a share that hangs is given up on like a stalled download: after the stall limit
// with the time-out text, at once for a stop with the cancel text. `check_before_open`, when
// given, runs first on that thread (it may block as well). Both functions are copied to that
// thread, which may run them after the caller gave up and left: they must hold copies of what
// they use, never references to the caller's objects.
Result<TransferEnd> read_local_file(const std::string& path, const ChunkConsumer& consumer,
                                    const TransferWait& wait, const UnreadableMessage& unreadable,
                                    const std::function<Status()>& check_before_open = {});

// The same ends for a download into a file: Stopped when the observer asked to stop.
Result<TransferEnd> download_to_file(const DownloadSource& source, const std::string& destination,
                                     const ProgressObserver& observer,
                                     const TransferWait& wait = {});

}  // namespace vantile
