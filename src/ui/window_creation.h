#pragma once
// Building the installer window and its controls for a DPI, and taking it down.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "flow/install_operations.h"
#include "flow/sources.h"
#include "ui/portable/window_layout.h"
#include "ui/installer_window_record.h"
#include "windows/unique_handle.h"

namespace vantile {

// The DPI of the window's monitor, or the system DPI for no window; never 0.
std::uint32_t dpi_for_window(HWND window);
// The primary monitor's work area, read once per window.
std::optional<ScreenEdges> read_work_area();
// The main window's outer rectangle for the DPI: a client area for the layout DPI (the
// monitor's, or larger for a large message font) in a frame for the monitor's DPI, centred in
// the work area.
LayoutRect window_rect_for_dpi(std::uint32_t dpi, std::uint32_t layout_dpi,
                               const std::optional<ScreenEdges>& work_area);

struct WindowFonts {
    UniqueFont body_font;
    UniqueFont status_font;
    std::int32_t message_font_height = 0;  // in pixels, 0 when the metrics were not read
};
// The system message font's height in pixels for the DPI.
std::int32_t message_font_height(std::uint32_t dpi);
// The system message font for the DPI, regular and semibold; owned by the caller.
WindowFonts create_fonts(std::uint32_t dpi);

HWND create_control(HWND parent, const wchar_t* window_class, std::string_view text, DWORD style,
                    int id);
// Places the five controls for the record's layout DPI and sends each its font.
void layout_controls(InstallerWindow& window);

// Registers the class and builds the hidden window with its controls, fonts and layout for
// the DPI of the monitor it lands on; nothing when the window cannot be created.
std::unique_ptr<InstallerWindow> create_installer_window(const ManifestSource& manifest_source,
                                                         std::shared_ptr<SharedLog> log,
                                                         InstallOperations& operations);
// The end of the window's life: waits for a worker that still runs, then deletes the fonts.
void close_installer_window(std::unique_ptr<InstallerWindow> window);

}  // namespace vantile
