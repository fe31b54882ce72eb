#pragma once
// What the installer would do with a release manifest on an x64 and on an arm64 computer,
// and why, worked out with the installer's own rules.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "flow/computer_facts.h"
#include "flow/release_manifest.h"
#include "flow/sources.h"
#include "flow/verification.h"

namespace vantile {

// Where --files finds the archive of a build, and how it is hashed.
struct ArchiveFiles {
    std::function<std::string(std::string_view name)> path_of;
    std::function<Result<FileDigest>(const std::string& path)> hash;
};

struct ComputerVerdict {
    Architecture architecture = Architecture::X64;
    std::optional<ReleaseManifest> chosen;
    std::optional<DownloadSource> download;  // once the trust rules accepted the build
    std::optional<std::string> archive;      // the file compared with the build
    std::optional<std::string> failure;      // the installer's own message when it would fail
    std::vector<std::string> lines;          // for people, each beginning "x64: " or "arm64: "

    bool installs() const { return chosen.has_value() && !failure.has_value(); }
};

struct ManifestVerdict {
    std::string manifest;
    std::vector<ComputerVerdict> computers;  // x64, then arm64

    bool installs_everywhere() const;
    std::string summary() const;
    // Each computer's lines, then the summary.
    std::vector<std::string> lines() const;
};

// "x64" or "arm64".
std::string_view computer_name(Architecture architecture);

// `bytes` is the manifest as read, or the installer's message for why it could not be read;
// `source` is where the installer would have read it from.
ManifestVerdict check_manifest(const Result<std::string>& bytes, const ManifestSource& source,
                               const std::optional<ArchiveFiles>& files);

// Where --files looks for a build's archive inside its folder: an address's file name (after
// its last slash), or a local manifest's path beside the manifest as it stands.
std::string_view archive_name_in_folder(std::string_view url);

}  // namespace vantile
