#pragma once
#include <cstdint>
#include <string_view>

namespace vantile {

// The five steps of an attempt, in the order they run; the value is what the
// window receives in WM_INSTALL_STEP.
enum class InstallStep : std::uint8_t {
    Checking = 0,
    ReadingManifest = 1,
    Downloading = 2,
    Unpacking = 3,
    Installing = 4,
};

inline constexpr int INSTALL_STEP_COUNT = 5;

// The name the log shows when the step begins and the report names when it fails.
std::string_view display_name(InstallStep step);

}  // namespace vantile
