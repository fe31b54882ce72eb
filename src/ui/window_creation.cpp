#include "ui/window_creation.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <utility>

#include "ui/installer_window.h"
#include "ui/window_procedure.h"
#include "windows/optional_export.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// Functions that newer Windows versions added, looked up afresh on every call.
template <class Function>
Function user32_function(const char* name) {
    return optional_export<Function>(L"user32.dll", name);
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetDpiForSystemFunction = UINT(WINAPI*)();
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using SystemParametersInfoForDpiFunction = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);

void register_window_class(HINSTANCE instance) {
    WNDCLASSEXW window_class{};
    static_assert(sizeof(window_class) == 80);
    window_class.cbSize = sizeof(window_class);
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = installer_window_proc;
    window_class.hInstance = instance;
    HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    window_class.hIcon = icon;
    window_class.hIconSm = icon;
    window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    window_class.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    window_class.lpszClassName = WINDOW_CLASS_NAME;
    // A failed registration shows up as a window that cannot be created.
    RegisterClassExW(&window_class);
}

void create_controls(InstallerWindow& window) {
    window.status_label = create_control(window.hwnd, L"STATIC", "", WS_VISIBLE | SS_NOPREFIX, 0);
    window.progress_bar = create_control(window.hwnd, PROGRESS_CLASSW, "", WS_VISIBLE, 0);
    // A tab stop, so that a keyboard user can reach the failure text, select and copy it.
    window.details_box =
        create_control(window.hwnd, L"EDIT", "",
                       WS_TABSTOP | WS_VSCROLL | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE, 0);
    // Tab follows the creation order: the buttons in reading order, Try again left of Close.
    window.try_again_button = create_control(window.hwnd, L"BUTTON", "Try again",
                                             WS_TABSTOP | BS_PUSHBUTTON, ID_TRY_AGAIN_BUTTON);
    window.cancel_button =
        create_control(window.hwnd, L"BUTTON", "Cancel", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                       ID_CANCEL_BUTTON);
}

void place_control(HWND control, WindowControl which, std::uint32_t dpi) {
    const LayoutRect rect = control_rect(which, dpi);
    SetWindowPos(control, nullptr, rect.x, rect.y, rect.width, rect.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND control_handle(const InstallerWindow& window, WindowControl which) {
    switch (which) {
        case WindowControl::StatusLabel:
            return window.status_label;
        case WindowControl::ProgressBar:
            return window.progress_bar;
        case WindowControl::DetailsBox:
            return window.details_box;
        case WindowControl::CancelButton:
            return window.cancel_button;
        case WindowControl::TryAgainButton:
            return window.try_again_button;
    }
    return nullptr;
}

void send_font(HWND control, const UniqueFont& font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), 1);
}

}  // namespace

std::uint32_t dpi_for_window(HWND window) {
    auto get_dpi_for_window =
        window ? user32_function<GetDpiForWindowFunction>("GetDpiForWindow") : nullptr;
    auto get_dpi_for_system = user32_function<GetDpiForSystemFunction>("GetDpiForSystem");
    UINT dpi = BASE_DPI;
    if (get_dpi_for_window)
        dpi = get_dpi_for_window(window);
    else if (get_dpi_for_system)
        dpi = get_dpi_for_system();
    return dpi == 0 ? BASE_DPI : dpi;
}

std::optional<ScreenEdges> read_work_area() {
    RECT area{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return std::nullopt;
    return ScreenEdges{area.left, area.top, area.right, area.bottom};
}

LayoutRect window_rect_for_dpi(std::uint32_t dpi, std::uint32_t layout_dpi,
                               const std::optional<ScreenEdges>& work_area) {
    const LayoutRect client = client_rect(layout_dpi);
    RECT rect{0, 0, client.width, client.height};
    if (auto adjust = user32_function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi"))
        adjust(&rect, MAIN_WINDOW_STYLE, FALSE, 0, dpi);
    else
        AdjustWindowRectEx(&rect, MAIN_WINDOW_STYLE, FALSE, 0);
    return centred_window_rect(work_area, rect.right - rect.left, rect.bottom - rect.top);
}

namespace {

// The system message font for the DPI. On failure the record stays zero-filled and the
// font is made from that.
LOGFONTW message_font(std::uint32_t dpi) {
    NONCLIENTMETRICSW metrics{};
    static_assert(sizeof(metrics) == 504);
    metrics.cbSize = sizeof(metrics);
    if (auto for_dpi =
            user32_function<SystemParametersInfoForDpiFunction>("SystemParametersInfoForDpi"))
        for_dpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi);
    else
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    return metrics.lfMessageFont;
}

}  // namespace

std::int32_t message_font_height(std::uint32_t dpi) {
    return std::abs(message_font(dpi).lfHeight);
}

WindowFonts create_fonts(std::uint32_t dpi) {
    const LOGFONTW regular = message_font(dpi);
    LOGFONTW semibold = regular;
    semibold.lfWeight = 600;
    return {UniqueFont(CreateFontIndirectW(&regular)), UniqueFont(CreateFontIndirectW(&semibold)),
            std::abs(regular.lfHeight)};
}

HWND create_control(HWND parent, const wchar_t* window_class, std::string_view text, DWORD style,
                    int id) {
    return CreateWindowExW(0, window_class, to_wide(text).c_str(), style | WS_CHILD, 0, 0, 0, 0,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

void layout_controls(InstallerWindow& window) {
    for (const LayoutEntry& entry : LAYOUT_TABLE)
        place_control(control_handle(window, entry.control), entry.control, layout_dpi(window));
    send_font(window.status_label, window.status_font);
    send_font(window.details_box, window.body_font);
    send_font(window.cancel_button, window.body_font);
    send_font(window.try_again_button, window.body_font);
}

std::unique_ptr<InstallerWindow> create_installer_window(const ManifestSource& manifest_source,
                                                         std::shared_ptr<SharedLog> log,
                                                         InstallOperations& operations) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    HINSTANCE instance = GetModuleHandleW(nullptr);
    register_window_class(instance);

    const std::optional<ScreenEdges> work_area = read_work_area();
    const std::uint32_t system_dpi = dpi_for_window(nullptr);
    const LayoutRect first = window_rect_for_dpi(
        system_dpi, layout_dpi(system_dpi, message_font_height(system_dpi)), work_area);
    HWND hwnd = CreateWindowExW(0, WINDOW_CLASS_NAME, to_wide(INSTALLER_WINDOW_TITLE).c_str(),
                                MAIN_WINDOW_STYLE, first.x, first.y, first.width, first.height,
                                nullptr, nullptr, instance, nullptr);
    if (!hwnd) return nullptr;

    auto window = std::make_unique<InstallerWindow>();
    window->hwnd = hwnd;
    // The window may have landed on a monitor with another DPI than the system's.
    window->dpi = dpi_for_window(hwnd);
    WindowFonts fonts = create_fonts(window->dpi);
    window->body_font = std::move(fonts.body_font);
    window->status_font = std::move(fonts.status_font);
    window->message_font_height = fonts.message_font_height;

    const LayoutRect placed = window_rect_for_dpi(window->dpi, layout_dpi(*window), work_area);
    // Without a work area the position stays where Windows put the window: CW_USEDEFAULT
    // means something only to CreateWindowExW, and SetWindowPos would take it literally.
    const UINT keep_position = placed.x == DEFAULT_WINDOW_POSITION ? SWP_NOMOVE : 0;
    SetWindowPos(hwnd, nullptr, placed.x, placed.y, placed.width, placed.height,
                 SWP_NOZORDER | SWP_NOACTIVATE | keep_position);
    create_controls(*window);

    window->manifest_source = manifest_source;
    window->log = std::move(log);
    window->operations = &operations;
    window->phase = WindowPhase::Running;
    window->step = InstallStep::Checking;
    window->focus = window->cancel_button;
    window->announcement.attach(window->status_label, window->progress_bar);

    SendMessageW(window->progress_bar, PBM_SETRANGE32, 0, 1000);
    layout_controls(*window);
    return window;
}

void close_installer_window(std::unique_ptr<InstallerWindow> window) {
    if (window->worker) WaitForSingleObject(window->worker.get(), INFINITE);
    window->body_font.reset();
    window->status_font.reset();
}

}  // namespace vantile
