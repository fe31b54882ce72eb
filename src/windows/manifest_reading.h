#pragma once
#include <functional>
#include <string>

#include "base/result.h"
#include "flow/sources.h"
#include "windows/transfer_thread.h"

namespace vantile {

// One try of reading the manifest: fetched over https or read from a file, waiting for each
// answer (a chunk from the server or from a share) as `wait` says.
Result<std::string> read_manifest(const ManifestSource& source, const TransferWait& wait = {});

// Whether a local manifest is there and small enough to read: success, or the message. Asks for
// no access, so it follows links and is not blocked by other programs' sharing.
Status check_manifest_file(const std::string& path);

// What a local manifest is checked with before it is read: check_manifest_file, or a test's.
using ManifestFileCheck = std::function<Status(const std::string& path)>;

// One try of reading a local manifest, the check and the reading done on a transfer thread, so
// that a share that hangs in either obeys the stall limit and a cancel.
Result<std::string> read_local_manifest(const std::string& path, const TransferWait& wait,
                                        const ManifestFileCheck& check = check_manifest_file);

}  // namespace vantile
