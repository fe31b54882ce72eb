#pragma once
// A strict JSON reader whose errors read "<description> at line <L> column <C>".
#include <string_view>

#include "base/result.h"
#include "flow/json_value.h"

namespace vantile {

inline constexpr int JSON_NESTING_LIMIT = 128;

Result<JsonValue> parse_json(std::string_view bytes);

}  // namespace vantile
