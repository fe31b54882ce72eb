#pragma once
// The UI thread's record of the installer window, and the operations that the window
// procedure, start-up and start_attempt share.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "../flow/sources.h"
#include "window_layout.h"
#include "window_state.h"
#include "../outcome_report.h"
#include "../windows/unique_handle.h"
#include "shared_attempt.h"

namespace vantile {

inline constexpr int ID_CANCEL_BUTTON = 101;
inline constexpr int ID_TRY_AGAIN_BUTTON = 102;
inline constexpr DWORD MAIN_WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

struct InstallerWindow {
    ManifestSource manifest_source;  // each attempt gets a copy
    std::shared_ptr<std::atomic<bool>> cancel_requested;
    std::shared_ptr<OutcomeSlot> outcome_slot;
    std::shared_ptr<SharedLog> log;  // handed to every attempt; the window never writes it

    HWND hwnd = nullptr;
    HWND status_label = nullptr;
    HWND progress_bar = nullptr;
    HWND details_box = nullptr;
    HWND cancel_button = nullptr;
    HWND try_again_button = nullptr;

    // Deleted only after no control uses them: replaced fonts go after the new ones are
    // applied, the last pair after the window is gone.
    UniqueFont body_font;
    UniqueFont status_font;

    UniqueHandle worker;  // the current attempt's thread; empty when there is none
    std::uint32_t dpi = BASE_DPI;
    WindowPhase phase = WindowPhase::Running;
    std::uint8_t step = 0;

    // Set while one of the window procedure's handlers runs on this record; the messages
    // its Win32 calls send meanwhile go to DefWindowProcW.
    bool handler_running = false;
};

// The record the window procedure works on: set between the window's construction and
// the end of its message loop, on the UI thread only.
InstallerWindow* installer_window_record();
void set_installer_window_record(InstallerWindow* window);

// The DPI of the window's monitor, or the system DPI for no window; never 0.
std::uint32_t dpi_for_window(HWND window);
// The primary monitor's work area, read once per window.
std::optional<ScreenEdges> read_work_area();
// The main window's outer rectangle for the DPI, centred in the work area.
LayoutRect window_rect_for_dpi(std::uint32_t dpi, const std::optional<ScreenEdges>& work_area);

struct WindowFonts {
    UniqueFont body_font;
    UniqueFont status_font;
};
// The system message font for the DPI, regular and semibold; owned by the caller.
WindowFonts create_fonts(std::uint32_t dpi);

HWND create_control(HWND parent, const wchar_t* window_class, std::string_view text, DWORD style,
                    int id);
// Places the five controls for the record's dpi and sends each its font.
void layout_controls(InstallerWindow& window);

// Registers the class and builds the hidden window with its controls, fonts and layout for
// the DPI of the monitor it lands on; nothing when the window cannot be created.
std::unique_ptr<InstallerWindow> create_installer_window(const ManifestSource& manifest_source,
                                                         std::shared_ptr<SharedLog> log);
// The end of the window's life: waits for a worker that still runs, then deletes the fonts.
void close_installer_window(std::unique_ptr<InstallerWindow> window);

LRESULT CALLBACK installer_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
void show_step(InstallerWindow& window);
void show_result(InstallerWindow& window, const AttemptReport& report);
void cancel_or_close(InstallerWindow& window);

// Resets the window to step 0 and starts a worker thread for a new attempt.
void start_attempt(InstallerWindow& window);

}  // namespace vantile
