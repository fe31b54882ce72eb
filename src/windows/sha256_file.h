#pragma once
#include <string>

#include "base/result.h"
#include "flow/verification.h"

namespace vantile {

// Size and SHA-256 of a file in one streaming pass (CNG), or "Could not read {}: {}".
Result<FileDigest> sha256_of_file(const std::string& path);

}  // namespace vantile
