// UTF-16 at the Win32 call and UTF-8 inside: the conversions both ways, at the edges of the
// surrogate ranges and of Unicode itself.
#include "windows/wide_text.h"

#include <gtest/gtest.h>

#include <string>

namespace vantile {
namespace {

TEST(WideText, ConvertsEveryKindOfUnitBothWays) {
    struct Case {
        const char* name;
        std::wstring wide;
        std::string text;   // from_wide: valid UTF-8, U+FFFD for an unpaired surrogate
        std::string exact;  // from_wide_exact: an unpaired surrogate keeps its own bytes
    };
    const Case cases[] = {
        {"empty", L"", "", ""},
        {"ASCII path", L"C:\\Temp\\", "C:\\Temp\\", "C:\\Temp\\"},
        {"last unit below the surrogates", std::wstring{wchar_t(0xD7FF)}, "\xed\x9f\xbf",
         "\xed\x9f\xbf"},
        {"first unit above the surrogates", std::wstring{wchar_t(0xE000)}, "\xee\x80\x80",
         "\xee\x80\x80"},
        {"U+FFFF", std::wstring{wchar_t(0xFFFF)}, "\xef\xbf\xbf", "\xef\xbf\xbf"},
        {"U+10000", std::wstring{wchar_t(0xD800), wchar_t(0xDC00)}, "\xf0\x90\x80\x80",
         "\xf0\x90\x80\x80"},
        {"U+10FFFF, the last code point", std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)},
         "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
        {"U+10FFFF inside a name", std::wstring{L'a', wchar_t(0xDBFF), wchar_t(0xDFFF), L'z'},
         "a\xf4\x8f\xbf\xbfz", "a\xf4\x8f\xbf\xbfz"},
        {"lone high surrogate at the end", std::wstring{L'a', wchar_t(0xDBFF)}, "a\xef\xbf\xbd",
         "a\xed\xaf\xbf"},
        {"lone low surrogate", std::wstring{wchar_t(0xDFFF), L'b'},
         "\xef\xbf\xbd"
         "b",
         "\xed\xbf\xbf"
         "b"},
        {"two high surrogates, then a low one",
         std::wstring{wchar_t(0xDBFF), wchar_t(0xDBFF), wchar_t(0xDFFF)},
         "\xef\xbf\xbd\xf4\x8f\xbf\xbf", "\xed\xaf\xbf\xf4\x8f\xbf\xbf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(from_wide(c.wide), c.text);
        EXPECT_EQ(from_wide_exact(c.wide), c.exact);
        // The exact form reaches Windows again as the very same units.
        EXPECT_EQ(to_wide(c.exact), c.wide);
        EXPECT_EQ(display_text(c.exact), c.text);
    }
}

TEST(FromWideExact, TurnsBackIntoTheSameUnits) {
    const std::wstring cases[] = {
        L"",
        L"C:\\Windows",
        L"C:\\\x00DCmlaut\\\x4E2D\x6587",
        L"C:\\pair\xD83D\xDE00here",
        L"C:\\lone high\xD800",
        L"\xDC00lone low first",
        L"two highs\xD800\xD801 then a pair\xD83D\xDE00",
        L"reversed pair\xDE00\xD83D",
    };
    for (const std::wstring& path : cases) {
        EXPECT_EQ(to_wide(from_wide_exact(path)), path);
    }
    // Valid text is plain UTF-8.
    EXPECT_EQ(from_wide_exact(L"C:\\\x00DC\xD83D\xDE00"), "C:\\\xC3\x9C\xF0\x9F\x98\x80");
    // An unpaired surrogate keeps its own three bytes.
    EXPECT_EQ(from_wide_exact(L"a\xD800z"), "a\xED\xA0\x80z");
}

// What messages and the log show of such text: valid UTF-8, U+FFFD for each lone surrogate.
TEST(DisplayText, ShowsALoneSurrogateAsTheReplacementCharacter) {
    EXPECT_EQ(display_text(from_wide_exact(L"C:\\lone\xD800\\x")), "C:\\lone\xEF\xBF\xBD\\x");
    EXPECT_EQ(display_text(from_wide_exact(L"\xDC00\xD83D\xDE00")), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
    EXPECT_EQ(display_text("C:\\\xC3\x9C"), "C:\\\xC3\x9C");
}

}  // namespace
}  // namespace vantile
