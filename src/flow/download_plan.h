#pragma once
// The download road of one build, shared by the installer and vantile-release: where the
// archive comes from (the trust rules) and what it must be (size and SHA-256), decided
// before any byte is fetched, and the one check of the file once it is there.
#include <cstdint>
#include <string>

#include "base/result.h"
#include "flow/release_manifest.h"
#include "flow/sources.h"
#include "flow/verification.h"

namespace vantile {

struct DownloadPlan {
    DownloadSource source;
    std::int64_t size = 0;
    std::string sha256;  // as the manifest writes it: 64 hexadecimal digits, any case
};

// The trust rules' verdict on the build's address, then on its SHA-256 text.
[[nodiscard]] Result<DownloadPlan> plan_download(const BuildEntry& build,
                                                 const ManifestSource& manifest_source);

// Is the file that arrived exactly the one the plan names? Size first, then digest.
[[nodiscard]] Status verify_download(const DownloadPlan& plan, const FileDigest& received);

}  // namespace vantile
