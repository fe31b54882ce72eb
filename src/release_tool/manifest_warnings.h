#pragma once
// Slips a publisher makes that the installer lets pass: each a warning, never a failure
// (but for --strict).
#include <string>
#include <vector>

#include "flow/json_value.h"

namespace vantile {

// Warnings for the manifest as a whole: a key a letter or two from one the installer reads,
// an arm64 build older than the x64 one, two kinds of computer given one archive, and a
// version that differs from the version folder in its address.
std::vector<std::string> manifest_warnings(const JsonValue& document);

}  // namespace vantile
