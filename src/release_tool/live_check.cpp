#include "release_tool/live_check.h"

#include "base/text.h"
#include "flow/manifest_source.h"
#include "release_tool/host.h"
#include "release_tool/tool_files.h"

namespace vantile {

bool checks_live(const CheckRequest& check) {
    return check.online || starts_with_https(check.manifest);
}

Result<ManifestVerdict> check_live(const CheckRequest& check, const FetchSettings& settings,
                                   const ProgressReport& progress) {
    const bool at_hand = !starts_with_https(check.manifest);
    if (has_url_scheme(check.manifest) && at_hand) return fail(not_https_message(check.manifest));
    const std::string address =
        at_hand ? check.manifest_address.value_or(std::string(DEFAULT_MANIFEST_ADDRESS))
                : check.manifest;
    if (!starts_with_https(address)) return fail(not_https_message(address));

    OnlineCheck online(settings, progress);
    const FetchedManifest served = online.fetch_manifest(address);
    if (!at_hand && served.unreachable)
        return fail(fill_template(
            "{} The release host cannot be reached: {}.",
            {served.outcome.failure.value_or(address), served.outcome.host_lines.empty()
                                                           ? std::string("no answer")
                                                           : served.outcome.host_lines.front()}));

    const Result<std::string> bytes = at_hand ? read_manifest_file(check.manifest) : served.bytes;
    const ArchiveAccess access{std::nullopt,
                               {},
                               host_path,
                               hash_archive,
                               judge_unpacking,
                               [&online](const DownloadPlan& plan) { return online.fetch_archive(plan); }};
    // Published, the manifest's relative addresses are read from where the installer reads it.
    ManifestVerdict verdict = check_manifest(bytes, Address{address}, access);
    verdict.manifest_fetch = served.outcome;
    for (const std::string& line : served.outcome.host_lines)
        verdict.host_lines.push_back("the release host " + line);
    if (at_hand) verdict.manifest = check.manifest;
    if (at_hand && bytes) {
        const std::optional<std::string> differs =
            served_manifest_differs(served, bytes.value(), check.manifest);
        verdict.host_serves_other_manifest = differs.has_value();
        verdict.host_lines.push_back(
            differs ? *differs
                    : fill_template("the release host serves {} at {}", {check.manifest, address}));
    }
    return verdict;
}

}  // namespace vantile
