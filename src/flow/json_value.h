#pragma once
// The generic document the manifest parses into.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vantile {

struct JsonValue;
struct JsonMember;

using JsonArray = std::vector<JsonValue>;
// Members in document order with duplicated keys already collapsed: a repeated key
// stays where it first appeared and keeps the value of its last occurrence.
using JsonObject = std::vector<JsonMember>;

struct JsonNull {
    bool operator==(const JsonNull&) const = default;
};

struct JsonValue {
    // Number kinds: a non-negative integer that fits is unsigned, a negative one that
    // fits is signed, anything else (fraction, exponent, too large) is a double.
    std::variant<JsonNull, bool, std::uint64_t, std::int64_t, double, std::string, JsonArray,
                 JsonObject>
        data;

    bool is_object() const { return std::holds_alternative<JsonObject>(data); }
    const JsonObject* as_object() const { return std::get_if<JsonObject>(&data); }
    const std::string* as_string() const { return std::get_if<std::string>(&data); }

    // The member with this exact key (byte for byte), or nullptr.
    const JsonValue* find(std::string_view key) const;
};

// One object member. A plain struct rather than std::pair: clang cannot instantiate a pair
// whose second type holds a vector of that same pair.
struct JsonMember {
    std::string first;  // the key
    JsonValue second;   // the value
};

}  // namespace vantile
