#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vantile {

enum class Architecture { X64, Arm64 };

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

// IMAGE_FILE_MACHINE_ARM64 as the native machine is the only thing that means arm64.
Architecture architecture_from_native_machine(std::uint16_t native_machine);

}  // namespace vantile
