#pragma once
#include <memory>
#include <string_view>

#include "../flow/sources.h"
#include "../install_log.h"

namespace vantile {

// Builds the window, starts the first attempt, runs the message loop; returns the exit code.
int run_installer_window(const ManifestSource& manifest_source, InstallLog log);

// A modal error box with the caption "Install Vantile", owned by no window.
void show_error_dialog(std::string_view text);

}  // namespace vantile
