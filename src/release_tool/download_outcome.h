#pragma once
// What one download of the live check met: the host's answer as far as it decides what the
// installer gets, and what was read.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flow/verification.h"

namespace vantile {

struct DownloadOutcome {
    std::string address;
    std::optional<long> status;
    std::optional<std::string> content_encoding;
    std::optional<std::string> content_length;
    std::optional<std::string> location;
    std::uint64_t bytes_read = 0;
    std::string sha256;                   // of the bytes read, as they came
    std::optional<std::string> failure;   // the installer's own message
    std::vector<std::string> host_lines;  // for the publisher: what the host did
};

// An archive as the live check read it into its temporary folder.
struct FetchedArchive {
    DownloadOutcome outcome;
    std::optional<std::string> path;  // where it was written, while the check runs
    FileDigest digest;
};

}  // namespace vantile
