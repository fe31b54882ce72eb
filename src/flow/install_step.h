#pragma once
#include <cstddef>
#include <cstdint>
#include <iterator>
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

struct InstallStepTexts {
    InstallStep step;
    // The name the log shows when the step begins and the report names when it fails.
    std::string_view display_name;
    // The window's status label while the step runs.
    std::string_view status_text;
};

// One row per step, in the order of their values.
inline constexpr InstallStepTexts INSTALL_STEPS[] = {
    {InstallStep::Checking, "Checking this computer", "Checking this computer\u2026"},
    {InstallStep::ReadingManifest, "Reading the release manifest",
     "Checking for the latest Vantile\u2026"},
    {InstallStep::Downloading, "Downloading Vantile", "Downloading Vantile\u2026"},
    {InstallStep::Unpacking, "Unpacking Vantile", "Unpacking Vantile\u2026"},
    {InstallStep::Installing, "Installing Vantile", "Installing Vantile\u2026"},
};

inline constexpr int INSTALL_STEP_COUNT = static_cast<int>(std::size(INSTALL_STEPS));

constexpr bool every_step_in_its_place() {
    for (std::size_t row = 0; row < std::size(INSTALL_STEPS); ++row)
        if (static_cast<std::size_t>(INSTALL_STEPS[row].step) != row) return false;
    return true;
}
static_assert(every_step_in_its_place());

// The step's row; a value outside the table reads as Checking's.
const InstallStepTexts& install_step_texts(InstallStep step);

std::string_view display_name(InstallStep step);

}  // namespace vantile
