#pragma once
// Where the release manifest comes from, and reading it into memory.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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

// The one check of a manifest's size, measured before reading or counted while reading:
// success, or the refusal of `source_text` as larger than a manifest can be.
Status check_manifest_size(std::uint64_t size, std::string_view source_text);

// A manifest's bytes as they arrive from `source_text`, taken only up to the chunk that passes
// the limit, so that memory stays bounded whatever a source sends.
class ManifestBytes {
  public:
    explicit ManifestBytes(std::string source_text) : source_text_(std::move(source_text)) {}

    // Takes a chunk: false once the bytes passed the limit, and from then on nothing is taken.
    bool add(const char* data, std::size_t size);
    // Once reading ended (`read_error`: its failure, empty if none): refused as too large if the
    // bytes passed the limit, whatever the reading said after it was told to stop; else the
    // reading's failure; else the manifest.
    Result<std::string> finish(const std::string& read_error) &&;

  private:
    std::string source_text_;
    std::string bytes_;
    bool too_large_ = false;
};

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
