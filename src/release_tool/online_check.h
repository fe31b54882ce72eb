#pragma once
// The live check: the manifest and the archives read from the release host as the installer
// reads them, into memory and a temporary folder that is removed at the end.
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/result.h"
#include "flow/download_plan.h"
#include "flow/json_value.h"
#include "release_tool/download_outcome.h"
#include "release_tool/online_fetch.h"

namespace vantile {

// Called with the bytes read so far and the size expected, as a large archive arrives.
using ProgressReport = std::function<void(std::uint64_t read, std::uint64_t expected)>;

struct FetchedManifest {
    Result<std::string> bytes = fail(std::string());
    DownloadOutcome outcome;
    bool unreachable = false;  // the address cannot be reached at all
};

class OnlineCheck {
  public:
    OnlineCheck(FetchSettings settings, ProgressReport progress);
    OnlineCheck(const OnlineCheck&) = delete;
    OnlineCheck& operator=(const OnlineCheck&) = delete;
    ~OnlineCheck();  // removes the temporary folder and all in it

    // The manifest at `address`, read with the installer's size limit.
    FetchedManifest fetch_manifest(const std::string& address);
    // The archive of the plan, read into the temporary folder: at most its size and one chunk.
    FetchedArchive fetch_archive(const DownloadPlan& plan);

  private:
    FetchSettings settings_;
    ProgressReport progress_;
    std::optional<std::filesystem::path> folder_;
    // An address several kinds of computer choose is read once.
    std::map<std::string, FetchedArchive> fetched_;
};

// The line that says whether the host serves the manifest at hand (`local`, named `named`) at
// the installer's address: nothing when it is the same.
std::optional<std::string> served_manifest_differs(const FetchedManifest& served,
                                                   const std::string& local,
                                                   const std::string& named);

JsonValue download_document(const DownloadOutcome& outcome);

}  // namespace vantile
