#pragma once
// The UI thread's record of the installer window: its controls and fonts, what it shares with
// the attempts' workers, and its phase and exit code. It is bound to the main window, whose
// procedure finds it there.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "flow/install_operations.h"
#include "flow/sources.h"
#include "ui/portable/window_layout.h"
#include "ui/portable/window_state.h"
#include "ui/shared_attempt.h"
#include "ui/status_announcement.h"
#include "windows/unique_handle.h"

namespace vantile {

inline constexpr int ID_CANCEL_BUTTON = 101;
inline constexpr int ID_TRY_AGAIN_BUTTON = 102;
inline constexpr DWORD MAIN_WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

struct InstallerWindow {
    ManifestSource manifest_source;  // each attempt gets a copy
    // Shared with every attempt's worker: the window sets the request, start_attempt clears
    // it; the worker leaves its report in the slot, WM_INSTALL_DONE takes it out.
    std::shared_ptr<std::atomic<bool>> cancel_requested =
        std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<OutcomeSlot> outcome_slot = std::make_shared<OutcomeSlot>();
    std::shared_ptr<SharedLog> log;           // handed to every attempt; the window never writes it
    InstallOperations* operations = nullptr;  // each attempt's worker runs on them

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
    // The message font's height in pixels at `dpi`; a taller one than Windows' default
    // grows the layout with it.
    std::int32_t message_font_height = 0;

    UniqueHandle worker;  // the current attempt's thread; empty when there is none
    std::uint32_t dpi = BASE_DPI;
    WindowPhase phase = WindowPhase::Running;
    InstallStep step = InstallStep::Checking;
    // 0 installed, 1 failed, 2 cancelled: posted with WM_QUIT when the window is destroyed.
    int exit_code = 0;

    // The control that gets the focus back when the window is activated again.
    HWND focus = nullptr;
    // Tells screen readers about the status label's changes.
    StatusAnnouncement announcement;

    // Set while one of the window procedure's handlers runs on this record; the messages
    // its Win32 calls send meanwhile go to DefWindowProcW, except those the procedure answers
    // before any handler: the static controls' colours, and the window's first and last
    // messages.
    bool handler_running = false;
};

// The DPI the window's lengths are scaled for (the monitor's, grown for a large message font).
inline std::uint32_t layout_dpi(const InstallerWindow& window) {
    return layout_dpi(window.dpi, window.message_font_height);
}

// Binds the record to its main window (nullptr unbinds it): from then on the window procedure
// works on it. The procedure binds the record passed to CreateWindowExW at WM_NCCREATE and
// unbinds it at WM_NCDESTROY, so the record outlives the binding.
void bind_record(HWND hwnd, InstallerWindow* window);
// The record bound to the window, or nullptr.
InstallerWindow* bound_record(HWND hwnd);

}  // namespace vantile
