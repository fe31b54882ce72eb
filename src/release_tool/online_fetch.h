#pragma once
// One GET of a release address the way the installer makes it (https only, no redirect
// followed, nothing asked to be compressed, the same stall limit), and what the host did.
// One implementation per platform: online_fetch_curl.cpp (libcurl, with the system's CA store
// and curl's proxy variables) and online_fetch_wininet.cpp (the installer's own download code).
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "flow/transfer.h"

namespace vantile {

// The installer waits this long for each answer; the tests of the stall shorten it.
inline constexpr std::chrono::seconds ONLINE_STALL_LIMIT{30};

struct FetchSettings {
    std::optional<std::string> ca_file;  // a private CA beside the system's store
    std::chrono::milliseconds stall_limit = ONLINE_STALL_LIMIT;
};

// What the release host answered; the headers are those that decide what the installer gets.
struct HostAnswer {
    std::optional<long> status;  // none when no answer came (or the platform does not say)
    std::optional<std::string> content_encoding;
    std::optional<std::string> content_length;
    std::optional<std::string> location;
    bool complete = false;  // the whole body reached the consumer (or it asked to stop)
    // The installer's own message when it would fail here, and one line for the publisher on
    // what the host did.
    std::optional<std::string> failure;
    std::optional<std::string> host_did;
    // Nothing answered at all: no name, no connection (the address cannot be reached).
    bool unreachable = false;
};

// Hands the body to `consumer` in chunks of at most 64 KiB; a false from it stops the read.
HostAnswer fetch_from_host(const std::string& address, const ChunkConsumer& consumer,
                           const FetchSettings& settings);

}  // namespace vantile
