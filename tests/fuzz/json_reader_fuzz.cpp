// Fuzzes the strict JSON reader. Every input must give either a document or an error
// "<known description> at line L column C" whose position lies inside the input; every
// document must hold valid UTF-8, one member per key, at most 128 levels, and must read
// back identically from its own re-serialisation.
//
// Seed corpus from the reference vectors (one file per vector):
//   mkdir -p corpus && grep -v '^#' tests/data/json-vectors.tsv | tail -n +2 |
//     while IFS=$'\t' read -r id hex rest; do printf '%s' "$hex" | xxd -r -p > corpus/$id; done
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "flow/json_reader.h"

namespace {

using namespace vantile;

constexpr std::array<std::string_view, 20> DESCRIPTIONS = {
    "EOF while parsing a value",
    "EOF while parsing a list",
    "EOF while parsing an object",
    "EOF while parsing a string",
    "expected value",
    "expected ident",
    "key must be a string",
    "expected `:`",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "trailing comma",
    "trailing characters",
    "invalid number",
    "number out of range",
    "invalid escape",
    "unexpected end of hex escape",
    "lone leading surrogate in hex escape",
    "invalid unicode code point",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "recursion limit exceeded",
};

[[noreturn]] void defect(const char* what, std::string_view detail) {
    std::fprintf(stderr, "json_reader_fuzz: %s: %.*s\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

// Reads a positive decimal number without sign or leading zero that fills the whole text.
bool read_count(std::string_view text, std::size_t& value) {
    if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

void check_error(std::string_view input, std::string_view error) {
    const std::size_t at_line = error.rfind(" at line ");
    if (at_line == std::string_view::npos) defect("no position", error);
    const std::string_view description = error.substr(0, at_line);
    bool known = false;
    for (std::string_view listed : DESCRIPTIONS) known = known || listed == description;
    if (!known) defect("unknown description", error);
    const std::string_view position = error.substr(at_line + 9);
    const std::size_t column_word = position.find(" column ");
    std::size_t line = 0, column = 0;
    if (column_word == std::string_view::npos ||
        !read_count(position.substr(0, column_word), line) ||
        !read_count(position.substr(column_word + 8), column) || line == 0)
        defect("malformed position", error);
    // The line must exist, and the column may not run past that line's bytes.
    std::size_t line_start = 0;
    for (std::size_t l = 1; l < line; ++l) {
        const std::size_t feed = input.find('\n', line_start);
        if (feed == std::string_view::npos) defect("line beyond the input", error);
        line_start = feed + 1;
    }
    const std::size_t feed = input.find('\n', line_start);
    const std::size_t line_end = feed == std::string_view::npos ? input.size() : feed;
    if (column > line_end - line_start) defect("column beyond its line", error);
    // Running out of input is reported at its very end.
    if (description.starts_with("EOF") &&
        (feed != std::string_view::npos || column != input.size() - line_start))
        defect("EOF reported before the end", error);
    // A bad character among the four after "\u" (one not right after a backslash) counts
    // only when all four are there; input that ends sooner ended inside the string.
    if (description == "invalid escape" && column > 1 && input[line_start + column - 2] != '\\') {
        std::size_t u = line_start + column - 2;
        while (u > 0 && std::isxdigit(static_cast<unsigned char>(input[u]))) --u;
        if (input.size() - (u + 1) < 4) defect("invalid escape where the input ended", error);
    }
}

bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (lead >= 0x80 && lead < 0xC2) return false;
        if (lead > 0xF4 || i + length > text.size()) return false;
        std::uint32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code_point = (code_point << 6) | (next & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code_point < smallest[length] || code_point > 0x10FFFF ||
            (code_point >= 0xD800 && code_point <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

void write_string(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

void write(std::string& out, const JsonValue& value) {
    if (std::holds_alternative<JsonNull>(value.data)) {
        out += "null";
    } else if (const bool* b = std::get_if<bool>(&value.data)) {
        out += *b ? "true" : "false";
    } else if (const auto* u = std::get_if<std::uint64_t>(&value.data)) {
        out += std::to_string(*u);
    } else if (const auto* i = std::get_if<std::int64_t>(&value.data)) {
        out += std::to_string(*i);
    } else if (const double* d = std::get_if<double>(&value.data)) {
        char digits[64];
        auto end =
            std::to_chars(digits, digits + sizeof digits, *d, std::chars_format::scientific).ptr;
        out.append(digits, end);  // always has an exponent, so it reads back as a double
    } else if (const auto* s = std::get_if<std::string>(&value.data)) {
        write_string(out, *s);
    } else if (const auto* items = std::get_if<JsonArray>(&value.data)) {
        out += '[';
        for (std::size_t k = 0; k < items->size(); ++k) {
            if (k) out += ',';
            write(out, (*items)[k]);
        }
        out += ']';
    } else {
        const auto& members = std::get<JsonObject>(value.data);
        out += '{';
        for (std::size_t k = 0; k < members.size(); ++k) {
            if (k) out += ',';
            write_string(out, members[k].first);
            out += ':';
            write(out, members[k].second);
        }
        out += '}';
    }
}

bool same(const JsonValue& a, const JsonValue& b) {
    if (a.data.index() != b.data.index()) return false;
    if (const double* x = std::get_if<double>(&a.data)) {
        const double y = std::get<double>(b.data);
        return *x == y && std::signbit(*x) == std::signbit(y);
    }
    if (const auto* items = std::get_if<JsonArray>(&a.data)) {
        const auto& others = std::get<JsonArray>(b.data);
        if (items->size() != others.size()) return false;
        for (std::size_t k = 0; k < items->size(); ++k)
            if (!same((*items)[k], others[k])) return false;
        return true;
    }
    if (const auto* members = std::get_if<JsonObject>(&a.data)) {
        const auto& others = std::get<JsonObject>(b.data);
        if (members->size() != others.size()) return false;
        for (std::size_t k = 0; k < members->size(); ++k)
            if ((*members)[k].first != others[k].first ||
                !same((*members)[k].second, others[k].second))
                return false;
        return true;
    }
    if (const auto* s = std::get_if<std::string>(&a.data))
        return *s == std::get<std::string>(b.data);
    if (const auto* u = std::get_if<std::uint64_t>(&a.data))
        return *u == std::get<std::uint64_t>(b.data);
    if (const auto* i = std::get_if<std::int64_t>(&a.data))
        return *i == std::get<std::int64_t>(b.data);
    if (const bool* flag = std::get_if<bool>(&a.data)) return *flag == std::get<bool>(b.data);
    return true;  // both null
}

void check_value(const JsonValue& value, int depth) {
    if (const double* d = std::get_if<double>(&value.data)) {
        if (!std::isfinite(*d)) defect("non-finite number", "");
    } else if (const auto* s = std::get_if<std::string>(&value.data)) {
        if (!valid_utf8(*s)) defect("string is not UTF-8", *s);
    } else if (const auto* items = std::get_if<JsonArray>(&value.data)) {
        if (depth + 1 > JSON_NESTING_LIMIT) defect("nested too deep", "");
        for (const JsonValue& item : *items) check_value(item, depth + 1);
    } else if (const auto* members = std::get_if<JsonObject>(&value.data)) {
        if (depth + 1 > JSON_NESTING_LIMIT) defect("nested too deep", "");
        for (std::size_t k = 0; k < members->size(); ++k) {
            if (!valid_utf8((*members)[k].first)) defect("key is not UTF-8", (*members)[k].first);
            for (std::size_t j = 0; j < k; ++j)
                if ((*members)[j].first == (*members)[k].first)
                    defect("key kept twice", (*members)[k].first);
            if (value.find((*members)[k].first) != &(*members)[k].second)
                defect("find misses a member", (*members)[k].first);
            check_value((*members)[k].second, depth + 1);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const Result<JsonValue> parsed = parse_json(input);
    if (!parsed.ok()) {
        check_error(input, parsed.error());
        return 0;
    }
    check_value(parsed.value(), 0);
    std::string again;
    write(again, parsed.value());
    const Result<JsonValue> reread = parse_json(again);
    if (!reread.ok()) defect("own output does not read back", reread.error());
    if (!same(parsed.value(), reread.value())) defect("own output reads back differently", again);
    return 0;
}
