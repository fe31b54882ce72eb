#pragma once
// The installer window's geometry as plain arithmetic, so that it can be checked without
// Windows: every length is given at 96 DPI and scaled for the DPI it is shown at.
#include <array>
#include <cstdint>
#include <optional>

namespace vantile {

inline constexpr std::int32_t BASE_DPI = 96;
inline constexpr std::int32_t CLIENT_WIDTH = 460;
inline constexpr std::int32_t CLIENT_HEIGHT = 200;

// The height in pixels of Windows' default message font (Segoe UI 9 pt) at 96 DPI. A larger
// message font ("Make text bigger") grows the whole layout with it.
inline constexpr std::int32_t DEFAULT_MESSAGE_FONT_HEIGHT = 12;

// The five controls, in the order the window creates and places them.
enum class WindowControl : std::uint8_t {
    StatusLabel,
    ProgressBar,
    DetailsBox,
    CancelButton,
    TryAgainButton,
};

struct LayoutRect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const LayoutRect&) const = default;
};

// Where each control sits in the 460 x 200 client area at 96 DPI, in the order the window
// places them. The progress bar and the details box share one place: only one of them is
// shown at a time.
struct LayoutEntry {
    WindowControl control;
    LayoutRect rect;
};
inline constexpr std::array<LayoutEntry, 5> LAYOUT_TABLE = {{
    {WindowControl::StatusLabel, {20, 18, 420, 24}},
    {WindowControl::ProgressBar, {20, 50, 420, 16}},
    {WindowControl::DetailsBox, {20, 50, 420, 94}},
    {WindowControl::CancelButton, {340, 152, 100, 28}},
    {WindowControl::TryAgainButton, {230, 152, 100, 28}},
}};

// (length * dpi) / 96 with the quotient truncated toward zero; never rounded, so 18 at
// 120 DPI is 22, not 23.
std::int32_t scale_for_dpi(std::int32_t length, std::uint32_t dpi);

// The DPI the lengths are scaled for: the monitor's, grown in proportion to the message
// font when that font (its height in pixels at the monitor's DPI) is taller than the default
// one, so that no text is clipped; the monitor's DPI for the default font or a smaller one.
std::uint32_t layout_dpi(std::uint32_t dpi, std::int32_t message_font_height);

// Where a control sits in the client area at the given (layout) DPI.
LayoutRect control_rect(WindowControl control, std::uint32_t dpi);

// Width and height of the client area at the given (layout) DPI (x and y are 0).
LayoutRect client_rect(std::uint32_t dpi);

// A screen rectangle by its edges, as Windows reports a work area.
struct ScreenEdges {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The top-left corner that centres a window of the given outer size in the work area.
// The halves are truncated toward zero; a window larger than the area overhangs it on
// both sides, so the corner may lie left of or above the area's origin. Without a work
// area the corner is left to Windows (CW_USEDEFAULT, both coordinates).
inline constexpr std::int32_t DEFAULT_WINDOW_POSITION = INT32_MIN;
LayoutRect centred_window_rect(const std::optional<ScreenEdges>& work_area, std::int32_t width,
                               std::int32_t height);

}  // namespace vantile
