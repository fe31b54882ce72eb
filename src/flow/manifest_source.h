#pragma once
// Where the release manifest comes from, and reading it into memory.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "flow/sources.h"
#include "flow/transfer.h"

namespace vantile {

// VANTILE_STORAGE_HOST and VANTILE_CDN_HOST are fixed into the build by CMake. The storage
// root and the desktop folder are macros so that the addresses below are put together from
// them at compile time, each written once.
#define VANTILE_STORAGE_ROOT "https://" VANTILE_STORAGE_HOST "/s3-mirrowfold-upgrade-3/"
#define VANTILE_DESKTOP_FOLDER "vantile/desktop/"
inline constexpr std::string_view DEFAULT_MANIFEST_ADDRESS =
    VANTILE_STORAGE_ROOT VANTILE_DESKTOP_FOLDER "metadata.json";
inline constexpr std::size_t MANIFEST_SIZE_LIMIT = 1048576;

// value: VANTILE_INSTALL_MANIFEST, absent when unset or not valid Unicode.
Result<ManifestSource> manifest_source_from_environment(const std::optional<std::string>& value);

bool has_url_scheme(std::string_view text);

// The refusal of an address with a scheme other than https, for the manifest and for a build.
std::string not_https_message(std::string_view address);

// True when the first 8 bytes are "https://" in any letter case.
bool starts_with_https(std::string_view text);

// fetch_address: how the transfer ended, or a complete message.
using FetchAddress =
    std::function<Result<TransferEnd>(const std::string& address, const ChunkConsumer&)>;

// One try of reading an https manifest, stopping as soon as the body passes the limit.
Result<std::string> read_manifest_from_address(const std::string& address,
                                               const FetchAddress& fetch);

// The messages of reading a manifest file.
std::string manifest_missing_message(std::string_view path);
std::string manifest_too_large_message(std::string_view source_text);
std::string manifest_unreadable_message(std::string_view path, std::string_view os_error);

}  // namespace vantile
