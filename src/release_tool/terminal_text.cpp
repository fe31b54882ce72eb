#include "release_tool/terminal_text.h"

namespace vantile {
namespace {

constexpr char HEX[] = "0123456789abcdef";

void append_escaped(std::string& out, std::string_view prefix, unsigned value) {
    out += prefix;
    out.push_back(HEX[(value >> 4) & 0x0F]);
    out.push_back(HEX[value & 0x0F]);
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            append_escaped(out, "\\x", byte);
        } else if (byte == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080 to U+009F in UTF-8: terminals read some of them as controls too.
            append_escaped(out, "\\u00", static_cast<unsigned char>(text[++i]));
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

}  // namespace vantile
