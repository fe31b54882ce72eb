#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "windows/environment.h"
#include "windows/system_check_parts.h"
#include "windows/system_checks.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// --- Check 1: the Windows build -------------------------------------------------------------

struct FakeVersion {
    LONG status = 0;
    DWORD build = 0;
    bool record_was_zeroed = false;
    ULONG size_seen = 0;
};
FakeVersion fake_version;

LONG WINAPI fake_rtl_get_version(OSVERSIONINFOW* version) {
    fake_version.size_seen = version->dwOSVersionInfoSize;
    fake_version.record_was_zeroed = version->dwMajorVersion == 0 && version->dwMinorVersion == 0 &&
                                     version->dwBuildNumber == 0 && version->dwPlatformId == 0 &&
                                     version->szCSDVersion[0] == 0 &&
                                     version->szCSDVersion[127] == 0;
    version->dwBuildNumber = fake_version.build;
    return fake_version.status;
}

TEST(WindowsBuildNumber, ReadsTheBuildOnlyWhenTheCallSucceeds) {
    struct Case {
        const char* name;
        LONG status;
        DWORD build;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"success", 0, 17763, 17763},
        {"success, old build", 0, 17762, 17762},
        {"failure status, build filled anyway", static_cast<LONG>(0xC0000001), 22000, 0},
        {"informational status is not success", 1, 22000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_version = FakeVersion{c.status, c.build};
        EXPECT_EQ(windows_build_number(&fake_rtl_get_version), c.expected);
        EXPECT_EQ(fake_version.size_seen, 276u);
        EXPECT_TRUE(fake_version.record_was_zeroed);
    }
    EXPECT_EQ(windows_build_number(nullptr), 0u);
}

TEST(WindowsBuildNumber, CheckAgreesWithTheRealBuild) {
    auto real = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(real, nullptr);
    const std::uint32_t build = windows_build_number(real);
    EXPECT_NE(build, 0u);
    Status checked = check_windows_build();
    EXPECT_EQ(checked.ok(), build >= 17763);
    if (!checked) {
        EXPECT_EQ(checked.error(), old_windows_message(build));
    }
}

// --- Check 3: the architecture --------------------------------------------------------------

struct FakeMachines {
    BOOL result = TRUE;
    USHORT native = 0;
    bool inputs_were_zero = false;
    bool asked_for_this_process = false;
};
FakeMachines fake_machines;

BOOL WINAPI fake_is_wow64_process2(HANDLE process, USHORT* process_machine,
                                   USHORT* native_machine) {
    fake_machines.inputs_were_zero = *process_machine == 0 && *native_machine == 0;
    fake_machines.asked_for_this_process = process == GetCurrentProcess();
    *process_machine = 0x8664;
    *native_machine = fake_machines.native;
    return fake_machines.result;
}

TEST(Architecture, NativeMachineDecidesWhenTheCallSucceeds) {
    struct Case {
        const char* name;
        BOOL result;
        USHORT native;
        Architecture expected;
    };
    const Case cases[] = {
        {"x64 under emulation on arm64", TRUE, 0xAA64, Architecture::Arm64},
        {"x64 on x64", TRUE, 0x8664, Architecture::X64},
        {"call failed, machine ignored", FALSE, 0xAA64, Architecture::X64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_machines = FakeMachines{c.result, c.native};
        EXPECT_EQ(architecture_from(&fake_is_wow64_process2), c.expected);
        EXPECT_TRUE(fake_machines.inputs_were_zero);
        EXPECT_TRUE(fake_machines.asked_for_this_process);
    }
    EXPECT_EQ(architecture_from(nullptr), Architecture::X64);
}

TEST(Architecture, ThisComputerIsX64) {
    EXPECT_EQ(detect_architecture(), Architecture::X64);
}

// --- Check 2: tar.exe -----------------------------------------------------------------------

// Sets SystemRoot in this process for the test and puts back what was there; builds folders
// under a private root in the temporary folder.
class LocateSystemTar : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_root_ = system_root_variable();
        wchar_t directory[MAX_PATH + 1] = {};
        ASSERT_NE(GetCurrentDirectoryW(MAX_PATH + 1, directory), 0u);
        saved_directory_ = directory;
        std::optional<std::string> temp = temporary_folder();
        ASSERT_TRUE(temp.has_value());
        root_ = *temp + "vantile-checks-" + std::to_string(GetCurrentProcessId());
        make_folder(root_);
    }
    void TearDown() override {
        SetCurrentDirectoryW(saved_directory_.c_str());
        SetEnvironmentVariableW(L"SystemRoot", saved_root_ ? saved_root_->c_str() : nullptr);
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            if (!DeleteFileW(to_wide(*it).c_str())) RemoveDirectoryW(to_wide(*it).c_str());
        }
    }

    void make_folder(const std::string& path) {
        ASSERT_TRUE(CreateDirectoryW(to_wide(path).c_str(), nullptr)) << path;
        made_.push_back(path);
    }
    void make_file(const std::string& path) {
        UniqueFile file(CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file) << path;
        made_.push_back(path);
    }
    // A Windows folder whose System32 holds tar.exe as a file, a folder, or nothing.
    enum class Tar { File, Folder, Missing };
    std::string make_windows_folder(const std::string& name, Tar tar) {
        const std::string windows = root_ + "\\" + name;
        make_folder(windows);
        make_folder(windows + "\\System32");
        if (tar == Tar::File) make_file(windows + "\\System32\\tar.exe");
        if (tar == Tar::Folder) make_folder(windows + "\\System32\\tar.exe");
        return windows;
    }
    static void set_system_root(const std::string& value) {
        ASSERT_TRUE(SetEnvironmentVariableW(L"SystemRoot", to_wide(value).c_str()));
    }
    static std::string missing(const std::string& path) {
        return "Windows' own tar.exe is missing (" + path +
               "). It is part of Windows 10 1803 and later.";
    }

    std::string root_;

  private:
    std::optional<std::wstring> saved_root_;
    std::wstring saved_directory_;
    std::vector<std::string> made_;
};

TEST_F(LocateSystemTar, FindsAFileAndNamesThePathAsBuilt) {
    const std::string with_tar = make_windows_folder("with tar", Tar::File);
    const std::string tar_folder = make_windows_folder("tar is a folder", Tar::Folder);
    const std::string without = make_windows_folder("without tar", Tar::Missing);
    struct Case {
        const char* name;
        std::string system_root;
        std::optional<std::string> found;
        std::string message;
    };
    const Case cases[] = {
        {"file", with_tar, with_tar + "\\System32\\tar.exe", ""},
        {"trailing backslash is not doubled", with_tar + "\\", with_tar + "\\System32\\tar.exe",
         ""},
        {"folder named tar.exe", tar_folder, std::nullopt,
         missing(tar_folder + "\\System32\\tar.exe")},
        {"folder named tar.exe, trailing backslash", tar_folder + "\\", std::nullopt,
         missing(tar_folder + "\\System32\\tar.exe")},
        {"no tar.exe", without, std::nullopt, missing(without + "\\System32\\tar.exe")},
        {"no such Windows folder", root_ + "\\nowhere", std::nullopt,
         missing(root_ + "\\nowhere\\System32\\tar.exe")},
        {"a bad path", "C:\\bad<name>", std::nullopt, missing("C:\\bad<name>\\System32\\tar.exe")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        set_system_root(c.system_root);
        Result<std::string> located = locate_system_tar();
        if (c.found) {
            ASSERT_TRUE(located.ok()) << located.error();
            EXPECT_EQ(located.value(), *c.found);
        } else {
            ASSERT_FALSE(located.ok()) << located.value();
            EXPECT_EQ(located.error(), c.message);
        }
    }
}

TEST_F(LocateSystemTar, EmptySystemRootLooksRelativeToTheCurrentFolder) {
    const std::string with_tar = make_windows_folder("with tar", Tar::File);
    const std::string without = make_windows_folder("without tar", Tar::Missing);
    set_system_root("");

    ASSERT_TRUE(SetCurrentDirectoryW(to_wide(with_tar).c_str()));
    Result<std::string> found = locate_system_tar();
    ASSERT_TRUE(found.ok()) << found.error();
    EXPECT_EQ(found.value(), "System32\\tar.exe");

    ASSERT_TRUE(SetCurrentDirectoryW(to_wide(without).c_str()));
    Result<std::string> missing_tar = locate_system_tar();
    ASSERT_FALSE(missing_tar.ok());
    EXPECT_EQ(missing_tar.error(), missing("System32\\tar.exe"));
}

TEST_F(LocateSystemTar, UnsetSystemRootMeansCWindows) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"SystemRoot", nullptr));
    ASSERT_FALSE(system_root_variable().has_value());
    Result<std::string> located = locate_system_tar();
    // Whether this Windows has tar.exe or not, the path is the default one.
    if (located) {
        EXPECT_EQ(located.value(), "C:\\Windows\\System32\\tar.exe");
    } else {
        EXPECT_EQ(located.error(), missing("C:\\Windows\\System32\\tar.exe"));
    }
}

TEST_F(LocateSystemTar, SystemRootIsReadExactly) {
    // Longer than the first buffer, so the value is read again at its full size.
    const std::string long_root =
        root_ + "\\" + std::string(200, 'x') + "\\" + std::string(100, 'y');
    set_system_root(long_root);
    EXPECT_EQ(system_root_variable(), to_wide(long_root));
    Result<std::string> located = locate_system_tar();
    ASSERT_FALSE(located.ok());
    EXPECT_EQ(located.error(), missing(long_root + "\\System32\\tar.exe"));

    // A value that is not valid UTF-16 is kept unit for unit in the path; the message shows
    // the unpaired surrogate as U+FFFD.
    const std::wstring odd = L"C:\\odd\xD800root";
    ASSERT_TRUE(SetEnvironmentVariableW(L"SystemRoot", odd.c_str()));
    EXPECT_EQ(system_root_variable(), odd);
    Result<std::string> odd_located = locate_system_tar();
    ASSERT_FALSE(odd_located.ok());
    EXPECT_EQ(odd_located.error(), missing("C:\\odd\xEF\xBF\xBDroot\\System32\\tar.exe"));
}

}  // namespace
}  // namespace vantile
