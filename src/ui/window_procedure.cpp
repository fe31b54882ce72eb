#include "ui/window_procedure.h"

#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <variant>

#include "ui/start_attempt.h"
#include "ui/window_creation.h"
#include "ui/window_messages.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

void set_text(HWND control, std::string_view text) {
    SetWindowTextW(control, to_wide(text).c_str());
}

void set_status(InstallerWindow& window, std::string_view text) {
    set_text(window.status_label, text);
    window.announcement.status_changed(text);
}

void set_progress(const InstallerWindow& window, WPARAM position) {
    SendMessageW(window.progress_bar, PBM_SETPOS, position, 0);
}

bool can_take_focus(HWND control) {
    return control && IsWindowVisible(control) && IsWindowEnabled(control);
}

// Gives the focus to a control now if the window is the active one, and in any case when the
// window is activated again.
void focus_control(InstallerWindow& window, HWND control) {
    window.focus = control;
    if (GetActiveWindow() == window.hwnd && can_take_focus(control)) SetFocus(control);
}

// The button that Enter presses: the focused one, else Cancel (or Close).
int default_button_id(const InstallerWindow& window) {
    const HWND focus = GetFocus();
    if (focus == window.try_again_button && can_take_focus(focus)) return ID_TRY_AGAIN_BUTTON;
    return ID_CANCEL_BUTTON;
}

// The status label and the read-only details box take the window's colours instead of the
// dialog face colour, text included, so a high-contrast scheme shows its own text colour on its
// own background. Nothing is read from the record, so the answer is the same while a handler
// runs (a static control asks as soon as a handler changes its text).
LRESULT static_control_colours(WPARAM wparam) {
    const HDC context = reinterpret_cast<HDC>(wparam);
    SetTextColor(context, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(context, GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

// The window's life begins bound to the record passed to CreateWindowExW.
void bind_created_record(HWND hwnd, const CREATESTRUCTW& creation) {
    auto* record = static_cast<InstallerWindow*>(creation.lpCreateParams);
    if (record) record->hwnd = hwnd;
    bind_record(hwnd, record);
}

// The window's last message, also when a handler destroyed it: the record is unbound and the
// message loop is told the exit code it holds (0 for a window without one).
void end_window_life(HWND hwnd) {
    const InstallerWindow* record = bound_record(hwnd);
    bind_record(hwnd, nullptr);
    PostQuitMessage(record ? record->exit_code : 0);
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

// New fonts for the record's DPI are applied before the old ones are deleted; a message font
// of another size resizes the window (keeping its top-left corner) and its layout with it.
void apply_new_fonts(InstallerWindow& window, bool resize_window) {
    WindowFonts fonts = create_fonts(window.dpi);
    UniqueFont old_body = std::exchange(window.body_font, std::move(fonts.body_font));
    UniqueFont old_status = std::exchange(window.status_font, std::move(fonts.status_font));
    window.message_font_height = fonts.message_font_height;
    if (resize_window) {
        const LayoutRect size = window_rect_for_dpi(window.dpi, layout_dpi(window), std::nullopt);
        SetWindowPos(window.hwnd, nullptr, 0, 0, size.width, size.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    layout_controls(window);
    // The controls use the new fonts now, so the old ones can go.
    old_body.reset();
    old_status.reset();
}

LRESULT on_dpi_changed(InstallerWindow& window, WPARAM wparam, LPARAM lparam) {
    window.dpi = HIWORD(wparam);
    // Windows always suggests a rectangle; a stray message without one only re-lays out.
    if (const RECT* suggested = reinterpret_cast<const RECT*>(lparam))
        SetWindowPos(window.hwnd, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    apply_new_fonts(window, false);
    return 0;
}

// A colour scheme, theme or font change while the window is open.
LRESULT on_look_changed(InstallerWindow& window, UINT message) {
    // The progress bar takes its colours from the system too, but hears of a change only
    // from its parent.
    if (message == WM_SYSCOLORCHANGE) SendMessageW(window.progress_bar, WM_SYSCOLORCHANGE, 0, 0);
    apply_new_fonts(window, true);
    return 0;
}

LRESULT on_activate(InstallerWindow& window, WPARAM wparam) {
    if (LOWORD(wparam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus && IsChild(window.hwnd, focus)) window.focus = focus;
        return 0;
    }
    if (HIWORD(wparam) != 0) return 0;  // activated while minimised
    if (can_take_focus(window.focus))
        SetFocus(window.focus);
    else if (can_take_focus(window.cancel_button))
        SetFocus(window.cancel_button);
    else
        SetFocus(window.hwnd);  // keys still reach the window, and Esc its handler
    return 0;
}

// Tab and Shift+Tab from a control that keeps those keys for itself (the details box), and
// a request to focus a given control (Enter in the details box focuses the default button).
LRESULT on_next_control(InstallerWindow& window, WPARAM wparam, LPARAM lparam) {
    const HWND target = LOWORD(lparam) != 0
                            ? reinterpret_cast<HWND>(wparam)
                            : GetNextDlgTabItem(window.hwnd, GetFocus(), wparam != 0);
    if (!target || !IsChild(window.hwnd, target)) return 0;
    SetFocus(target);
    window.focus = target;
    if (target == window.details_box) SendMessageW(target, EM_SETSEL, 0, -1);
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
    // The attempt is over once its worker has ended; the message loop sends this message
    // again then, also when the worker's own post was lost.
    if (window.worker) {
        if (WaitForSingleObject(window.worker.get(), 0) == WAIT_TIMEOUT) return 0;
        window.worker.reset();
    }
    std::optional<AttemptReport> report = window.outcome_slot->take();
    if (!report) return 0;  // a repeated message
    const DoneAction action = done_action(window.phase, *report);
    window.exit_code = action.exit_code;
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
        case IDOK:
            // What IsDialogMessageW sends for Enter when it finds no default button.
            return on_command(window, static_cast<WPARAM>(default_button_id(window)));
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

// The messages the window handles itself; nothing for those that go to DefWindowProcW.
std::optional<LRESULT> handle_message(InstallerWindow& window, UINT message, WPARAM wparam,
                                      LPARAM lparam) {
    switch (message) {
        case WM_CLOSE:
            // Never passed on, so the close box does not destroy the window by itself.
            cancel_or_close(window);
            return 0;
        case WM_COMMAND:
            return on_command(window, wparam);
        case WM_DPICHANGED:
            return on_dpi_changed(window, wparam, lparam);
        case WM_SETTINGCHANGE:
        case WM_SYSCOLORCHANGE:
        case WM_THEMECHANGED:
            return on_look_changed(window, message);
        case WM_ACTIVATE:
            return on_activate(window, wparam);
        case DM_GETDEFID:
            // Enter presses the focused button, else the default one.
            return MAKELRESULT(default_button_id(window), DC_HASDEFID);
        case WM_NEXTDLGCTL:
            return on_next_control(window, wparam, lparam);
        case WM_INSTALL_STEP:
            return on_install_step(window, wparam);
        case WM_INSTALL_PROGRESS:
            set_progress(window, wparam);
            return 0;
        case WM_INSTALL_DONE:
            return on_install_done(window);
        default:
            return std::nullopt;
    }
}

}  // namespace

void show_step(InstallerWindow& window) {
    set_status(window, status_text(window.step));
    ShowWindow(window.progress_bar, SW_SHOW);
    ShowWindow(window.details_box, SW_HIDE);
    set_text(window.cancel_button, "Cancel");
    ShowWindow(window.cancel_button, SW_SHOW);
    EnableWindow(window.cancel_button, window.step != InstallStep::Installing);
    ShowWindow(window.try_again_button, SW_HIDE);
    // Cancel is the one control left to focus (none while it is greyed out).
    focus_control(window, window.cancel_button);
}

void show_result(InstallerWindow& window, const AttemptReport& report) {
    const bool failed = std::holds_alternative<Failed>(report.outcome);
    set_status(window, result_headline(report.outcome));
    ShowWindow(window.progress_bar, SW_HIDE);
    set_text(window.details_box, join_details_lines(result_details_lines(report)));
    ShowWindow(window.details_box, SW_SHOW);
    set_text(window.cancel_button, "Close");
    EnableWindow(window.cancel_button, TRUE);
    set_text(window.try_again_button, "Try again");
    ShowWindow(window.try_again_button, failed ? SW_SHOW : SW_HIDE);
    focus_control(window, failed ? window.try_again_button : window.cancel_button);
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

int run_message_loop(InstallerWindow& window) {
    MSG message{};
    for (;;) {
        // The worker's end is learnt from its thread, which cannot be lost as a posted message
        // can (a full queue refuses it): its report is then taken from the slot.
        const HANDLE worker = window.worker.get();
        const DWORD woken = MsgWaitForMultipleObjectsEx(worker ? 1 : 0, &worker, INFINITE,
                                                        QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (worker && woken == WAIT_OBJECT_0) {
            SendMessageW(window.hwnd, WM_INSTALL_DONE, 0, 0);
            // Taken by the handler; should the window be gone, the loop must not wake again.
            if (window.worker.get() == worker) window.worker.reset();
            continue;
        }
        // No wait possible: the code the window procedure recorded is the sound answer.
        if (woken == WAIT_FAILED) return window.exit_code;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return static_cast<std::int32_t>(message.wParam);
            if (IsDialogMessageW(window.hwnd, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

LRESULT CALLBACK installer_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CTLCOLORSTATIC:
            return static_control_colours(wparam);
        case WM_NCCREATE:
            bind_created_record(hwnd, *reinterpret_cast<const CREATESTRUCTW*>(lparam));
            return DefWindowProcW(hwnd, message, wparam, lparam);
        case WM_NCDESTROY:
            end_window_life(hwnd);
            return DefWindowProcW(hwnd, message, wparam, lparam);
        default:
            break;
    }
    InstallerWindow* window = bound_record(hwnd);
    if (!window || window->handler_running) return DefWindowProcW(hwnd, message, wparam, lparam);

    std::optional<LRESULT> result;
    {
        HandlerScope scope(*window);
        result = handle_message(*window, message, wparam, lparam);
    }
    // Outside the scope: what DefWindowProcW sends back (WM_CLOSE for the close box) is
    // handled like any other message.
    return result ? *result : DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace vantile
