#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "windows/error_text.h"

namespace vantile {
namespace {

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// WinINet's message table is only searched when wininet.dll is already loaded.
class WindowsErrorText : public ::testing::Test {
  protected:
    void SetUp() override {
        wininet_ = LoadLibraryW(L"wininet.dll");
        ASSERT_NE(wininet_, nullptr);
    }
    void TearDown() override { FreeLibrary(wininet_); }

  private:
    HMODULE wininet_ = nullptr;
};

TEST_F(WindowsErrorText, WinInetCodesTakeWinInetsText) {
    EXPECT_EQ(windows_error_text(12002), "The request has timed out. (Windows error 12002)");
}

TEST_F(WindowsErrorText, CodesWithoutTextGiveTheShortForm) {
    EXPECT_EQ(windows_error_text(4294967295u), "Windows error 4294967295");
    EXPECT_EQ(windows_error_text(0x0FFFFFFF), "Windows error 268435455");
}

TEST_F(WindowsErrorText, SystemCodesFallBackToTheSystemTable) {
    // Same text as the os error form: trimmed at both ends, code unsigned.
    const std::string text = windows_error_text(5);
    ASSERT_TRUE(ends_with(text, " (Windows error 5)")) << text;
    const std::string os_text = os_error_text(5);
    ASSERT_TRUE(ends_with(os_text, " (os error 5)")) << os_text;
    EXPECT_EQ(text.substr(0, text.size() - 18), os_text.substr(0, os_text.size() - 13));
    EXPECT_NE(text.front(), ' ');
}

TEST(OsErrorText, SystemTextWithoutItsLineBreak) {
    const std::string text = os_error_text(5);
    ASSERT_TRUE(ends_with(text, " (os error 5)")) << text;
    const std::string detail = text.substr(0, text.size() - 13);
    EXPECT_FALSE(detail.empty());
    EXPECT_EQ(detail.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(detail.back(), ' ');
    EXPECT_EQ(detail.rfind("OS Error", 0), std::string::npos) << text;
}

TEST(OsErrorText, HresultIsPrintedSigned) {
    // E_ACCESSDENIED, 0x80070005.
    const std::string text = os_error_text(static_cast<std::int32_t>(0x80070005u));
    EXPECT_TRUE(ends_with(text, " (os error -2147024891)")) << text;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
}

TEST(OsErrorText, UnknownCodeNamesTheLookupFailure) {
    EXPECT_EQ(os_error_text(0x0FFFFFFF),
              "OS Error 268435455 (FormatMessageW() returned error 317) (os error 268435455)");
    // -1 has the carrier bit of an NTSTATUS set: looked up as 0xEFFFFFFF, shown as passed in.
    EXPECT_EQ(os_error_text(-1),
              "OS Error -268435457 (FormatMessageW() returned error 317) (os error -1)");
}

TEST(OsErrorText, NtStatusInHresultIsLookedUpWithoutTheCarrierBit) {
    // HRESULT_FROM_NT(STATUS_ACCESS_DENIED): 0xD0000022 carries 0xC0000022.
    const std::string text = os_error_text(static_cast<std::int32_t>(0xD0000022u));
    ASSERT_TRUE(ends_with(text, " (os error -805306334)")) << text;
    // Where ntdll has no text for it (Wine), the fallback names the code that was looked up.
    if (text.rfind("OS Error", 0) == 0) {
        EXPECT_EQ(
            text,
            "OS Error -1073741790 (FormatMessageW() returned error 317) (os error -805306334)");
    } else {
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace vantile
