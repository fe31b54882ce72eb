#include <gtest/gtest.h>

#include <vector>

#include "flow/computer_facts.h"

namespace vantile {
namespace {

TEST(WindowsBuild, AcceptsFrom17763On) {
    struct Case {
        std::uint32_t build;
        bool supported;
    };
    const Case cases[] = {
        {0, false},    {7601, false}, {17134, false}, {17762, false},
        {17763, true}, {18362, true}, {22631, true},  {4294967295u, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.build);
        EXPECT_EQ(windows_build_supported(c.build), c.supported);
    }
}

TEST(WindowsBuild, MessageNamesTheBuild) {
    EXPECT_EQ(old_windows_message(17762),
              "Vantile needs Windows 10 version 1809 or later, and this computer runs build 17762. "
              "Update "
              "Windows, then run the installer again.");
    // A failing RtlGetVersion counts as build 0.
    EXPECT_EQ(old_windows_message(0),
              "Vantile needs Windows 10 version 1809 or later, and this computer runs build 0. "
              "Update Windows, "
              "then run the installer again.");
}

TEST(SystemTarPath, JoinsWithOneBackslash) {
    struct Case {
        const char* name;
        std::optional<std::string> system_root;
        const char* path;
    };
    const Case cases[] = {
        {"not set", std::nullopt, "C:\\Windows\\System32\\tar.exe"},
        {"usual value", "C:\\WINDOWS", "C:\\WINDOWS\\System32\\tar.exe"},
        {"trailing backslash", "D:\\Win\\", "D:\\Win\\System32\\tar.exe"},
        {"trailing slash", "D:\\Win/", "D:\\Win/System32\\tar.exe"},
        {"empty gives a relative path", "", "System32\\tar.exe"},
        {"just a backslash", "\\", "\\System32\\tar.exe"},
        {"spaces and non-ASCII kept", "E:\\Ordner mit Ümlaut ",
         "E:\\Ordner mit Ümlaut \\System32\\tar.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(system_tar_path(c.system_root ? &*c.system_root : nullptr), c.path);
    }
}

TEST(SystemTarPath, MissingMessageQuotesThePathAsBuilt) {
    EXPECT_EQ(missing_tar_message("C:\\windows\\System32\\tar.exe"),
              "Windows' own tar.exe is missing (C:\\windows\\System32\\tar.exe). It is part of "
              "Windows 10 1803 and "
              "later.");
}

TEST(Architecture, OnlyAnArm64NativeMachineMeansArm64) {
    struct Case {
        const char* name;
        std::uint16_t native_machine;
        Architecture architecture;
    };
    const Case cases[] = {
        {"arm64", 0xAA64, Architecture::Arm64},
        {"amd64", 0x8664, Architecture::X64},
        {"i386", 0x014C, Architecture::X64},
        {"arm (Thumb-2)", 0x01C4, Architecture::X64},
        {"unknown", 0x0000, Architecture::X64},
        {"arm64ec is not native", 0xA641, Architecture::X64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(architecture_from_native_machine(c.native_machine), c.architecture);
    }
}

TEST(Architecture, PlatformKeys) {
    EXPECT_EQ(platform_key(Architecture::X64), "win32-x64");
    EXPECT_EQ(platform_key(Architecture::Arm64), "win32-arm64");
}

TEST(Architecture, EachRowNamesItsBuildAndWhatElseItTakes) {
    const ArchitectureFacts& x64 = architecture_facts(Architecture::X64);
    EXPECT_EQ(x64.name, "x64");
    EXPECT_EQ(x64.asset_key, "desktop-windows-x64");
    EXPECT_TRUE(x64.also_takes.empty());
    const ArchitectureFacts& arm64 = architecture_facts(Architecture::Arm64);
    EXPECT_EQ(arm64.name, "arm64");
    EXPECT_EQ(arm64.asset_key, "desktop-windows-arm64");
    EXPECT_EQ(std::vector<Architecture>(arm64.also_takes.begin(), arm64.also_takes.end()),
              std::vector<Architecture>{Architecture::X64});
}

}  // namespace
}  // namespace vantile
