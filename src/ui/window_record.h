#pragma once
// The UI thread's record of the installer window.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "flow/install_operations.h"
#include "flow/outcome_report.h"
#include "flow/sources.h"
#include "ui/portable/window_layout.h"
#include "ui/portable/window_state.h"
#include "ui/shared_attempt.h"
#include "windows/unique_handle.h"

namespace vantile {

inline constexpr int ID_CANCEL_BUTTON = 101;
inline constexpr int ID_TRY_AGAIN_BUTTON = 102;
inline constexpr DWORD MAIN_WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

struct InstallerWindow {
    ManifestSource manifest_source;  // each attempt gets a copy
    std::shared_ptr<std::atomic<bool>> cancel_requested;
    std::shared_ptr<OutcomeSlot> outcome_slot;
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

    UniqueHandle worker;  // the current attempt's thread; empty when there is none
    std::uint32_t dpi = BASE_DPI;
    WindowPhase phase = WindowPhase::Running;
    InstallStep step = InstallStep::Checking;

    // Set while one of the window procedure's handlers runs on this record; the messages
    // its Win32 calls send meanwhile go to DefWindowProcW.
    bool handler_running = false;
};

// The record the window procedure works on: set between the window's construction and
// the end of its message loop, on the UI thread only.
InstallerWindow* installer_window_record();
void set_installer_window_record(InstallerWindow* window);

}  // namespace vantile
