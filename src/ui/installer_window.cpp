#include "ui/installer_window.h"

#include <windows.h>

#include <utility>

#include "ui/start_attempt.h"
#include "ui/window_creation.h"
#include "ui/window_procedure.h"
#include "ui/installer_window_record.h"
#include "windows/wide_text.h"

namespace vantile {

void bind_record(HWND hwnd, InstallerWindow* window) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
}
InstallerWindow* bound_record(HWND hwnd) {
    return reinterpret_cast<InstallerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void bring_running_window_forward() {
    if (HWND window = FindWindowW(WINDOW_CLASS_NAME, nullptr)) {
        ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
    }
}

void show_error_dialog(std::string_view text) {
    MessageBoxW(nullptr, to_wide(text).c_str(), to_wide(INSTALLER_WINDOW_TITLE).c_str(),
                MB_ICONERROR | MB_SETFOREGROUND);
}

int run_installer_window(const ManifestSource& manifest_source, std::unique_ptr<LineLog> log,
                         InstallOperations& operations) {
    // Outlives the window's record, whose accessibility annotations live in it.
    ComApartment apartment;
    std::unique_ptr<InstallerWindow> window = create_installer_window(
        manifest_source, std::make_shared<SharedLog>(std::move(log)), operations);
    if (!window) {
        // A window whose creation failed still had its end, and the quit it posted would
        // close the box at once.
        MSG quit;
        PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        show_error_dialog("Vantile could not open its installer window.");
        return 1;
    }
    const HWND hwnd = window->hwnd;

    start_attempt(*window);
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    // Activation gave the focus to Cancel already where the window became the active one;
    // a keyboard user starts there in any case.
    SetFocus(window->cancel_button);

    const int exit_code = run_message_loop(*window);
    close_installer_window(std::move(window));
    return exit_code;
}

}  // namespace vantile
