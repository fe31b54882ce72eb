#include "release_tool/terminal_text.h"

namespace vantile {
namespace {

constexpr char HEX[] = "0123456789abcdef";

void append_escaped(std::string& out, std::string_view prefix, unsigned value) {
    out += prefix;
    out.push_back(HEX[(value >> 4) & 0x0F]);
    out.push_back(HEX[value & 0x0F]);
}

unsigned byte_at(std::string_view text, std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0x100;
}

// The length of the valid UTF-8 sequence at `i`, or 0: no overlong forms, no surrogates,
// nothing above U+10FFFF.
std::size_t sequence_length(std::string_view text, std::size_t i) {
    const unsigned lead = byte_at(text, i);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xBF;  // the bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (byte_at(text, i + 1) < low || byte_at(text, i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (byte_at(text, i + k) < 0x80 || byte_at(text, i + k) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned byte = byte_at(text, i);
        const std::size_t length = sequence_length(text, i);
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            append_escaped(out, "\\x", byte);
            ++i;
        } else if (byte == 0xC2 && byte_at(text, i + 1) <= 0x9F) {
            // U+0080 to U+009F in UTF-8: terminals read some of them as controls too.
            append_escaped(out, "\\u00", byte_at(text, i + 1));
            i += 2;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string escape_invalid_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = sequence_length(text, i);
        if (length == 0) {
            append_escaped(out, "\\x", byte_at(text, i));
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

}  // namespace vantile
