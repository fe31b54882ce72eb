#include "installer_window.h"
// Placeholder until the window is built.
#include <windows.h>

#include "../windows/wide.h"

namespace vantile {
int run_installer_window(const ManifestSource&, InstallLog) {
    show_error_dialog("Vantile could not open its installer window.");
    return 1;
}
void show_error_dialog(std::string_view text) {
    MessageBoxW(nullptr, to_wide(text).c_str(), L"Install Vantile", MB_ICONERROR | MB_SETFOREGROUND);
}
}  // namespace vantile
