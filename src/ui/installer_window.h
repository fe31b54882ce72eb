#pragma once
// The installer window as the rest of the program sees it.
#include <memory>
#include <string_view>

#include "flow/install_operations.h"
#include "flow/line_log.h"
#include "flow/sources.h"

namespace vantile {

inline constexpr const wchar_t* WINDOW_CLASS_NAME = L"VantileInstallWindow";
inline constexpr const char* INSTALLER_WINDOW_TITLE = "Install Vantile";

// Builds the window, starts the first attempt on `operations` (which outlive the window and
// its workers), runs the message loop; returns the exit code.
int run_installer_window(const ManifestSource& manifest_source, std::unique_ptr<LineLog> log,
                         InstallOperations& operations);

// A modal error box with the caption "Install Vantile", owned by no window.
void show_error_dialog(std::string_view text);

// Restores and raises the window of the copy that is already running, if it has one.
void bring_running_window_forward();

}  // namespace vantile
