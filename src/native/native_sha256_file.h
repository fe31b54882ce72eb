#pragma once
// The native counterpart of the Windows sha256_of_file: the same streaming pass over POSIX
// read(), so tests and benchmarks can measure it against other tools on this machine.
#include <string>

#include "base/result.h"
#include "flow/verification.h"

namespace vantile {

// Size and SHA-256 of a file in one streaming pass, or "Could not read {}: {}".
Result<FileDigest> sha256_of_file(const std::string& path);

}  // namespace vantile
