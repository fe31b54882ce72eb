#pragma once
// What the installer would do with a release manifest on each kind of computer, and why,
// worked out with the installer's own rules, to the end: the trust rules, the size and SHA-256
// of the archive, and what unpacking it gives.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "flow/computer_facts.h"
#include "flow/download_plan.h"
#include "flow/release_manifest.h"
#include "flow/sources.h"
#include "release_tool/archive_rules.h"
#include "release_tool/computer_names.h"
#include "release_tool/download_outcome.h"

namespace vantile {

// How check reaches the archives on this computer.
struct ArchiveAccess {
    // --files: the folder that holds each published archive under its address's file name.
    std::optional<std::string> files_folder;
    // The archives make was given, each under the address the manifest names it by.
    std::vector<std::pair<std::string, std::string>> given_archives;
    // Where this computer opens what the installer opens under a path (a local manifest's
    // archive); nothing when only Windows can.
    std::function<std::optional<std::string>(std::string_view installer_path)> host_path;
    // The archive's size and SHA-256 ("Could not read {}: {}" naming the second path).
    std::function<Result<FileDigest>(const std::string& path, std::string_view named,
                                     std::int64_t expected_size)>
        hash;
    // What unpacking the archive gives on the installer's computer.
    std::function<UnpackVerdict(const std::string& path, std::string_view named)> judge_unpacking;
    // The live check: a published archive read from the release host, in place of --files.
    std::function<FetchedArchive(const DownloadPlan& plan)> fetch = {};
};

struct ComputerVerdict {
    Architecture architecture = ARCHITECTURES[0].architecture;
    std::optional<BuildEntry> chosen;
    std::optional<DownloadSource> download;  // once the trust rules accepted the build
    std::optional<std::string> archive;      // the file compared with the build
    std::optional<std::string> failure;      // the installer's own message when it would fail
    std::optional<std::string> unchecked;    // why the archive could not be checked here
    std::optional<std::string> mistake;      // the publisher's: an archive to check is missing
    std::vector<std::string> reasons;        // why unpacking would fail, for the publisher
    std::vector<std::string> warnings;
    std::optional<DownloadOutcome> fetched;  // the live check's download of the archive
    std::vector<std::string> lines;          // for people, each beginning "x64: " (its name)

    // Would install, as read to the end: an archive not checked is no install.
    bool installs() const { return chosen && !failure && !unchecked && !mistake; }
};

struct ManifestVerdict {
    std::string manifest;
    std::vector<ComputerVerdict> computers;  // in the order of ARCHITECTURES
    std::vector<std::string> warnings;       // the manifest's as a whole
    // The live check: how the release host served the manifest, and what it did that the
    // publisher should know (shown after the computers' lines).
    std::optional<DownloadOutcome> manifest_fetch;
    std::vector<std::string> host_lines;
    bool host_serves_other_manifest = false;

    bool installs_everywhere() const;
    bool fails_somewhere() const;
    // No archive was left unchecked (not given, or only Windows reaches it).
    bool checked_everything() const;
    // The first archive the publisher named that is not there.
    std::optional<std::string> mistake() const;
    // Every warning, the manifest's and each computer's, for --strict.
    std::vector<std::string> all_warnings() const;
    std::string summary() const;
    // Each computer's lines, the manifest's warnings, the host's, then the summary.
    std::vector<std::string> lines() const;
};

// `bytes` is the manifest as read, or the installer's message for why it could not be read;
// `source` is where the installer would have read it from. Without `access` the archives are
// not looked at.
ManifestVerdict check_manifest(const Result<std::string>& bytes, const ManifestSource& source,
                               const std::optional<ArchiveAccess>& access);

}  // namespace vantile
