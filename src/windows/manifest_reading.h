#pragma once
#include <string>

#include "base/result.h"
#include "flow/sources.h"
#include "windows/transfer_thread.h"

namespace vantile {

// One try of reading the manifest: fetched over https (waiting for each answer as `wait`
// says), or read from a file.
Result<std::string> read_manifest(const ManifestSource& source, const TransferWait& wait = {});

}  // namespace vantile
