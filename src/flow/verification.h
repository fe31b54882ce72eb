#pragma once
// Is the downloaded archive exactly the published file?
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"
#include "flow/sources.h"

namespace vantile {

struct FileDigest {
    std::uint64_t byte_count = 0;
    std::string digest;  // 64 lower-case hexadecimal digits; empty when not computed
};

// Size first, then the digest (manifest text compared after lowering ASCII capitals).
Status verify_download(const DownloadSource& source, std::uint64_t byte_count,
                       std::string_view digest, std::int64_t size, std::string_view sha256);

}  // namespace vantile
