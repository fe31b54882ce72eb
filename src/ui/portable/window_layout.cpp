#include "ui/portable/window_layout.h"

namespace vantile {
namespace {

struct BaseRect {
    std::int32_t x, y, width, height;
};

BaseRect base_rect(WindowControl control) {
    switch (control) {
        case WindowControl::StatusLabel:
            return {20, 18, 420, 24};
        case WindowControl::ProgressBar:
            return {20, 50, 420, 16};
        case WindowControl::DetailsBox:
            return {20, 50, 420, 94};
        case WindowControl::TryAgainButton:
            return {230, 152, 100, 28};
        case WindowControl::CancelButton:
            return {340, 152, 100, 28};
    }
    return {0, 0, 0, 0};
}

}  // namespace

std::int32_t scale_for_dpi(std::int32_t length, std::uint32_t dpi) {
    // The product is formed in 64 bits so that an absurd DPI cannot overflow; for every DPI
    // Windows reports the result equals the 32-bit computation.
    const std::int64_t product = static_cast<std::int64_t>(length) * static_cast<std::int64_t>(dpi);
    return static_cast<std::int32_t>(product / BASE_DPI);
}

LayoutRect control_rect(WindowControl control, std::uint32_t dpi) {
    const BaseRect base = base_rect(control);
    return {scale_for_dpi(base.x, dpi), scale_for_dpi(base.y, dpi), scale_for_dpi(base.width, dpi),
            scale_for_dpi(base.height, dpi)};
}

LayoutRect client_rect(std::uint32_t dpi) {
    return {0, 0, scale_for_dpi(CLIENT_WIDTH, dpi), scale_for_dpi(CLIENT_HEIGHT, dpi)};
}

LayoutRect centred_window_rect(const std::optional<ScreenEdges>& work_area, std::int32_t width,
                               std::int32_t height) {
    if (!work_area) return {DEFAULT_WINDOW_POSITION, DEFAULT_WINDOW_POSITION, width, height};
    const ScreenEdges& area = *work_area;
    // C++ integer division truncates toward zero, which is the rule for negative halves too.
    return {area.left + (area.right - area.left - width) / 2,
            area.top + (area.bottom - area.top - height) / 2, width, height};
}

}  // namespace vantile
