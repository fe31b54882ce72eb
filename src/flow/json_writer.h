#pragma once
// Writes a JSON document as text, the counterpart of json_reader: the manifests the release
// tool makes and its --json output.
#include <string>

#include "flow/json_value.h"

namespace vantile {

// Objects and arrays one member per line, indented by two spaces per level; no final line
// break. Strings must hold valid UTF-8, which is written as it is.
std::string json_text(const JsonValue& value);

}  // namespace vantile
