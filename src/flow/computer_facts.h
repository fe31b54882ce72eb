#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantile {

enum class Architecture { X64, Arm64 };

// Everything that differs by kind of computer. Adding one is a value above and a row below.
struct ArchitectureFacts {
    Architecture architecture;
    std::string_view name;          // as vantile-release says it: "x64"
    std::string_view platform_key;  // in the no-build message: "win32-x64"
    std::string_view asset_key;     // the manifest's entry: "desktop-windows-x64"
    std::uint16_t native_machine;   // IMAGE_FILE_MACHINE_* that IsWow64Process2 reports
    // The other builds it may take, each only when strictly newer than the ones before it.
    std::span<const Architecture> also_takes;
};

inline constexpr Architecture ARM64_ALSO_TAKES[] = {Architecture::X64};

// In the order vantile-release reports them; the first is what an unknown machine means.
inline constexpr ArchitectureFacts ARCHITECTURES[] = {
    {Architecture::X64, "x64", "win32-x64", "desktop-windows-x64", 0x8664, {}},
    {Architecture::Arm64, "arm64", "win32-arm64", "desktop-windows-arm64", 0xAA64,
     ARM64_ALSO_TAKES},
};

// The row of each value: a value without a case here warns, and one whose case names another
// row fails to compile.
constexpr std::size_t architecture_row(Architecture architecture) {
    switch (architecture) {
        case Architecture::X64:
            return 0;
        case Architecture::Arm64:
            return 1;
    }
    return std::size(ARCHITECTURES);
}

constexpr bool every_row_in_its_place() {
    for (std::size_t row = 0; row < std::size(ARCHITECTURES); ++row)
        if (architecture_row(ARCHITECTURES[row].architecture) != row) return false;
    return true;
}
static_assert(every_row_in_its_place());

constexpr const ArchitectureFacts& architecture_facts(Architecture architecture) {
    return ARCHITECTURES[architecture_row(architecture)];
}

inline constexpr std::uint32_t MINIMUM_WINDOWS_BUILD = 17763;

// "win32-x64" or "win32-arm64".
std::string_view platform_key(Architecture architecture);

// The message for a Windows build below MINIMUM_WINDOWS_BUILD (the build passed in).
std::string old_windows_message(std::uint32_t build);
// Whether the build is MINIMUM_WINDOWS_BUILD or later.
bool windows_build_supported(std::uint32_t build);

// <system_root>\System32\tar.exe; "C:\Windows" when SystemRoot is not set.
std::string system_tar_path(const std::string* system_root);
std::string missing_tar_message(std::string_view tar_path);

// The row whose native machine it is; any other machine is taken for the first row's.
Architecture architecture_from_native_machine(std::uint16_t native_machine);

}  // namespace vantile
