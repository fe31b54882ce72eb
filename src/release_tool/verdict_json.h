#pragma once
// The verdicts of check and make as a JSON document, for scripts.
#include "flow/json_value.h"
#include "release_tool/manifest_check.h"

namespace vantile {

JsonValue verdict_document(const ManifestVerdict& verdict);

}  // namespace vantile
