#pragma once
#include <string>

#include "base/result.h"
#include "flow/sources.h"
#include "windows/transfer_thread.h"

namespace vantile {

// One try of reading the manifest: fetched over https or read from a file, waiting for each
// answer (a chunk from the server or from a share) as `wait` says.
Result<std::string> read_manifest(const ManifestSource& source, const TransferWait& wait = {});

}  // namespace vantile
