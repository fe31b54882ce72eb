#include "json_reader.h"
// Placeholder until the reader is built.
namespace vantile {
const JsonValue* JsonValue::find(std::string_view key) const {
    const JsonObject* object = as_object();
    if (!object) return nullptr;
    for (const auto& member : *object)
        if (member.first == key) return &member.second;
    return nullptr;
}
Result<JsonValue> parse_json(std::string_view) { return fail("not built yet at line 1 column 0"); }
}  // namespace vantile
