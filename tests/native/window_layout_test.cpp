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
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " at " << c.dpi);
        EXPECT_EQ(scale_for_dpi(c.length, c.dpi), c.scaled);
    }
}

const LayoutRect& base_rect(WindowControl control) {
    for (const LayoutEntry& entry : LAYOUT_TABLE)
        if (entry.control == control) return entry.rect;
    ADD_FAILURE() << "not in the table";
    return LAYOUT_TABLE[0].rect;
}

// The rules the table follows at 96 DPI: 20-unit margins left, right and below; the label,
// the bar and the details box share their left edge and width; the bar and the details box
// share their place under the label; the buttons share a row and are right-aligned with a
// 10-unit gap.
TEST(LayoutTable, KeepsItsMarginsAndAlignment) {
    constexpr std::int32_t MARGIN = 20;
    const LayoutRect& label = base_rect(WindowControl::StatusLabel);
    const LayoutRect& bar = base_rect(WindowControl::ProgressBar);
    const LayoutRect& details = base_rect(WindowControl::DetailsBox);
    const LayoutRect& cancel = base_rect(WindowControl::CancelButton);
    const LayoutRect& again = base_rect(WindowControl::TryAgainButton);
    for (const LayoutRect* wide : {&label, &bar, &details}) {
        EXPECT_EQ(wide->x, MARGIN);
        EXPECT_EQ(wide->x + wide->width, CLIENT_WIDTH - MARGIN);
    }
    EXPECT_EQ(bar.y, details.y);
    EXPECT_GT(bar.y, label.y + label.height);
    EXPECT_LT(details.y + details.height, cancel.y);
    EXPECT_EQ(cancel.x + cancel.width, CLIENT_WIDTH - MARGIN);
    EXPECT_EQ(cancel.y + cancel.height, CLIENT_HEIGHT - MARGIN);
    EXPECT_EQ(again.y, cancel.y);
    EXPECT_EQ(again.height, cancel.height);
    EXPECT_EQ(again.width, cancel.width);
    EXPECT_EQ(cancel.x - (again.x + again.width), 10);
    // The window places the controls in this order.
    const WindowControl order[] = {WindowControl::StatusLabel, WindowControl::ProgressBar,
                                   WindowControl::DetailsBox, WindowControl::CancelButton,
                                   WindowControl::TryAgainButton};
    for (std::size_t index = 0; index < LAYOUT_TABLE.size(); ++index)
        EXPECT_EQ(LAYOUT_TABLE[index].control, order[index]);
}

// Every edge of every control is scaled on its own, written out at 144 and 192 DPI.
TEST(ControlRect, ScalesEveryEdgeOfTheTable) {
    struct Case {
        std::uint32_t dpi;
        WindowControl control;
        LayoutRect rect;
    };
    const Case cases[] = {
        {144, WindowControl::StatusLabel, {30, 27, 630, 36}},
        {144, WindowControl::ProgressBar, {30, 75, 630, 24}},
        {144, WindowControl::DetailsBox, {30, 75, 630, 141}},
        {144, WindowControl::CancelButton, {510, 228, 150, 42}},
        {144, WindowControl::TryAgainButton, {345, 228, 150, 42}},
        {192, WindowControl::StatusLabel, {40, 36, 840, 48}},
        {192, WindowControl::ProgressBar, {40, 100, 840, 32}},
        {192, WindowControl::DetailsBox, {40, 100, 840, 188}},
        {192, WindowControl::CancelButton, {680, 304, 200, 56}},
        {192, WindowControl::TryAgainButton, {460, 304, 200, 56}},
        {96, WindowControl::StatusLabel, {20, 18, 420, 24}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.control) << " at " << c.dpi);
        EXPECT_EQ(control_rect(c.control, c.dpi), c.rect);
    }
    EXPECT_EQ(client_rect(192), (LayoutRect{0, 0, 920, 400}));
}

TEST(ControlRect, MatchesTheExamplesAt120And144Dpi) {
    EXPECT_EQ(control_rect(WindowControl::StatusLabel, 120), (LayoutRect{25, 22, 525, 30}));
    EXPECT_EQ(control_rect(WindowControl::DetailsBox, 120), (LayoutRect{25, 62, 525, 117}));
    EXPECT_EQ(control_rect(WindowControl::TryAgainButton, 120), (LayoutRect{287, 190, 125, 35}));
    EXPECT_EQ(control_rect(WindowControl::CancelButton, 144), (LayoutRect{510, 228, 150, 42}));
    EXPECT_EQ(client_rect(120), (LayoutRect{0, 0, 575, 250}));
    EXPECT_EQ(client_rect(144), (LayoutRect{0, 0, 690, 300}));
}

TEST(ControlRect, KeepsMarginsAndButtonGapAtEveryDpi) {
    for (std::uint32_t dpi : {96u, 120u, 144u, 192u, 216u}) {
        SCOPED_TRACE(dpi);
        const LayoutRect client = client_rect(dpi);
        const LayoutRect label = control_rect(WindowControl::StatusLabel, dpi);
        const LayoutRect cancel = control_rect(WindowControl::CancelButton, dpi);
        const LayoutRect again = control_rect(WindowControl::TryAgainButton, dpi);
        EXPECT_EQ(control_rect(WindowControl::ProgressBar, dpi).y,
                  control_rect(WindowControl::DetailsBox, dpi).y);
        EXPECT_LE(label.x + label.width, client.width);
        EXPECT_LE(cancel.x + cancel.width, client.width);
        EXPECT_LE(cancel.y + cancel.height, client.height);
        EXPECT_LT(again.x + again.width, cancel.x);
    }
}

// The default message font (12 pixels at 96 DPI, scaled with the DPI) or a smaller one keeps
// the layout of the DPI; a larger one grows it in proportion to the font's height.
TEST(LayoutDpi, GrowsWithAMessageFontLargerThanTheDefault) {
    struct Case {
        std::uint32_t dpi;
        std::int32_t font_height;
        std::uint32_t layout;
    };
    const Case cases[] = {
        {96, 12, 96},   {96, -12, 96},  {96, 11, 96},   {96, 0, 96},  // Wine's 11, no metrics
        {120, 15, 120}, {144, 18, 144}, {144, 17, 144}, {192, 24, 192},
        {96, 24, 192},  {96, -24, 192},                 // "Make text bigger" at 200 %
        {96, 27, 216},                                  // 225 %
        {144, 36, 288}, {120, 30, 240}, {96, 13, 104},  // 13/12 of 96
        {96, 14, 112},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.font_height << " px at " << c.dpi);
        EXPECT_EQ(layout_dpi(c.dpi, c.font_height), c.layout);
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
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.area.left << "," << c.area.top << " " << c.width << "x" << c.height);
        EXPECT_EQ(centred_window_rect(c.area, c.width, c.height), c.expected);
    }
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
