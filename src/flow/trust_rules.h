#pragma once
// Which download addresses are trusted, and the form of a SHA-256 text.
#include <string>
#include <string_view>

#include "base/result.h"
#include "flow/manifest_source.h"
#include "flow/sources.h"

namespace vantile {

// The two trusted locations; each download's path then starts with DOWNLOAD_PATH_PREFIX.
inline constexpr std::string_view STORAGE_DOWNLOAD_PREFIX = VANTILE_STORAGE_ROOT;
inline constexpr std::string_view CDN_DOWNLOAD_PREFIX = "https://" VANTILE_CDN_HOST "/";
inline constexpr std::string_view DOWNLOAD_PATH_PREFIX = VANTILE_DESKTOP_FOLDER;

Result<DownloadSource> resolve_download_source(const std::string& url,
                                               const ManifestSource& manifest_source);

Status check_sha256_text(std::string_view sha256, const DownloadSource& download_source);

}  // namespace vantile
