#include "ui/window_procedure.h"

#include <windows.h>
#include <commctrl.h>

#include <variant>

#include "ui/start_attempt.h"
#include "ui/window_creation.h"
#include "ui/window_messages.h"
#include "ui/window_record.h"
#include "windows/wide_text.h"

namespace vantile {

std::atomic<std::int32_t> window_exit_code{0};

namespace {

void set_text(HWND control, std::string_view text) {
    SetWindowTextW(control, to_wide(text).c_str());
}

void set_progress(const InstallerWindow& window, WPARAM position) {
    SendMessageW(window.progress_bar, PBM_SETPOS, position, 0);
}

// A static control paints at once when its text changes, and the colour it asks for while
// a handler runs comes from DefWindowProcW (the dialog face, not the window colour). The
// window is therefore painted again once the handler has returned.
void repaint_after_handler(const InstallerWindow& window) {
    RedrawWindow(window.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// Marks the record as in use for the length of one handler.
class HandlerScope {
  public:
    explicit HandlerScope(InstallerWindow& window) : window_(window) {
        window_.handler_running = true;
    }
    ~HandlerScope() { window_.handler_running = false; }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

  private:
    InstallerWindow& window_;
};

LRESULT on_dpi_changed(InstallerWindow& window, WPARAM wparam, LPARAM lparam) {
    window.dpi = HIWORD(wparam);
    // Windows always suggests a rectangle; a stray message without one only re-lays out.
    if (const RECT* suggested = reinterpret_cast<const RECT*>(lparam))
        SetWindowPos(window.hwnd, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    WindowFonts fonts = create_fonts(window.dpi);
    UniqueFont old_body = std::exchange(window.body_font, std::move(fonts.body_font));
    UniqueFont old_status = std::exchange(window.status_font, std::move(fonts.status_font));
    layout_controls(window);
    // The controls use the new fonts now, so the old ones can go.
    old_body.reset();
    old_status.reset();
    repaint_after_handler(window);
    return 0;
}

LRESULT on_install_step(InstallerWindow& window, WPARAM wparam) {
    window.step = step_from_message(wparam);
    if (window.phase == WindowPhase::Running) show_step(window);
    // The bar is full while the archive is unpacked and the app's installer runs.
    if (window.step == InstallStep::Unpacking || window.step == InstallStep::Installing)
        set_progress(window, 1000);
    return 0;
}

LRESULT on_install_done(InstallerWindow& window) {
    if (window.worker) {
        UniqueHandle worker = std::move(window.worker);
        // The worker posted this as its last act; it ends in a moment.
        WaitForSingleObject(worker.get(), INFINITE);
    }
    std::optional<AttemptReport> report = window.outcome_slot->take();
    if (!report) return 0;  // a repeated message
    const DoneAction action = done_action(window.phase, *report);
    window_exit_code.store(action.exit_code);
    if (!action.show_result) {
        DestroyWindow(window.hwnd);
        return 0;
    }
    if (action.show_window) ShowWindow(window.hwnd, SW_SHOW);
    window.phase = WindowPhase::Finished;
    show_result(window, *report);
    return 0;
}

LRESULT on_command(InstallerWindow& window, WPARAM wparam) {
    switch (LOWORD(wparam)) {
        case IDCANCEL:
        case ID_CANCEL_BUTTON:
            cancel_or_close(window);
            break;
        case ID_TRY_AGAIN_BUTTON:
            if (window.phase == WindowPhase::Finished) start_attempt(window);
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace

void show_step(InstallerWindow& window) {
    set_text(window.status_label, status_text(window.step));
    ShowWindow(window.progress_bar, SW_SHOW);
    ShowWindow(window.details_box, SW_HIDE);
    set_text(window.cancel_button, "Cancel");
    ShowWindow(window.cancel_button, SW_SHOW);
    EnableWindow(window.cancel_button, window.step != InstallStep::Installing);
    ShowWindow(window.try_again_button, SW_HIDE);
    repaint_after_handler(window);
}

void show_result(InstallerWindow& window, const AttemptReport& report) {
    const bool failed = std::holds_alternative<Failed>(report.outcome);
    set_text(window.status_label, result_headline(report.outcome));
    ShowWindow(window.progress_bar, SW_HIDE);
    set_text(window.details_box, join_details_lines(result_details_lines(report)));
    ShowWindow(window.details_box, SW_SHOW);
    set_text(window.cancel_button, "Close");
    EnableWindow(window.cancel_button, TRUE);
    set_text(window.try_again_button, "Try again");
    ShowWindow(window.try_again_button, failed ? SW_SHOW : SW_HIDE);
    SetFocus(failed ? window.try_again_button : window.cancel_button);
    repaint_after_handler(window);
}

void cancel_or_close(InstallerWindow& window) {
    switch (close_action(window.phase, window.step)) {
        case CloseAction::Destroy:
            DestroyWindow(window.hwnd);
            break;
        case CloseAction::Nothing:
            break;
        case CloseAction::RequestCancel:
            window.phase = WindowPhase::Cancelling;
            window.cancel_requested->store(true);
            ShowWindow(window.hwnd, SW_HIDE);
            break;
    }
}

LRESULT CALLBACK installer_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    // Handled even while a handler runs: DestroyWindow is called from inside them.
    if (message == WM_DESTROY) {
        PostQuitMessage(window_exit_code.load());
        return 0;
    }
    InstallerWindow* window = installer_window_record();
    if (!window || window->handler_running) return DefWindowProcW(hwnd, message, wparam, lparam);

    switch (message) {
        case WM_CLOSE: {
            // Never passed on, so the close box does not destroy the window by itself.
            HandlerScope scope(*window);
            cancel_or_close(*window);
            return 0;
        }
        case WM_COMMAND: {
            HandlerScope scope(*window);
            return on_command(*window, wparam);
        }
        case WM_CTLCOLORSTATIC: {
            // The status label and the read-only details box take the window's colour
            // instead of the dialog face colour.
            HandlerScope scope(*window);
            SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        case WM_DPICHANGED: {
            HandlerScope scope(*window);
            return on_dpi_changed(*window, wparam, lparam);
        }
        case WM_INSTALL_STEP: {
            HandlerScope scope(*window);
            return on_install_step(*window, wparam);
        }
        case WM_INSTALL_PROGRESS: {
            HandlerScope scope(*window);
            set_progress(*window, wparam);
            return 0;
        }
        case WM_INSTALL_DONE: {
            HandlerScope scope(*window);
            return on_install_done(*window);
        }
        default:
            return DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

}  // namespace vantile
