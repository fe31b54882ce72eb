#include <gtest/gtest.h>

#include "windows/portable/error_text_forms.h"

namespace vantile {
namespace {

TEST(WindowsErrorForm, LongAndShortForms) {
    struct Case {
        const char* name;
        std::u16string message;
        std::uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {"WinINet text with its line break", u"The request has timed out.\r\n", 12002,
         "The request has timed out. (Windows error 12002)"},
        {"no text", u"", 4294967295u, "Windows error 4294967295"},
        {"only white space", u" \t\r\n\u3000\u00A0\u2028", 12057, "Windows error 12057"},
        {"every White_Space character at both ends",
         u"\t\n\v\f\r "
         u"\u0085\u00A0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200A"
         u"\u2028\u2029\u202F\u205F\u3000x\u3000\u205F\u202F\u2029\u2028\u200A\u2009\u2008\u2007"
         u"\u2006\u2005"
         u"\u2004\u2003\u2002\u2001\u2000\u1680\u00A0\u0085 \r\f\v\n\t",
         5, "x (Windows error 5)"},
        {"inner spaces kept", u" a  b\r\nc \r\n", 1, "a  b\r\nc (Windows error 1)"},
        {"not White_Space: zero width, BOM, Mongolian vowel separator, U+001C",
         u"\u200Bx\uFEFF\u180E\u001C", 2, "\u200Bx\uFEFF\u180E\u001C (Windows error 2)"},
        {"unpaired surrogate becomes U+FFFD", u"a\xD800 b\r\n", 3, "a\uFFFD b (Windows error 3)"},
        {"surrogate pair kept", u"\U0001F600\r\n", 4, "\U0001F600 (Windows error 4)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(windows_error_form(c.message, c.code), c.text);
    }
}

TEST(WindowsErrorForm, WhiteSpaceIsExactlyTheUnicodeSet) {
    const char32_t white[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                              0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                              0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                              0x2029, 0x202F, 0x205F, 0x3000};
    for (char32_t c : white)
        EXPECT_TRUE(is_unicode_white_space(c)) << std::hex << static_cast<std::uint32_t>(c);
    const char32_t not_white[] = {0x00,   0x08,   0x0E,   0x1C,   0x1F,   0x21,   0x84,
                                  0x86,   0x9F,   0xA1,   0x180E, 0x200B, 0x200C, 0x2027,
                                  0x202A, 0x2060, 0x3001, 0xFEFF, 0xFFFD};
    for (char32_t c : not_white)
        EXPECT_FALSE(is_unicode_white_space(c)) << std::hex << static_cast<std::uint32_t>(c);
}

TEST(OsErrorForm, DetailThenSignedCode) {
    struct Case {
        const char* name;
        std::int32_t code;
        std::int32_t lookup_code;
        std::u16string message;
        std::int32_t lookup_error;
        const char* text;
    };
    const Case cases[] = {
        {"system text loses its line break", 5, 5, u"Access is denied.\r\n", 0,
         "Access is denied. (os error 5)"},
        {"only the five trailing characters go, leading space stays", 2, 2, u"  x \t\n\f\r \r\n", 0,
         "  x (os error 2)"},
        {"vertical tab and no-break space stay", 3, 3, u"x\u00A0\v", 0, "x\u00A0\v (os error 3)"},
        {"lookup failed", 123456, 123456, u"", 317,
         "OS Error 123456 (FormatMessageW() returned error 317) (os error 123456)"},
        {"HRESULT printed negative", -2147024891, -2147024891, u"", 317,
         "OS Error -2147024891 (FormatMessageW() returned error 317) (os error -2147024891)"},
        {"NTSTATUS lookup shows the cleared code, the end the code passed in", -805306358,
         -1073741814, u"", 317,
         "OS Error -1073741814 (FormatMessageW() returned error 317) (os error -805306358)"},
        {"invalid UTF-16", -5, -5, u"bad \xDC00 text\r\n", 0,
         "OS Error -5 (FormatMessageW() returned invalid UTF-16) (os error -5)"},
        {"negative last error printed signed", 7, 7, u"", -1,
         "OS Error 7 (FormatMessageW() returned error -1) (os error 7)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(os_error_form(c.code, c.lookup_code, c.message, c.lookup_error), c.text);
    }
}

}  // namespace
}  // namespace vantile
