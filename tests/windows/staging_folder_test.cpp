// create_staging_folder: its name under the temporary folder, and its failures.
#include "windows/staging_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <regex>
#include <string>

#include "base/text.h"
#include "staging_test_support.h"
#include "windows/environment.h"
#include "windows/error_text.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

using namespace testing_support;

struct TempCase {
    const char* label;
    const char* tmp_suffix;  // appended to a scratch folder to form TMP
};

class StagingFolderName : public ::testing::TestWithParam<TempCase> {};

TEST_P(StagingFolderName, IsPidAndTicksUnderTheTemporaryFolderWithoutADoubledBackslash) {
    ScratchFolder scratch("temp");
    const std::string tmp = scratch.path() + GetParam().tmp_suffix;
    ScopedEnvironment tmp_variable(L"TMP", to_wide(tmp));
    ScopedEnvironment temp_variable(L"TEMP", to_wide(tmp));
    const std::string temporary = temporary_folder().value();
    ASSERT_EQ(temporary.back(), '\\');

    FILETIME before_time{};
    GetSystemTimePreciseAsFileTime(&before_time);
    Result<std::string> first = create_staging_folder();
    Result<std::string> second = create_staging_folder();
    FILETIME after_time{};
    GetSystemTimePreciseAsFileTime(&after_time);
    ASSERT_TRUE(first) << first.error();
    ASSERT_TRUE(second) << second.error();

    for (const std::string& staging : {first.value(), second.value()}) {
        SCOPED_TRACE(staging);
        EXPECT_EQ(staging.find("\\\\"), std::string::npos);
        ASSERT_EQ(staging.rfind(temporary, 0), 0u);
        const std::string name = staging.substr(temporary.size());
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(name, parts,
                                     std::regex(R"(\.vantile-desktop-staging-(\d+)-([1-9]\d*))")))
            << name;
        EXPECT_EQ(parts[1].str(), pid_text());
        auto unix_ticks = [](FILETIME time) {
            return ((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) -
                   116444736000000000ULL;
        };
        const std::uint64_t ticks = std::stoull(parts[2].str());
        EXPECT_GE(ticks, unix_ticks(before_time));
        EXPECT_LE(ticks, unix_ticks(after_time));
        const DWORD attributes = GetFileAttributesW(to_wide(staging).c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
    EXPECT_NE(first.value(), second.value());
}

INSTANTIATE_TEST_SUITE_P(TemporaryFolders, StagingFolderName,
                         ::testing::Values(TempCase{"TrailingBackslash", "\\"},
                                           TempCase{"NoTrailingBackslash", ""},
                                           TempCase{"MissingParents", "\\not\\yet\\there\\"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(StagingFolder, UnderAFileFailsWithTheFolderAndTheReason) {
    ScratchFolder scratch("temp");
    write_file(scratch / "blocker", "not a folder");
    const std::string tmp = join_path(scratch / "blocker", "sub\\");
    ScopedEnvironment tmp_variable(L"TMP", to_wide(tmp));
    ScopedEnvironment temp_variable(L"TEMP", to_wide(tmp));

    Result<std::string> staging = create_staging_folder();
    ASSERT_FALSE(staging);
    const std::string prefix = "Could not create " + tmp + ".vantile-desktop-staging-" + pid_text();
    const std::string suffix = ": " + os_error_text(ERROR_ALREADY_EXISTS);
    EXPECT_EQ(staging.error().rfind(prefix, 0), 0u) << staging.error();
    ASSERT_GE(staging.error().size(), suffix.size());
    EXPECT_EQ(staging.error().substr(staging.error().size() - suffix.size()), suffix);
}

// A temporary folder whose name is not valid UTF-16 is still that very folder: the staging
// folder goes inside it, and no look-alike folder with U+FFFD is made anywhere.
TEST(StagingFolder, UnderATemporaryFolderWithAnUnpairedSurrogateIsInThatFolder) {
    ScratchFolder scratch("temp");
    const std::wstring tmp = to_wide(scratch.path()) + L"\\lone\xD800surrogate\\";
    ScopedEnvironment tmp_variable(L"TMP", tmp);
    ScopedEnvironment temp_variable(L"TEMP", tmp);
    const std::optional<std::string> temporary = temporary_folder();
    ASSERT_TRUE(temporary);
    EXPECT_EQ(to_wide(*temporary), tmp);

    Result<std::string> staging = create_staging_folder();
    if (running_under_wine()) {
        // Wine has no Unix name for such a folder; the message shows the surrogate as U+FFFD.
        ASSERT_FALSE(staging);
        EXPECT_EQ(staging.error().rfind("Could not create " + scratch.path() +
                                            "\\lone\uFFFDsurrogate\\.vantile-desktop-staging-",
                                        0),
                  0u)
            << staging.error();
    } else {
        ASSERT_TRUE(staging) << staging.error();
        EXPECT_EQ(to_wide(staging.value()).rfind(tmp, 0), 0u);
        EXPECT_NE(GetFileAttributesW(to_wide(staging.value()).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(GetFileAttributesW(to_wide(scratch / "lone\uFFFDsurrogate").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << "no look-alike folder is made";
}

TEST(StagingFolder, WithoutATemporaryFolderTheAttemptFailsPlainly) {
    // A TMP longer than a path may be leaves Windows without a temporary folder to report.
    const std::wstring too_long = L"C:\\" + std::wstring(300, L'a') + L"\\";
    ScopedEnvironment tmp_variable(L"TMP", too_long);
    ScopedEnvironment temp_variable(L"TEMP", too_long);
    ASSERT_FALSE(temporary_folder().has_value());

    Result<std::string> staging = create_staging_folder();
    ASSERT_FALSE(staging);
    EXPECT_EQ(staging.error(),
              "Could not create a staging folder: Windows reports no temporary folder.");
}

}  // namespace
}  // namespace vantile
