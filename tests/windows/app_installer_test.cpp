// Launching the app's own installer with the Vantile.exe double, and the failure message.
#include "windows/app_installer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "staging_test_support.h"
#include "windows/error_text.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

using namespace testing_support;

class AppInstaller : public ::testing::Test {
  protected:
    void SetUp() override {
        make_folder(unpack);
        copy_file(join_path(doubles_folder(), "Vantile.exe"), program);
    }

    std::string record() { return read_file(record_path).value_or(""); }

    ScratchFolder staging{"staging with space"};
    ScratchFolder records{"records"};
    std::string unpack = staging / "zip";
    std::string program = join_path(unpack, "Vantile.exe");
    std::string record_path = records / "vantile-record.txt";
    ScopedEnvironment record_variable{L"VANTILE_TEST_RECORD", to_wide(record_path)};
    ScopedEnvironment exit_variable{L"VANTILE_TEST_EXIT", std::nullopt};
};

TEST_F(AppInstaller, StartsTheProgramWithInstallInItsFolderWithNullStandardHandles) {
    ScopedEnvironment no_dialog(L"VANTILE_DESKTOP_NO_DIALOG", L"1");
    Result<std::int32_t> exit_code = run_app_installer(program);
    ASSERT_TRUE(exit_code) << exit_code.error();
    EXPECT_EQ(exit_code.value(), 0);

    const std::string seen = record();
    EXPECT_EQ(record_value(seen, "command_line"), "\"" + program + "\" --install");
    EXPECT_EQ(record_value(seen, "working_folder"), unpack);
    EXPECT_EQ(record_value(seen, "no_dialog"), "1");
    for (const char* handle : {"stdin", "stdout", "stderr"}) {
        SCOPED_TRACE(handle);
        std::optional<std::string> name = record_value(seen, handle);
        ASSERT_TRUE(name.has_value());
        EXPECT_TRUE(is_null_device_name(*name)) << *name;
    }
}

TEST_F(AppInstaller, PassesTheEnvironmentUnchanged) {
    ScopedEnvironment no_dialog(L"VANTILE_DESKTOP_NO_DIALOG", std::nullopt);
    Result<std::int32_t> exit_code = run_app_installer(program);
    ASSERT_TRUE(exit_code) << exit_code.error();
    EXPECT_EQ(record_value(record(), "no_dialog"), "(absent)");
}

TEST_F(AppInstaller, APathWithoutAFolderRunsInTheCurrentFolder) {
    wchar_t previous[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(to_wide(unpack).c_str()));
    Result<std::int32_t> exit_code = run_app_installer("Vantile.exe");
    SetCurrentDirectoryW(previous);
    ASSERT_TRUE(exit_code) << exit_code.error();
    const std::string seen = record();
    EXPECT_EQ(record_value(seen, "command_line"), "\"Vantile.exe\" --install");
    EXPECT_EQ(record_value(seen, "working_folder"), unpack);
}

struct ExitCase {
    const char* label;
    const wchar_t* told;
    std::int32_t expected;
};

class AppInstallerExitCodes : public AppInstaller,
                              public ::testing::WithParamInterface<ExitCase> {};

TEST_P(AppInstallerExitCodes, ReturnsTheChildsCodeAsASignedNumber) {
    ScopedEnvironment told(L"VANTILE_TEST_EXIT", std::wstring(GetParam().told));
    Result<std::int32_t> exit_code = run_app_installer(program);
    ASSERT_TRUE(exit_code) << exit_code.error();
    EXPECT_EQ(exit_code.value(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, AppInstallerExitCodes,
                         ::testing::Values(ExitCase{"Three", L"3", 3},
                                           ExitCase{"Negative", L"-2", -2},
                                           ExitCase{"AccessViolation", L"crash", -1073741819}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(AppInstaller, AProgramThatCannotStartIsNamedWithTheReason) {
    const std::string missing = join_path(unpack, "Missing.exe");
    Result<std::int32_t> exit_code = run_app_installer(missing);
    ASSERT_FALSE(exit_code);
    EXPECT_EQ(exit_code.error(),
              "Could not start " + missing + ": " + os_error_text(ERROR_FILE_NOT_FOUND));

    write_file(join_path(unpack, "NotAProgram.exe"), "plain text, not a program");
    const std::string not_a_program = join_path(unpack, "NotAProgram.exe");
    Result<std::int32_t> refused = run_app_installer(not_a_program);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().rfind("Could not start " + not_a_program + ": ", 0), 0u)
        << refused.error();
}

TEST(InstallerExitMessage, NamesTheCodeAndTheLocalAppDataFolderReadAtEachCall) {
    struct Case {
        std::optional<std::wstring> local_app_data;
        std::int32_t code;
        const char* expected;
    };
    const Case cases[] = {
        {L"C:\\Users\\someone\\AppData\\Local", 3,
         "Vantile's installer stopped (exit code 3). Its log is launch.log, in "
         "Programs\\Vantile under C:\\Users\\someone\\AppData\\Local."},
        {L"D:\\Profiles\\other", -1073741819,
         "Vantile's installer stopped (exit code -1073741819). Its log is launch.log, in "
         "Programs\\Vantile under D:\\Profiles\\other."},
        {std::nullopt, 1,
         "Vantile's installer stopped (exit code 1). Its log is launch.log, in "
         "Programs\\Vantile under %LOCALAPPDATA%."},
        {std::wstring(L"C:\\bad\xD800"), 2,
         "Vantile's installer stopped (exit code 2). Its log is launch.log, in "
         "Programs\\Vantile under %LOCALAPPDATA%."},
    };
    for (const Case& c : cases) {
        ScopedEnvironment local_app_data(L"LOCALAPPDATA", c.local_app_data);
        EXPECT_EQ(installer_exit_message(c.code), c.expected);
    }
}

}  // namespace
}  // namespace vantile
