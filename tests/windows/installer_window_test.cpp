// The installer window in this process: its controls, DPI layout and fonts, and the window
// procedure's answers to the worker's messages and to close requests, phase by phase.
// Windows need a display; without one (Wine with no X server) these tests are skipped, and
// the end-to-end window tests run them again under their own X server.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/window_creation.h"
#include "ui/installer_window_record.h"
#include "ui/window_messages.h"
#include "ui/window_procedure.h"
#include "ui/window_sink.h"
#include "windows/wide_text.h"
#include "windows/windows_operations.h"

namespace vantile {
namespace {

// The main window's style: a caption with the system menu and a minimise box, no more.
constexpr LONG CAPTION_SYSTEM_MENU_MINIMIZE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
static_assert(CAPTION_SYSTEM_MENU_MINIMIZE == 0x00CA0000);

class RecordingLog final : public LineLog {
  public:
    void write_line(std::string_view) override {}
};

std::string text_of(HWND control) {
    wchar_t buffer[2048] = {};
    GetWindowTextW(control, buffer, 2048);
    return from_wide(buffer);
}

bool has_visible_style(HWND control) {
    return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

LayoutRect client_rect_of(HWND parent, HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

LOGFONTW font_of(HFONT font) {
    LOGFONTW log_font{};
    EXPECT_EQ(GetObjectW(font, sizeof(log_font), &log_font), static_cast<int>(sizeof(log_font)));
    return log_font;
}

LOGFONTW message_font_for(std::uint32_t dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    auto for_dpi =
        reinterpret_cast<BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT)>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    if (for_dpi)
        for_dpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi);
    else
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    return metrics.lfMessageFont;
}

AttemptReport report_of(InstallOutcome outcome, bool leftover = false) {
    AttemptReport report;
    report.outcome = std::move(outcome);
    if (leftover) {
        report.leftover_folder = "C:\\Temp\\.vantile-desktop-staging-7";
        report.removal_error = "Access is denied. (os error 5)";
    }
    return report;
}

// A real installer window, hidden, with no attempt started: the tests play the worker.
class InstallerWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = open_window("C:\\nowhere\\manifest.json");
        if (!window_) GTEST_SKIP() << "no window can be created here (no display)";
    }
    void TearDown() override {
        if (!window_) return;
        if (IsWindow(window_->hwnd)) DestroyWindow(window_->hwnd);
        quit_code();  // leave no WM_QUIT behind for the next test
        close_installer_window(std::move(window_));
    }

    std::unique_ptr<InstallerWindow> open_window(const std::string& manifest_path) {
        return create_installer_window(
            LocalFile{manifest_path}, std::make_shared<SharedLog>(std::make_unique<RecordingLog>()),
            operations_);
    }

    // Closes the window under test and opens a fresh one for the next round; without
    // `as_record`, its record is taken off it, as before WM_NCCREATE and after WM_NCDESTROY.
    void reopen_window(bool as_record = true) {
        close_installer_window(std::move(window_));
        quit_code();  // the closed window's WM_QUIT, if it had not ended yet
        window_ = open_window("C:\\m.json");
        ASSERT_TRUE(window_);
        if (!as_record) bind_record(window_->hwnd, nullptr);
    }

    LRESULT send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
        return SendMessageW(window_->hwnd, message, wparam, lparam);
    }
    void finish(const AttemptReport& report) {
        window_->outcome_slot->put(report);
        EXPECT_EQ(send(WM_INSTALL_DONE), 0);
    }
    // The code of a WM_QUIT waiting in this thread's queue, if there is one.
    std::optional<int> quit_code() {
        MSG message{};
        if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return std::nullopt;
        return static_cast<int>(message.wParam);
    }
    int progress() {
        return static_cast<int>(SendMessageW(window_->progress_bar, PBM_GETPOS, 0, 0));
    }
    void show() { ShowWindow(window_->hwnd, SW_SHOW); }

    WindowsOperations operations_;
    std::unique_ptr<InstallerWindow> window_;
};

TEST_F(InstallerWindowTest, StartsHiddenWithTheFiveControlsInOrder) {
    const HWND main = window_->hwnd;
    EXPECT_FALSE(IsWindowVisible(main));
    EXPECT_EQ(text_of(main), "Install Vantile");
    const LONG style = GetWindowLongW(main, GWL_STYLE);
    EXPECT_EQ(style & CAPTION_SYSTEM_MENU_MINIMIZE, CAPTION_SYSTEM_MENU_MINIMIZE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_VISIBLE), 0);

    struct Expected {
        HWND control;
        const wchar_t* window_class;
        const char* text;
        LONG style;
        int id;
    };
    const Expected controls[] = {
        {window_->status_label, L"Static", "", WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 0},
        {window_->progress_bar, L"msctls_progress32", "", WS_CHILD | WS_VISIBLE, 0},
        {window_->details_box, L"Edit", "",
         WS_CHILD | WS_TABSTOP | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE, 0},
        {window_->try_again_button, L"Button", "Try again", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON,
         ID_TRY_AGAIN_BUTTON},
        {window_->cancel_button, L"Button", "Cancel",
         WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, ID_CANCEL_BUTTON},
    };
    HWND child = GetWindow(main, GW_CHILD);
    for (const Expected& expected : controls) {
        SCOPED_TRACE(from_wide(expected.window_class));
        ASSERT_EQ(child, expected.control);  // in creation order, which is the tab order
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        EXPECT_EQ(_wcsicmp(name, expected.window_class), 0);
        EXPECT_EQ(text_of(child), expected.text);
        EXPECT_EQ(GetWindowLongW(child, GWL_STYLE) & expected.style, expected.style);
        EXPECT_EQ(GetDlgCtrlID(child), expected.id);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_FALSE(has_visible_style(window_->details_box));
    EXPECT_FALSE(has_visible_style(window_->try_again_button));
    EXPECT_EQ(GetWindowLongW(window_->details_box, GWL_STYLE) & WS_BORDER, 0);
    EXPECT_EQ(SendMessageW(window_->progress_bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageW(window_->progress_bar, PBM_GETRANGE, FALSE, 0), 1000);
    EXPECT_EQ(window_->phase, WindowPhase::Running);
    EXPECT_EQ(window_->step, InstallStep::Checking);
    EXPECT_FALSE(window_->worker);
}

TEST_F(InstallerWindowTest, IsLaidOutForTheDpiOfItsMonitor) {
    const std::uint32_t dpi = dpi_for_window(window_->hwnd);
    EXPECT_EQ(window_->dpi, dpi);
    RECT client{};
    GetClientRect(window_->hwnd, &client);
    // The prefix's message font is not larger than Windows' default: no growth for it.
    EXPECT_EQ(layout_dpi(*window_), dpi);
    EXPECT_EQ(client.right, client_rect(dpi).width);
    EXPECT_EQ(client.bottom, client_rect(dpi).height);
    for (const LayoutEntry& entry : LAYOUT_TABLE) {
        const WindowControl which = entry.control;
        SCOPED_TRACE(static_cast<int>(which));
        const HWND control = which == WindowControl::StatusLabel    ? window_->status_label
                             : which == WindowControl::ProgressBar  ? window_->progress_bar
                             : which == WindowControl::DetailsBox   ? window_->details_box
                             : which == WindowControl::CancelButton ? window_->cancel_button
                                                                    : window_->try_again_button;
        EXPECT_EQ(client_rect_of(window_->hwnd, control), control_rect(which, dpi));
    }
    const HFONT body = window_->body_font.get();
    const HFONT status = window_->status_font.get();
    ASSERT_TRUE(body && status);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(window_->status_label, WM_GETFONT, 0, 0)),
              status);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(window_->details_box, WM_GETFONT, 0, 0)), body);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(window_->cancel_button, WM_GETFONT, 0, 0)),
              body);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(window_->try_again_button, WM_GETFONT, 0, 0)),
              body);
}

TEST(InstallerWindowDpi, ComesFromTheWindowOrTheSystemAndIsNeverZero) {
    const std::uint32_t system = dpi_for_window(nullptr);
    EXPECT_GT(system, 0u);
    EXPECT_EQ(system, GetDpiForSystem());
}

TEST(InstallerWindowDpi, OuterRectangleIsTheScaledClientAreaCentredInTheWorkArea) {
    const ScreenEdges area{0, 0, 1280, 1024};
    for (std::uint32_t dpi : {96u, 120u, 144u}) {
        RECT expected{0, 0, client_rect(dpi).width, client_rect(dpi).height};
        AdjustWindowRectExForDpi(&expected, CAPTION_SYSTEM_MENU_MINIMIZE, FALSE, 0, dpi);
        const std::int32_t width = expected.right - expected.left;
        const std::int32_t height = expected.bottom - expected.top;
        SCOPED_TRACE(dpi);
        EXPECT_EQ(window_rect_for_dpi(dpi, dpi, area),
                  (LayoutRect{(1280 - width) / 2, (1024 - height) / 2, width, height}));
        const LayoutRect unplaced = window_rect_for_dpi(dpi, dpi, std::nullopt);
        EXPECT_EQ(unplaced.x, static_cast<std::int32_t>(CW_USEDEFAULT));
        EXPECT_EQ(unplaced.y, static_cast<std::int32_t>(CW_USEDEFAULT));
        EXPECT_EQ(unplaced.width, width);
    }
    // A work area smaller than the window: it overhangs on both sides.
    const LayoutRect overhanging = window_rect_for_dpi(144, 144, ScreenEdges{0, 0, 600, 200});
    EXPECT_LT(overhanging.x, 0);
    EXPECT_LT(overhanging.y, 0);
}

TEST(InstallerWindowFonts, AreTheMessageFontForTheDpiRegularAndSemibold) {
    for (std::uint32_t dpi : {96u, 144u}) {
        WindowFonts fonts = create_fonts(dpi);
        ASSERT_TRUE(fonts.body_font && fonts.status_font);
        const LOGFONTW expected = message_font_for(dpi);
        const LOGFONTW body = font_of(fonts.body_font.get());
        const LOGFONTW status = font_of(fonts.status_font.get());
        SCOPED_TRACE(dpi);
        EXPECT_EQ(body.lfHeight, expected.lfHeight);
        EXPECT_EQ(body.lfWeight, expected.lfWeight);
        EXPECT_EQ(std::wstring(body.lfFaceName), std::wstring(expected.lfFaceName));
        EXPECT_EQ(status.lfHeight, expected.lfHeight);  // not scaled a second time
        EXPECT_EQ(fonts.message_font_height, std::abs(expected.lfHeight));
        EXPECT_EQ(status.lfWeight, 600);
        EXPECT_EQ(std::wstring(status.lfFaceName), std::wstring(expected.lfFaceName));
    }
    EXPECT_GT(std::abs(message_font_for(144).lfHeight), std::abs(message_font_for(96).lfHeight));
}

TEST_F(InstallerWindowTest, DpiChangeTakesTheSuggestedRectangleAndNewFonts) {
    const HFONT old_body = window_->body_font.get();
    const HFONT old_status = window_->status_font.get();
    RECT suggested{40, 30, 40 + 700, 30 + 340};
    EXPECT_EQ(send(WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested)), 0);

    RECT outer{};
    GetWindowRect(window_->hwnd, &outer);
    EXPECT_EQ(outer.left, 40);
    EXPECT_EQ(outer.top, 30);
    EXPECT_EQ(outer.right - outer.left, 700);
    EXPECT_EQ(outer.bottom - outer.top, 340);
    EXPECT_EQ(window_->dpi, 144u);
    EXPECT_EQ(client_rect_of(window_->hwnd, window_->status_label), (LayoutRect{30, 27, 630, 36}));
    EXPECT_EQ(client_rect_of(window_->hwnd, window_->cancel_button),
              (LayoutRect{510, 228, 150, 42}));
    EXPECT_EQ(client_rect_of(window_->hwnd, window_->try_again_button),
              (LayoutRect{345, 228, 150, 42}));

    const HFONT body = window_->body_font.get();
    const HFONT status = window_->status_font.get();
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(window_->status_label, WM_GETFONT, 0, 0)),
              status);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(window_->cancel_button, WM_GETFONT, 0, 0)),
              body);
    EXPECT_EQ(font_of(body).lfHeight, message_font_for(144).lfHeight);
    EXPECT_EQ(font_of(status).lfWeight, 600);
    // The previous pair is gone (a new font may reuse a freed handle value, so only a
    // handle that differs from both new ones can be checked).
    for (HFONT old : {old_body, old_status}) {
        if (old != body && old != status) {
            EXPECT_EQ(GetObjectType(old), 0u);
        }
    }
}

TEST_F(InstallerWindowTest, StepMessagesShowTheStepAndFillTheBarFromUnpackingOn) {
    struct Case {
        WPARAM step;
        const char* status;
        bool cancel_enabled;
        int bar;
    };
    const Case cases[] = {
        {1, "Checking for the latest Vantile\u2026", true, 0},
        {2, "Downloading Vantile\u2026", true, 0},
        {3, "Unpacking Vantile\u2026", true, 1000},
        {4, "Installing Vantile\u2026", false, 1000},
        {0, "Checking this computer\u2026", true, 1000},
        {5, "Checking this computer\u2026", true, 1000},  // out of range: step 0
        {0x102, "Checking this computer\u2026", true, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        EXPECT_EQ(send(WM_INSTALL_STEP, c.step), 0);
        EXPECT_EQ(text_of(window_->status_label), c.status);
        // The progress bar is named after the label before it.
        EXPECT_EQ(text_of(window_->progress_bar), c.status);
        EXPECT_EQ(IsWindowEnabled(window_->cancel_button) != 0, c.cancel_enabled);
        EXPECT_EQ(text_of(window_->cancel_button), "Cancel");
        EXPECT_TRUE(has_visible_style(window_->progress_bar));
        EXPECT_FALSE(has_visible_style(window_->details_box));
        EXPECT_FALSE(has_visible_style(window_->try_again_button));
        EXPECT_EQ(progress(), c.bar);
    }
}

TEST_F(InstallerWindowTest, ProgressMessagesMoveTheBarInEveryPhase) {
    EXPECT_EQ(send(WM_INSTALL_PROGRESS, 500), 0);
    EXPECT_EQ(progress(), 500);
    window_->phase = WindowPhase::Cancelling;
    send(WM_INSTALL_PROGRESS, 730);
    EXPECT_EQ(progress(), 730);
    window_->phase = WindowPhase::Finished;
    send(WM_INSTALL_PROGRESS, 1000);
    EXPECT_EQ(progress(), 1000);
}

TEST_F(InstallerWindowTest, CloseRequestsWhileRunningAskTheWorkerToStopAndHideTheWindow) {
    for (UINT message : {WM_CLOSE, WM_COMMAND}) {
        window_->phase = WindowPhase::Running;
        window_->cancel_requested->store(false);
        show();
        send(WM_INSTALL_STEP, 2);
        EXPECT_EQ(send(message, message == WM_COMMAND ? IDCANCEL : 0), 0);
        EXPECT_EQ(window_->phase, WindowPhase::Cancelling);
        EXPECT_TRUE(window_->cancel_requested->load());
        EXPECT_FALSE(IsWindowVisible(window_->hwnd));
        EXPECT_TRUE(IsWindow(window_->hwnd));
    }
    // The Cancel button's own id, with a notification code in the high word.
    window_->phase = WindowPhase::Running;
    window_->cancel_requested->store(false);
    send(WM_COMMAND, MAKEWPARAM(ID_CANCEL_BUTTON, BN_CLICKED),
         reinterpret_cast<LPARAM>(window_->cancel_button));
    EXPECT_EQ(window_->phase, WindowPhase::Cancelling);
    EXPECT_TRUE(window_->cancel_requested->load());
}

TEST_F(InstallerWindowTest, CloseRequestsAreRefusedWhileInstallingAndWhileCancelling) {
    show();
    send(WM_INSTALL_STEP, 4);
    for (WPARAM id : {IDCANCEL, ID_CANCEL_BUTTON}) send(WM_COMMAND, id);
    send(WM_CLOSE);
    send(WM_SYSCOMMAND, SC_CLOSE);  // the close box and Alt+F4
    EXPECT_EQ(window_->phase, WindowPhase::Running);
    EXPECT_FALSE(window_->cancel_requested->load());
    EXPECT_TRUE(IsWindowVisible(window_->hwnd));

    window_->phase = WindowPhase::Cancelling;
    send(WM_CLOSE);
    send(WM_COMMAND, ID_CANCEL_BUTTON);
    EXPECT_EQ(window_->phase, WindowPhase::Cancelling);
    EXPECT_TRUE(IsWindow(window_->hwnd));
    EXPECT_FALSE(quit_code());
}

TEST_F(InstallerWindowTest, AFailureIsShownWithCloseAndTryAgain) {
    show();
    send(WM_INSTALL_PROGRESS, 420);
    finish(report_of(
        Failed{"The manifest C:\\m.json is not valid JSON: oops", InstallStep::ReadingManifest}));
    EXPECT_EQ(window_->phase, WindowPhase::Finished);
    EXPECT_EQ(window_->exit_code, 1);
    EXPECT_EQ(text_of(window_->status_label), "Vantile could not be installed.");
    EXPECT_FALSE(has_visible_style(window_->progress_bar));
    EXPECT_TRUE(has_visible_style(window_->details_box));
    EXPECT_EQ(text_of(window_->details_box),
              "The step that failed: Reading the release manifest.\r\n"
              "The manifest C:\\m.json is not valid JSON: oops");
    EXPECT_EQ(text_of(window_->cancel_button), "Close");
    EXPECT_TRUE(IsWindowEnabled(window_->cancel_button));
    EXPECT_EQ(text_of(window_->try_again_button), "Try again");
    EXPECT_TRUE(has_visible_style(window_->try_again_button));
    EXPECT_EQ(GetFocus(), window_->try_again_button);
    EXPECT_FALSE(quit_code());

    // A repeated message finds the slot empty and changes nothing.
    EXPECT_EQ(send(WM_INSTALL_DONE), 0);
    EXPECT_EQ(window_->phase, WindowPhase::Finished);
    // A late step message moves the bar but does not bring the step back.
    send(WM_INSTALL_STEP, 3);
    EXPECT_EQ(text_of(window_->status_label), "Vantile could not be installed.");
    EXPECT_EQ(progress(), 1000);

    // Close ends the window with the failure's code.
    send(WM_COMMAND, ID_CANCEL_BUTTON);
    EXPECT_FALSE(IsWindow(window_->hwnd));
    EXPECT_EQ(quit_code(), 1);
}

TEST_F(InstallerWindowTest, EscAndTheCloseBoxEndAShownResultToo) {
    for (UINT message : {WM_COMMAND, WM_CLOSE}) {
        window_->phase = WindowPhase::Finished;
        window_->exit_code = 1;
        EXPECT_EQ(send(message, message == WM_COMMAND ? IDCANCEL : 0), 0);
        EXPECT_FALSE(IsWindow(window_->hwnd));
        EXPECT_EQ(quit_code(), 1);
        reopen_window();
    }
}

TEST_F(InstallerWindowTest, AnInstallOrACancelWithoutLeftoversClosesTheWindowAtOnce) {
    struct Case {
        InstallOutcome outcome;
        WindowPhase phase;
        int code;
    };
    const Case cases[] = {
        {Installed{"2.0.1"}, WindowPhase::Running, 0},
        {Cancelled{}, WindowPhase::Running, 2},
        {Installed{"2.0.1"}, WindowPhase::Cancelling, 0},
        {Cancelled{}, WindowPhase::Cancelling, 2},
        {Failed{"m", InstallStep::Downloading}, WindowPhase::Cancelling, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        window_->phase = c.phase;
        finish(report_of(c.outcome, c.phase == WindowPhase::Cancelling));
        EXPECT_FALSE(IsWindow(window_->hwnd));
        EXPECT_EQ(window_->exit_code, c.code);
        EXPECT_EQ(quit_code(), c.code);
        reopen_window();
    }
}

// A worker whose report is in the slot but whose post was lost (the queue was full, say): the
// window learns from the worker's thread that it ended.
DWORD WINAPI end_with_a_lost_post(void* parameter) {
    // Posts to a window that no longer exists fail, as a post to a full queue does.
    const HWND gone =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    hand_off_report(*static_cast<OutcomeSlot*>(parameter), gone, report_of(Cancelled{}));
    return 0;
}

TEST_F(InstallerWindowTest, AWorkerWhoseReportWasNotPostedStillEndsTheWindow) {
    window_->worker.reset(
        CreateThread(nullptr, 0, end_with_a_lost_post, window_->outcome_slot.get(), 0, nullptr));
    ASSERT_TRUE(window_->worker);
    // Should the window wait for ever, the loop is ended from outside with a code of its own.
    const DWORD ui_thread = GetCurrentThreadId();
    UniqueHandle loop_ended(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread watchdog([&] {
        if (WaitForSingleObject(loop_ended.get(), 60000) == WAIT_TIMEOUT)
            PostThreadMessageW(ui_thread, WM_QUIT, 99, 0);
    });
    const int exit_code = run_message_loop(*window_);
    SetEvent(loop_ended.get());
    watchdog.join();
    EXPECT_EQ(exit_code, 2);  // the cancelled attempt's code, not the watchdog's
    EXPECT_FALSE(IsWindow(window_->hwnd));
    EXPECT_FALSE(window_->worker);
}

TEST_F(InstallerWindowTest, AnInstallThatLeftItsFolderBehindStaysOpenWithoutTryAgain) {
    show();
    finish(report_of(Installed{"2.0.1"}, true));
    EXPECT_EQ(window_->phase, WindowPhase::Finished);
    EXPECT_EQ(window_->exit_code, 0);
    EXPECT_EQ(text_of(window_->status_label), "Vantile 2.0.1 is installed, and it is opening now.");
    EXPECT_EQ(text_of(window_->details_box),
              "Temporary files remain at C:\\Temp\\.vantile-desktop-staging-7.\r\n"
              "Vantile was installed and can be used.\r\n"
              "Close anything using that folder, then remove it. Access is denied. (os error 5)");
    EXPECT_FALSE(has_visible_style(window_->try_again_button));
    EXPECT_EQ(GetFocus(), window_->cancel_button);
    // Try again does nothing when it is not offered... and not while running either.
    window_->phase = WindowPhase::Running;
    send(WM_COMMAND, ID_TRY_AGAIN_BUTTON);
    EXPECT_FALSE(window_->worker);
    EXPECT_EQ(window_->phase, WindowPhase::Running);
}

TEST_F(InstallerWindowTest, AFailureOfTheAppsInstallerAfterACancelRequestBringsTheWindowBack) {
    show();
    send(WM_INSTALL_STEP, 3);
    send(WM_CLOSE);
    ASSERT_EQ(window_->phase, WindowPhase::Cancelling);
    ASSERT_FALSE(IsWindowVisible(window_->hwnd));
    // The worker had already begun Installing; the hidden window keeps its text.
    send(WM_INSTALL_STEP, 4);
    EXPECT_EQ(text_of(window_->status_label), "Unpacking Vantile\u2026");
    finish(
        report_of(Failed{"Vantile's installer failed with exit code 3.", InstallStep::Installing}));
    EXPECT_TRUE(IsWindowVisible(window_->hwnd));
    EXPECT_EQ(window_->phase, WindowPhase::Finished);
    EXPECT_EQ(window_->exit_code, 1);
    EXPECT_EQ(text_of(window_->status_label), "Vantile could not be installed.");
    EXPECT_EQ(text_of(window_->details_box),
              "The step that failed: Installing Vantile.\r\nVantile's installer failed with exit "
              "code 3.");
    EXPECT_FALSE(quit_code());
}

TEST_F(InstallerWindowTest, StaticControlsArePaintedInTheWindowColours) {
    for (HWND control : {window_->status_label, window_->details_box}) {
        HDC dc = GetDC(control);
        SetBkColor(dc, RGB(1, 2, 3));
        SetTextColor(dc, RGB(4, 5, 6));
        const LRESULT brush = send(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                   reinterpret_cast<LPARAM>(control));
        EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), GetSysColorBrush(COLOR_WINDOW));
        EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_WINDOW));
        // A high-contrast scheme's text colour, not the device context's default black.
        EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
        ReleaseDC(control, dc);
    }
}

TEST_F(InstallerWindowTest, MessagesDuringAHandlerOrWithoutARecordGoToTheDefaultProcedure) {
    show();
    send(WM_INSTALL_STEP, 2);
    window_->handler_running = true;  // as if sent from inside a handler
    window_->exit_code = 2;
    send(WM_CLOSE);
    // DefWindowProcW's WM_CLOSE destroys the window; the handler would have hidden it.
    EXPECT_FALSE(IsWindow(window_->hwnd));
    EXPECT_EQ(window_->phase, WindowPhase::Running);
    EXPECT_FALSE(window_->cancel_requested->load());
    // The window's end still posted the record's code.
    EXPECT_EQ(quit_code(), 2);
    window_->handler_running = false;

    reopen_window(/*as_record=*/false);
    // No record bound to the window: the same holds, and its end posts the initial code.
    window_->exit_code = 2;
    SendMessageW(window_->hwnd, WM_INSTALL_STEP, 3, 0);
    EXPECT_EQ(text_of(window_->status_label), "");
    SendMessageW(window_->hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window_->hwnd));
    EXPECT_EQ(quit_code(), 0);
}

TEST_F(InstallerWindowTest, EnterPressesTheFocusedButtonElseTheDefaultOne) {
    show();
    SetForegroundWindow(window_->hwnd);
    finish(report_of(Failed{"m", InstallStep::Downloading}));
    ASSERT_EQ(GetFocus(), window_->try_again_button);
    const auto default_id = [&] {
        const LRESULT answer = send(DM_GETDEFID);
        EXPECT_EQ(HIWORD(answer), DC_HASDEFID);
        return LOWORD(answer);
    };
    EXPECT_EQ(default_id(), ID_TRY_AGAIN_BUTTON);
    SetFocus(window_->details_box);
    EXPECT_EQ(default_id(), ID_CANCEL_BUTTON);
    SetFocus(window_->cancel_button);
    EXPECT_EQ(default_id(), ID_CANCEL_BUTTON);
    // IDOK, which IsDialogMessageW sends when it finds no default button, is not lost: here
    // it presses Close.
    send(WM_COMMAND, IDOK);
    EXPECT_FALSE(IsWindow(window_->hwnd));
    EXPECT_EQ(quit_code(), 1);
}

TEST_F(InstallerWindowTest, TabAndShiftTabGoRoundInReadingOrder) {
    show();
    SetForegroundWindow(window_->hwnd);
    finish(report_of(Failed{"m", InstallStep::Downloading}));
    // Left to right and round: the details box, Try again, Close. A button's Tab is what
    // IsDialogMessageW does; the read-only details box sends WM_NEXTDLGCTL for it.
    const HWND details = window_->details_box;
    const HWND try_again = window_->try_again_button;
    const HWND close = window_->cancel_button;
    struct Move {
        HWND from;
        bool backwards;
        HWND to;
    };
    for (const Move& move : {Move{details, false, try_again}, Move{try_again, false, close},
                             Move{close, false, details}, Move{details, true, close},
                             Move{close, true, try_again}, Move{try_again, true, details}}) {
        SCOPED_TRACE(text_of(move.from) + (move.backwards ? " Shift+Tab" : " Tab"));
        SetFocus(move.from);
        send(WM_NEXTDLGCTL, move.backwards ? 1 : 0, 0);
        EXPECT_EQ(GetFocus(), move.to);
    }
    // And for Enter: the default button is focused by handle.
    send(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(window_->cancel_button), TRUE);
    EXPECT_EQ(GetFocus(), window_->cancel_button);
    // The details box, reached by Tab, has all its text selected.
    SetFocus(window_->cancel_button);
    send(WM_NEXTDLGCTL, 0, 0);
    EXPECT_EQ(GetFocus(), window_->details_box);
    DWORD start = 1, end = 0;
    SendMessageW(window_->details_box, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, static_cast<DWORD>(GetWindowTextLengthW(window_->details_box)));
}

TEST_F(InstallerWindowTest, TheFocusComesBackWhenTheWindowIsActivatedAgain) {
    show();
    SetForegroundWindow(window_->hwnd);
    send(WM_INSTALL_STEP, 1);
    EXPECT_EQ(GetFocus(), window_->cancel_button);
    finish(report_of(Failed{"m", InstallStep::Downloading}));
    EXPECT_EQ(GetFocus(), window_->try_again_button);
    send(WM_ACTIVATE, WA_INACTIVE);
    SetFocus(nullptr);
    send(WM_ACTIVATE, WA_ACTIVE);
    EXPECT_EQ(GetFocus(), window_->try_again_button);
    // Try again hides itself: the new attempt's Cancel takes the focus. (The attempt's
    // worker fails at once: the manifest file does not exist.)
    send(WM_COMMAND, ID_TRY_AGAIN_BUTTON);
    EXPECT_EQ(GetFocus(), window_->cancel_button);
}

TEST_F(InstallerWindowTest, ASettingChangeAppliesNewFonts) {
    for (UINT message : {WM_SETTINGCHANGE, WM_SYSCOLORCHANGE, WM_THEMECHANGED}) {
        SCOPED_TRACE(message);
        const HFONT before = window_->body_font.get();
        EXPECT_EQ(send(message), 0);
        const HFONT body = window_->body_font.get();
        const HFONT status = window_->status_font.get();
        EXPECT_NE(body, nullptr);
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(window_->status_label, WM_GETFONT, 0, 0)),
                  status);
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(window_->cancel_button, WM_GETFONT, 0, 0)),
                  body);
        if (before != body && before != status) {
            EXPECT_EQ(GetObjectType(before), 0u);
        }
        // The same message font: the same size and layout.
        RECT client{};
        GetClientRect(window_->hwnd, &client);
        EXPECT_EQ(client.right, client_rect(window_->dpi).width);
        EXPECT_EQ(client_rect_of(window_->hwnd, window_->cancel_button),
                  control_rect(WindowControl::CancelButton, window_->dpi));
    }
}

// Sets this process's message font ("Make text bigger" does it for every program) and puts
// the previous metrics back at the end of the scope.
class MessageFontScope {
  public:
    explicit MessageFontScope(LONG height) {
        original_.cbSize = sizeof(original_);
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(original_), &original_, 0);
        NONCLIENTMETRICSW changed = original_;
        changed.lfMessageFont.lfHeight = height;
        set_ = SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(changed), &changed, 0);
    }
    ~MessageFontScope() {
        if (set_) SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(original_), &original_, 0);
    }
    MessageFontScope(const MessageFontScope&) = delete;
    MessageFontScope& operator=(const MessageFontScope&) = delete;
    bool set() const { return set_; }

  private:
    NONCLIENTMETRICSW original_{};
    bool set_ = false;
};

TEST_F(InstallerWindowTest, AMessageFontTwiceTheDefaultGrowsTheOpenWindowTwofold) {
    const std::uint32_t dpi = window_->dpi;
    const auto expect_layout = [&](std::uint32_t layout) {
        SCOPED_TRACE(layout);
        EXPECT_EQ(layout_dpi(*window_), layout);
        RECT client{};
        GetClientRect(window_->hwnd, &client);
        EXPECT_EQ(client.right, client_rect(layout).width);
        EXPECT_EQ(client.bottom, client_rect(layout).height);
        EXPECT_EQ(client_rect_of(window_->hwnd, window_->status_label),
                  control_rect(WindowControl::StatusLabel, layout));
        EXPECT_EQ(client_rect_of(window_->hwnd, window_->try_again_button),
                  control_rect(WindowControl::TryAgainButton, layout));
    };
    RECT before{};
    GetWindowRect(window_->hwnd, &before);
    {
        MessageFontScope larger(-2 * scale_for_dpi(DEFAULT_MESSAGE_FONT_HEIGHT, dpi));
        ASSERT_TRUE(larger.set());
        send(WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS);
        expect_layout(2 * dpi);
        EXPECT_EQ(std::abs(font_of(window_->body_font.get()).lfHeight),
                  2 * scale_for_dpi(DEFAULT_MESSAGE_FONT_HEIGHT, dpi));
        // The window grows from its top-left corner.
        RECT grown{};
        GetWindowRect(window_->hwnd, &grown);
        EXPECT_EQ(grown.left, before.left);
        EXPECT_EQ(grown.top, before.top);
    }
    // Back to the prefix's own font: back to the layout of the DPI.
    send(WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS);
    expect_layout(dpi);
}

}  // namespace
}  // namespace vantile
