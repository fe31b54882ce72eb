#include "flow/json_writer.h"

#include <charconv>
#include <cmath>
#include <type_traits>

namespace vantile {
namespace {

void append_string(std::string& out, const std::string& text) {
    static constexpr char HEX[] = "0123456789abcdef";
    out.push_back('"');
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out.push_back(HEX[byte >> 4]);
                    out.push_back(HEX[byte & 0x0F]);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

void append_number(std::string& out, double number) {
    // JSON has no infinity or NaN; the tool never writes one, but stay valid if it did.
    if (!std::isfinite(number)) {
        out += "null";
        return;
    }
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, number);
    out.append(buffer, written.ptr);
}

void append_value(std::string& out, const JsonValue& value, int depth) {
    const auto newline = [&](int level) {
        out.push_back('\n');
        out.append(static_cast<std::size_t>(level) * 2, ' ');
    };
    std::visit(
        [&](const auto& data) {
            using T = std::decay_t<decltype(data)>;
            if constexpr (std::is_same_v<T, JsonNull>) {
                out += "null";
            } else if constexpr (std::is_same_v<T, bool>) {
                out += data ? "true" : "false";
            } else if constexpr (std::is_same_v<T, std::uint64_t> ||
                                 std::is_same_v<T, std::int64_t>) {
                out += std::to_string(data);
            } else if constexpr (std::is_same_v<T, double>) {
                append_number(out, data);
            } else if constexpr (std::is_same_v<T, std::string>) {
                append_string(out, data);
            } else if constexpr (std::is_same_v<T, JsonArray>) {
                if (data.empty()) {
                    out += "[]";
                    return;
                }
                out.push_back('[');
                for (std::size_t i = 0; i < data.size(); ++i) {
                    if (i) out.push_back(',');
                    newline(depth + 1);
                    append_value(out, data[i], depth + 1);
                }
                newline(depth);
                out.push_back(']');
            } else {
                if (data.empty()) {
                    out += "{}";
                    return;
                }
                out.push_back('{');
                for (std::size_t i = 0; i < data.size(); ++i) {
                    if (i) out.push_back(',');
                    newline(depth + 1);
                    append_string(out, data[i].first);
                    out += ": ";
                    append_value(out, data[i].second, depth + 1);
                }
                newline(depth);
                out.push_back('}');
            }
        },
        value.data);
}

}  // namespace

std::string json_text(const JsonValue& value) {
    std::string out;
    append_value(out, value, 0);
    return out;
}

}  // namespace vantile
