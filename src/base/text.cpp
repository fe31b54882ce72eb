#include "base/text.h"

namespace vantile {

std::string fill_template(std::string_view pattern,
                          std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(pattern.size() + 64);
    auto next = values.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '}' &&
            next != values.end()) {
            out.append(*next++);
            ++i;
        } else {
            out.push_back(pattern[i]);
        }
    }
    return out;
}

std::string join_path(std::string_view base, std::string_view component) {
    std::string out(base);
    if (!out.empty() && out.back() != '\\' && out.back() != '/') out.push_back('\\');
    out.append(component);
    return out;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

// Decodes UTF-16; returns false at the first unpaired surrogate when strict.
bool decode_utf16(std::u16string_view text, std::string& out, bool strict) {
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            if (strict) return false;
            append_utf8(out, 0xFFFD);
        } else {
            append_utf8(out, unit);
        }
    }
    return true;
}

}  // namespace

std::string utf16_to_utf8_lossy(std::u16string_view text) {
    std::string out;
    decode_utf16(text, out, false);
    return out;
}

std::optional<std::string> utf16_to_utf8_strict(std::u16string_view text) {
    std::string out;
    if (!decode_utf16(text, out, true)) return std::nullopt;
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        char32_t cp;
        size_t length;
        if (byte < 0x80) {
            cp = byte;
            length = 1;
        } else if ((byte >> 5) == 0x6) {
            cp = byte & 0x1F;
            length = 2;
        } else if ((byte >> 4) == 0xE) {
            cp = byte & 0x0F;
            length = 3;
        } else {
            cp = byte & 0x07;
            length = 4;
        }
        if (i + length > text.size()) length = text.size() - i;
        for (size_t k = 1; k < length; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += length;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

}  // namespace vantile
