#include <gtest/gtest.h>

#include "base/text.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vantile {
namespace {

TEST(FillTemplate, FillsPlaceholdersInOrder) {
    EXPECT_EQ(fill_template("Could not create {}: {}", {"C:\\x", "Access is denied. (os error 5)"}),
              "Could not create C:\\x: Access is denied. (os error 5)");
    EXPECT_EQ(fill_template("no placeholder", {"unused"}), "no placeholder");
    EXPECT_EQ(fill_template("{} and {}", {"one"}), "one and {}");
}

// One row per kind of text: ASCII, two-, three- and four-byte UTF-8, and UTF-16 that is not
// valid Unicode (unpaired surrogates, which only the lossy direction accepts).
TEST(Utf16AndUtf8, ConvertExactlyBothWays) {
    struct Case {
        std::u16string utf16;
        std::string lossy;                  // what utf16_to_utf8_lossy gives
        std::optional<std::string> strict;  // what utf16_to_utf8_strict gives
    };
    const Case cases[] = {
        {u"", "", ""},
        {u"C:\\Temp\\", "C:\\Temp\\", "C:\\Temp\\"},
        {u"\u00e9t\u00e9", "\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
        {u"\u20ac\uffff", "\xe2\x82\xac\xef\xbf\xbf", "\xe2\x82\xac\xef\xbf\xbf"},
        {u"\U0001F600", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        // The last code point: the highest surrogate pair there is.
        {u"\U0010FFFF", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
        {std::u16string{char16_t(0xDBFF), char16_t(0xDFFF)}, "\xf4\x8f\xbf\xbf",
         "\xf4\x8f\xbf\xbf"},
        // The first code point a surrogate pair makes, and the code points either side of the
        // surrogates, which stand for themselves.
        {std::u16string{char16_t(0xD800), char16_t(0xDC00)}, "\xf0\x90\x80\x80",
         "\xf0\x90\x80\x80"},
        {u"\uD7FF\uE000", "\xed\x9f\xbf\xee\x80\x80", "\xed\x9f\xbf\xee\x80\x80"},
        {std::u16string{char16_t(0xDFFF)}, "\xef\xbf\xbd", std::nullopt},
        {std::u16string{u'a', char16_t(0xD800)}, "a\xef\xbf\xbd", std::nullopt},
        {std::u16string{char16_t(0xDC00), u'b'},
         "\xef\xbf\xbd"
         "b",
         std::nullopt},
        {std::u16string{char16_t(0xDC00), char16_t(0xD800)}, "\xef\xbf\xbd\xef\xbf\xbd",
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lossy);
        EXPECT_EQ(utf16_to_utf8_lossy(c.utf16), c.lossy);
        EXPECT_EQ(utf16_to_utf8_strict(c.utf16), c.strict);
        if (c.strict) {
            EXPECT_EQ(utf8_to_utf16(*c.strict), c.utf16);
        }
    }
}

TEST(AppendUtf8, WritesEachCodePointInTheShortestForm) {
    struct Case {
        char32_t code_point;
        std::string bytes;
    };
    const Case cases[] = {
        {U'\0', std::string(1, '\0')},
        {0x7F, "\x7f"},
        {0x80, "\xc2\x80"},
        {0x7FF, "\xdf\xbf"},
        {0x800, "\xe0\xa0\x80"},
        {0xD800, "\xed\xa0\x80"},
        {0xFFFD, "\xef\xbf\xbd"},
        {0x10000, "\xf0\x90\x80\x80"},
        {0x10FFFF, "\xf4\x8f\xbf\xbf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<std::uint32_t>(c.code_point));
        std::string out = "x";
        append_utf8(out, c.code_point);
        EXPECT_EQ(out, "x" + c.bytes);
    }
}

}  // namespace
}  // namespace vantile
