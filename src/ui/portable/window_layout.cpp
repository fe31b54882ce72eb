#include "ui/portable/window_layout.h"

#include <cstdlib>

namespace vantile {

std::int32_t scale_for_dpi(std::int32_t length, std::uint32_t dpi) {
    // The product is formed in 64 bits so that an absurd DPI cannot overflow; for every DPI
    // Windows reports the result equals the 32-bit computation.
    const std::int64_t product = static_cast<std::int64_t>(length) * static_cast<std::int64_t>(dpi);
    return static_cast<std::int32_t>(product / BASE_DPI);
}

std::uint32_t layout_dpi(std::uint32_t dpi, std::int32_t message_font_height) {
    const std::int64_t height = std::llabs(message_font_height);
    const std::int64_t default_height = scale_for_dpi(DEFAULT_MESSAGE_FONT_HEIGHT, dpi);
    if (default_height <= 0 || height <= default_height) return dpi;
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(dpi) * height / default_height);
}

LayoutRect control_rect(WindowControl control, std::uint32_t dpi) {
    for (const LayoutEntry& entry : LAYOUT_TABLE) {
        if (entry.control != control) continue;
        const LayoutRect& base = entry.rect;
        return {scale_for_dpi(base.x, dpi), scale_for_dpi(base.y, dpi),
                scale_for_dpi(base.width, dpi), scale_for_dpi(base.height, dpi)};
    }
    return {};
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
