#pragma once
// The verdicts of check and make as a JSON document, for scripts.
#include "flow/json_value.h"
#include "release_tool/manifest_check.h"

namespace vantile {

// Raised when a member of the documents changes meaning or goes away.
inline constexpr int VERDICT_SCHEMA_VERSION = 1;

JsonValue verdict_document(const ManifestVerdict& verdict);

}  // namespace vantile
