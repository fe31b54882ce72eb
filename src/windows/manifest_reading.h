#pragma once
#include <string>

#include "base/result.h"
#include "flow/sources.h"

namespace vantile {

// One try of reading the manifest: fetched over https, or read from a file.
Result<std::string> read_manifest(const ManifestSource& source);

}  // namespace vantile
