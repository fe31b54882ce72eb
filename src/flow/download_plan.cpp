#include "flow/download_plan.h"

#include "flow/trust_rules.h"

namespace vantile {

Result<DownloadPlan> plan_download(const BuildEntry& build, const ManifestSource& manifest_source) {
    Result<DownloadSource> source = resolve_download_source(build.url, manifest_source);
    if (!source) return fail(source.error());
    if (Status digest_text = check_sha256_text(build.sha256, source.value()); !digest_text)
        return fail(digest_text.error());
    return DownloadPlan{std::move(source.value()), build.size, build.sha256};
}

Status verify_download(const DownloadPlan& plan, const FileDigest& received) {
    return verify_download(plan.source, received.byte_count, received.digest, plan.size,
                           plan.sha256);
}

}  // namespace vantile
