#include "ui/portable/window_layout.h"

#include <gtest/gtest.h>

namespace vantile {
namespace {

TEST(ScaleForDpi, TruncatesInsteadOfRounding) {
    struct Case {
        std::int32_t length;
        std::uint32_t dpi;
        std::int32_t scaled;
    };
    const Case cases[] = {
        {18, 96, 18},    {18, 120, 22},  // 22.5 truncated, not rounded to 23
        {50, 120, 62},   {94, 120, 117},  {230, 120, 287}, {460, 120, 575}, {200, 120, 250},
        {460, 144, 690}, {200, 144, 300}, {28, 144, 42},   {1, 95, 0},      {24, 168, 42},
        {16, 72, 12},    {0, 480, 0},     {-3, 120, -3},  // -3.75 truncated toward zero
    };
    for (const Case& c : cases)
        EXPECT_EQ(scale_for_dpi(c.length, c.dpi), c.scaled) << c.length << " at " << c.dpi;
}

TEST(ControlRect, MatchesTheLayoutTableAt96Dpi) {
    EXPECT_EQ(control_rect(WindowControl::StatusLabel, 96), (LayoutRect{20, 18, 420, 24}));
    EXPECT_EQ(control_rect(WindowControl::ProgressBar, 96), (LayoutRect{20, 50, 420, 16}));
    EXPECT_EQ(control_rect(WindowControl::DetailsBox, 96), (LayoutRect{20, 50, 420, 94}));
    EXPECT_EQ(control_rect(WindowControl::TryAgainButton, 96), (LayoutRect{230, 152, 100, 28}));
    EXPECT_EQ(control_rect(WindowControl::CancelButton, 96), (LayoutRect{340, 152, 100, 28}));
    EXPECT_EQ(client_rect(96), (LayoutRect{0, 0, 460, 200}));
}

TEST(ControlRect, ScalesEveryEdgeSeparately) {
    EXPECT_EQ(control_rect(WindowControl::StatusLabel, 120), (LayoutRect{25, 22, 525, 30}));
    EXPECT_EQ(control_rect(WindowControl::DetailsBox, 120), (LayoutRect{25, 62, 525, 117}));
    EXPECT_EQ(control_rect(WindowControl::TryAgainButton, 120), (LayoutRect{287, 190, 125, 35}));
    EXPECT_EQ(control_rect(WindowControl::CancelButton, 144), (LayoutRect{510, 228, 150, 42}));
    EXPECT_EQ(client_rect(120), (LayoutRect{0, 0, 575, 250}));
    EXPECT_EQ(client_rect(144), (LayoutRect{0, 0, 690, 300}));
}

TEST(ControlRect, KeepsMarginsAndButtonGapAtEveryDpi) {
    for (std::uint32_t dpi : {96u, 120u, 144u, 192u}) {
        const LayoutRect client = client_rect(dpi);
        const LayoutRect label = control_rect(WindowControl::StatusLabel, dpi);
        const LayoutRect cancel = control_rect(WindowControl::CancelButton, dpi);
        const LayoutRect again = control_rect(WindowControl::TryAgainButton, dpi);
        // The progress bar and the details box share one place.
        EXPECT_EQ(control_rect(WindowControl::ProgressBar, dpi).y,
                  control_rect(WindowControl::DetailsBox, dpi).y);
        EXPECT_LE(label.x + label.width, client.width) << dpi;
        EXPECT_LE(cancel.x + cancel.width, client.width) << dpi;
        EXPECT_LE(cancel.y + cancel.height, client.height) << dpi;
        EXPECT_LT(again.x + again.width, cancel.x) << dpi;
    }
}

TEST(CentredWindowRect, CentresWithTruncatedHalves) {
    struct Case {
        ScreenEdges area;
        std::int32_t width, height;
        LayoutRect expected;
    };
    const Case cases[] = {
        {{0, 0, 1280, 1024}, 476, 239, {402, 392, 476, 239}},
        {{0, 0, 1280, 1024}, 477, 240, {401, 392, 477, 240}},     // 803 / 2 = 401
        {{100, 50, 1380, 1074}, 476, 239, {502, 442, 476, 239}},  // offset work area
        // Larger than the area: overhangs on both sides, not clamped; -5 / 2 is -2.
        {{0, 0, 400, 300}, 405, 301, {-2, 0, 405, 301}},
        {{0, 0, 400, 300}, 700, 420, {-150, -60, 700, 420}},
        {{-1920, 0, 0, 1080}, 476, 239, {-1198, 420, 476, 239}},  // monitor left of the primary
    };
    for (const Case& c : cases)
        EXPECT_EQ(centred_window_rect(c.area, c.width, c.height), c.expected)
            << c.area.left << "," << c.area.top << " " << c.width << "x" << c.height;
}

TEST(CentredWindowRect, LeavesThePositionToWindowsWithoutAWorkArea) {
    const LayoutRect rect = centred_window_rect(std::nullopt, 476, 239);
    EXPECT_EQ(rect.x, static_cast<std::int32_t>(0x80000000u));
    EXPECT_EQ(rect.y, static_cast<std::int32_t>(0x80000000u));
    EXPECT_EQ(rect.width, 476);
    EXPECT_EQ(rect.height, 239);
}

}  // namespace
}  // namespace vantile
