#include "ui/installer_window.h"

#include <windows.h>

#include <utility>

#include "ui/start_attempt.h"
#include "ui/window_creation.h"
#include "ui/window_messages.h"
#include "ui/window_record.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

thread_local InstallerWindow* current_record = nullptr;

}  // namespace

InstallerWindow* installer_window_record() {
    return current_record;
}
void set_installer_window_record(InstallerWindow* window) {
    current_record = window;
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
    std::unique_ptr<InstallerWindow> window = create_installer_window(
        manifest_source, std::make_shared<SharedLog>(std::move(log)), operations);
    if (!window) {
        show_error_dialog("Vantile could not open its installer window.");
        return 1;
    }
    const HWND hwnd = window->hwnd;

    set_installer_window_record(window.get());
    start_attempt(*window);
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);

    MSG message{};
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        if (IsDialogMessageW(hwnd, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    set_installer_window_record(nullptr);
    close_installer_window(std::move(window));
    // A failed GetMessageW leaves the previous message in place, whose wParam means
    // nothing; the code the window procedure recorded is the sound answer then.
    if (got < 0) return window_exit_code.load();
    return static_cast<std::int32_t>(message.wParam);
}

}  // namespace vantile
