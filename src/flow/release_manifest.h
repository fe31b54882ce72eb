#pragma once
// The build this computer installs, chosen from the release manifest.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"
#include "flow/computer_facts.h"
#include "flow/json_value.h"

namespace vantile {

struct ReleaseManifest {
    std::string version;
    std::string url;
    std::string sha256;
    std::string asset;  // "desktop-windows-x64" or "desktop-windows-arm64"
    std::int64_t size = 0;
};

// The manifest bytes as a document, or "The manifest {} is not valid JSON: {}".
Result<JsonValue> parse_manifest_document(std::string_view bytes, std::string_view source_text);

Result<ReleaseManifest> select_build(const JsonValue& document, Architecture architecture);

}  // namespace vantile
