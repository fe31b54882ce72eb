#pragma once
// Text helpers shared by every message and path the program builds.
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace vantile {

// Fills the "{}" placeholders of a message template in order.
std::string fill_template(std::string_view pattern, std::initializer_list<std::string_view> values);

// Joins one path component with a single backslash; no separator after a value
// that already ends in one, none before the first component of an empty value.
std::string join_path(std::string_view base, std::string_view component);

// ASCII-only character tests: the address and version rules are defined on bytes, never
// on the C locale.
constexpr bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}
constexpr bool is_ascii_hex_digit(char c) {
    return is_ascii_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Appends the code point's UTF-8 bytes (a surrogate gets the three bytes of its value).
void append_utf8(std::string& out, char32_t code_point);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_to_utf8_lossy(std::u16string_view text);
// UTF-16 to UTF-8; nothing when the text is not valid UTF-16.
std::optional<std::string> utf16_to_utf8_strict(std::u16string_view text);
// UTF-8 (assumed valid) to UTF-16; code points above U+FFFF become surrogate pairs.
std::u16string utf8_to_utf16(std::string_view text);

}  // namespace vantile
