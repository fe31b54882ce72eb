#pragma once
// The installer window's procedure and the changes it makes to the window.
#include <windows.h>

#include "flow/outcome_report.h"
#include "ui/installer_window_record.h"

namespace vantile {

LRESULT CALLBACK installer_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
void show_step(InstallerWindow& window);
void show_result(InstallerWindow& window, const AttemptReport& report);
void cancel_or_close(InstallerWindow& window);
// Runs the thread's messages until the window is destroyed; returns the exit code.
int run_message_loop(InstallerWindow& window);

}  // namespace vantile
