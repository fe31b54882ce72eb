#include "flow/download_plan.h"

#include <utility>

#include "flow/trust_rules.h"

namespace vantile {

Result<DownloadPlan> plan_download(const BuildEntry& build, const ManifestSource& manifest_source) {
    Result<DownloadSource> source = resolve_download_source(build.url, manifest_source);
    if (!source) return std::move(source).failure();
    if (Status digest_text = check_sha256_text(build.sha256, source.value()); !digest_text)
        return std::move(digest_text).failure();
    return DownloadPlan{std::move(source.value()), build.size, build.sha256};
}

Status verify_download(const DownloadPlan& plan, const FileDigest& received) {
    return verify_download(plan.source, received.byte_count, received.digest, plan.size,
                           plan.sha256);
}

}  // namespace vantile
