#pragma once
// Which download addresses are trusted, and the form of a SHA-256 text.
#include <string>
#include <string_view>

#include "base/result.h"
#include "flow/manifest_source.h"
#include "flow/sources.h"

namespace vantile {

inline constexpr std::string_view STORAGE_DOWNLOAD_PREFIX =
    "https://" VANTILE_STORAGE_HOST "/s3-mirrowfold-upgrade-3/";
inline constexpr std::string_view CDN_DOWNLOAD_PREFIX = "https://" VANTILE_CDN_HOST "/";
inline constexpr std::string_view DOWNLOAD_PATH_PREFIX = "vantile/desktop/";

Result<DownloadSource> resolve_download_source(const std::string& url,
                                               const ManifestSource& manifest_source);

Status check_sha256_text(std::string_view sha256, const DownloadSource& download_source);

}  // namespace vantile
