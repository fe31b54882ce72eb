#pragma once
// Slips a publisher makes that the installer lets pass: each a warning, never a failure
// (but for --strict).
#include <string>
#include <vector>

#include "flow/json_value.h"

namespace vantile {

// Warnings for the manifest as a whole: a key the installer does not read a letter or two from
// one it does; a computer's own build older than one it also takes; a computer's own build the
// same archive as one it also takes; and a version that differs from the version folder in its
// address.
std::vector<std::string> manifest_warnings(const JsonValue& document);

}  // namespace vantile
