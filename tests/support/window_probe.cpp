// Looks at and drives the installer window of another process, for the end-to-end tests.
// Prints one JSON object on standard output (a GUI program under Wine still writes to the
// handle it inherited).
//
//   window_probe state                    the window, its controls, focus and progress bar
//                                         (fonts: WM_GETFONT is not answered across
//                                         processes under Wine, so "font" may be null)
//   window_probe click <id>               BM_CLICK on the control with that id
//   window_probe command <id>             post WM_COMMAND with that id to the window
//   window_probe escape                   post Esc to the focused control, as a key press
//   window_probe key <vk>                 post that key (virtual-key code, decimal) the same way
//   window_probe textfit [label text]     each visible control's text measured in the font
//                                         it is drawn with (the message font of this
//                                         process, semibold for the label), against the
//                                         control; with a text, that one in the label's font
//   window_probe close                    post WM_CLOSE
//   window_probe sysclose                 post WM_SYSCOMMAND SC_CLOSE (close box, Alt+F4)
//   window_probe post <message> <wparam>  post any message (numbers in decimal)
//   window_probe dpichanged <dpi> <left> <top> <right> <bottom>
//                                         send WM_DPICHANGED with that suggested rectangle
//   window_probe errorbox [dismiss]       the "Install Vantile" message box's texts
//   window_probe lock                     whether an installer holds the single-instance lock
//   window_probe desktop                  whether Wine's desktop could be used ("desktop":
//                                         false when Wine gave up waiting for its explorer),
//                                         then holds it open until standard input ends
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "shell/startup.h"
#include "support_text.h"
#include "ui/installer_window.h"
#include "windows/unique_handle.h"

using support::json_string;
using support::print;
using support::utf8;

namespace {

constexpr UINT TIMEOUT_MS = 5000;

LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, TIMEOUT_MS, &result);
    return static_cast<LRESULT>(result);
}

// WM_GETTEXT is carried across processes; GetWindowTextW would not read a control's text.
std::wstring window_text(HWND window) {
    LRESULT length = send(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
    send(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return buffer.data();
}

std::wstring class_name(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

std::string rect_json(const RECT& rect) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "[%ld, %ld, %ld, %ld]", rect.left, rect.top,
                  rect.right - rect.left, rect.bottom - rect.top);
    return buffer;
}

std::string number(long long value) {
    return std::to_string(value);
}
std::string boolean(bool value) {
    return value ? "true" : "false";
}

HWND find_installer() {
    return FindWindowW(vantile::WINDOW_CLASS_NAME, nullptr);
}

HWND focused_window(HWND main) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

std::string font_json(HWND control) {
    HFONT font = reinterpret_cast<HFONT>(send(control, WM_GETFONT, 0, 0));
    if (!font) return "null";
    LOGFONTW log_font{};
    std::string out = "{\"handle\": " + number(reinterpret_cast<intptr_t>(font));
    if (GetObjectW(font, sizeof(log_font), &log_font) == sizeof(log_font)) {
        out += ", \"height\": " + number(log_font.lfHeight) +
               ", \"weight\": " + number(log_font.lfWeight) +
               ", \"face\": " + json_string(log_font.lfFaceName);
    }
    return out + "}";
}

std::string control_json(HWND main, HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&rect), 2);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    std::string out = "{";
    out += "\"class\": " + json_string(class_name(control));
    out += ", \"id\": " + number(GetDlgCtrlID(control));
    out += ", \"text\": " + json_string(window_text(control));
    out += ", \"visible\": " + boolean(style & WS_VISIBLE);
    out += ", \"enabled\": " + boolean(IsWindowEnabled(control));
    out += ", \"style\": " + number(static_cast<unsigned long>(style));
    out += ", \"rect\": " + rect_json(rect);
    out += ", \"font\": " + font_json(control);
    return out + "}";
}

int state() {
    HWND main = find_installer();
    if (!main) {
        print("{\"found\": false}");
        return 0;
    }
    RECT client{}, outer{};
    GetClientRect(main, &client);
    GetWindowRect(main, &outer);
    DWORD process_id = 0;
    GetWindowThreadProcessId(main, &process_id);
    HWND focus = focused_window(main);

    std::string out = "{\"found\": true";
    out += ", \"hwnd\": " + number(reinterpret_cast<intptr_t>(main));
    out += ", \"pid\": " + number(process_id);
    out += ", \"title\": " + json_string(window_text(main));
    out += ", \"visible\": " + boolean(IsWindowVisible(main));
    out += ", \"style\": " + number(static_cast<unsigned long>(GetWindowLongW(main, GWL_STYLE)));
    out +=
        ", \"exstyle\": " + number(static_cast<unsigned long>(GetWindowLongW(main, GWL_EXSTYLE)));
    out += ", \"client\": " + rect_json(client);
    out += ", \"window\": " + rect_json(outer);
    POINT origin{0, 0};
    ClientToScreen(main, &origin);
    out += ", \"client_origin\": [" + number(origin.x) + ", " + number(origin.y) + "]";
    out += ", \"foreground\": " + boolean(GetForegroundWindow() == main);
    RECT work{};
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        out += ", \"work_area\": " + rect_json(work);
    out += ", \"focus\": " + (focus ? number(GetDlgCtrlID(focus)) : std::string("null"));
    out += ", \"focus_class\": " + (focus ? json_string(class_name(focus)) : std::string("null"));

    std::string controls;
    HWND progress = nullptr;
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!controls.empty()) controls += ", ";
        controls += control_json(main, child);
        if (class_name(child) == L"msctls_progress32") progress = child;
    }
    out += ", \"controls\": [" + controls + "]";
    if (progress) {
        out += ", \"progress\": " + number(send(progress, PBM_GETPOS, 0, 0));
        out += ", \"progress_low\": " + number(send(progress, PBM_GETRANGE, TRUE, 0));
        out += ", \"progress_high\": " + number(send(progress, PBM_GETRANGE, FALSE, 0));
    }
    print(out + "}");
    return 0;
}

int fail(const char* why) {
    print(std::string("{\"ok\": false, \"error\": \"") + why + "\"}");
    return 1;
}

int ok() {
    print("{\"ok\": true}");
    return 0;
}

int click(int id) {
    HWND main = find_installer();
    if (!main) return fail("no window");
    HWND button = GetDlgItem(main, id);
    if (!button) return fail("no control");
    send(button, BM_CLICK, 0, 0);
    return ok();
}

int post(UINT message, WPARAM wparam, LPARAM lparam) {
    HWND main = find_installer();
    if (!main) return fail("no window");
    return PostMessageW(main, message, wparam, lparam) ? ok() : fail("post failed");
}

// The key goes where a real key press would: to the focused control, through the target's
// message loop, where IsDialogMessageW turns Esc into IDCANCEL, Tab into the next control
// and Enter into the default button.
int key(UINT virtual_key) {
    HWND main = find_installer();
    if (!main) return fail("no window");
    HWND target = focused_window(main);
    if (!target) target = main;
    const LPARAM down = 1 | (MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC) << 16);
    PostMessageW(target, WM_KEYDOWN, virtual_key, down);
    PostMessageW(target, WM_KEYUP, virtual_key, down | (1u << 30) | (1u << 31));
    return ok();
}

// The installer makes its fonts from the same system message font.
vantile::UniqueFont message_font(bool semibold) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    if (semibold) metrics.lfMessageFont.lfWeight = 600;
    return vantile::UniqueFont(CreateFontIndirectW(&metrics.lfMessageFont));
}

// The size the text needs: one line, or wrapped to the width when width > 0.
SIZE text_size(HFONT font, const std::wstring& text, LONG width) {
    HDC context = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(context, font);
    RECT rect{0, 0, width > 0 ? width : 100000, 0};
    const UINT wrap = width > 0 ? DT_WORDBREAK | DT_EDITCONTROL : DT_SINGLELINE;
    DrawTextW(context, text.c_str(), static_cast<int>(text.size()), &rect,
              DT_CALCRECT | DT_NOPREFIX | wrap);
    SelectObject(context, previous);
    ReleaseDC(nullptr, context);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

int text_fit(const wchar_t* label_text) {
    HWND main = find_installer();
    if (!main) return fail("no window");
    const vantile::UniqueFont body = message_font(false);
    const vantile::UniqueFont status = message_font(true);
    std::string controls;
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring kind = class_name(child);
        if (!IsWindowVisible(child) || kind == L"msctls_progress32") continue;
        const bool label = _wcsicmp(kind.c_str(), L"Static") == 0;
        const bool edit = _wcsicmp(kind.c_str(), L"Edit") == 0;
        const std::wstring text = label && label_text ? label_text : window_text(child);
        RECT client{};
        GetClientRect(child, &client);
        // An edit control wraps its lines inside its formatting rectangle.
        RECT format = client;
        if (edit)
            SendMessageTimeoutW(child, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format),
                                SMTO_ABORTIFHUNG, TIMEOUT_MS, nullptr);
        const SIZE need =
            text_size((label ? status : body).get(), text, edit ? format.right - format.left : 0);
        if (!controls.empty()) controls += ", ";
        controls += "{\"class\": " + json_string(kind) + ", \"text\": " + json_string(text) +
                    ", \"client\": [" + number(client.right) + ", " + number(client.bottom) +
                    "], \"format\": " + rect_json(format) + ", \"need\": [" + number(need.cx) +
                    ", " + number(need.cy) + "]}";
    }
    print("{\"ok\": true, \"controls\": [" + controls + "]}");
    return 0;
}

// The rectangle lives in the target's address space, where its window procedure reads it.
int dpi_changed(UINT dpi, const RECT& suggested) {
    HWND main = find_installer();
    if (!main) return fail("no window");
    DWORD process_id = 0;
    GetWindowThreadProcessId(main, &process_id);
    vantile::UniqueHandle process(
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process_id));
    if (!process) return fail("OpenProcess");
    void* remote = VirtualAllocEx(process.get(), nullptr, sizeof(RECT), MEM_COMMIT | MEM_RESERVE,
                                  PAGE_READWRITE);
    if (!remote) return fail("VirtualAllocEx");
    WriteProcessMemory(process.get(), remote, &suggested, sizeof(suggested), nullptr);
    send(main, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    return ok();
}

struct BoxSearch {
    HWND found = nullptr;
};

BOOL CALLBACK find_box(HWND window, LPARAM parameter) {
    if (class_name(window) == L"#32770" && window_text(window) == L"Install Vantile") {
        reinterpret_cast<BoxSearch*>(parameter)->found = window;
        return FALSE;
    }
    return TRUE;
}

int error_box(bool dismiss) {
    BoxSearch search;
    EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
        print("{\"found\": false}");
        return 0;
    }
    std::string texts, buttons;
    for (HWND child = GetWindow(search.found, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring kind = class_name(child);
        std::string* list = _wcsicmp(kind.c_str(), L"Static") == 0   ? &texts
                            : _wcsicmp(kind.c_str(), L"Button") == 0 ? &buttons
                                                                     : nullptr;
        if (!list) continue;
        const std::wstring text = window_text(child);
        if (text.empty()) continue;
        if (!list->empty()) *list += ", ";
        *list += json_string(text);
    }
    DWORD process_id = 0;
    GetWindowThreadProcessId(search.found, &process_id);
    print("{\"found\": true, \"pid\": " + number(process_id) +
          ", \"visible\": " + boolean(IsWindowVisible(search.found)) +
          ", \"owner\": " + boolean(GetWindow(search.found, GW_OWNER) != nullptr) +
          ", \"texts\": [" + texts + "], \"buttons\": [" + buttons + "]}");
    if (dismiss) PostMessageW(search.found, WM_COMMAND, IDOK, 0);
    return 0;
}

int lock() {
    vantile::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, vantile::SINGLE_INSTANCE_MUTEX));
    print(std::string("{\"held\": ") + boolean(static_cast<bool>(mutex)) + "}");
    return 0;
}

// Wine's explorer, which loads the display driver, serves a desktop only while some process
// uses it and is started again by the next program; a program started while it was starting
// again was seen with no windows at all. A process that holds the desktop keeps the explorer.
int desktop() {
    HWND window = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    const bool usable = window != nullptr;
    if (window) DestroyWindow(window);
    print(std::string("{\"desktop\": ") + boolean(usable) + "}");
    // The thread stays on the desktop until the process ends; no window is left to answer
    // messages that others broadcast.
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) &&
           read > 0) {
    }
    return usable ? 0 : 2;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 2) return fail("usage");
    const std::wstring command = arguments[1];
    auto integer = [&](int index) -> long {
        return index < count ? std::wcstol(arguments[index], nullptr, 10) : 0;
    };
    if (command == L"state") return state();
    if (command == L"click") return click(static_cast<int>(integer(2)));
    if (command == L"command") return post(WM_COMMAND, static_cast<WPARAM>(integer(2)), 0);
    if (command == L"escape") return key(VK_ESCAPE);
    if (command == L"key") return key(static_cast<UINT>(integer(2)));
    if (command == L"textfit") return text_fit(count > 2 ? arguments[2] : nullptr);
    if (command == L"close") return post(WM_CLOSE, 0, 0);
    if (command == L"sysclose") return post(WM_SYSCOMMAND, SC_CLOSE, 0);
    if (command == L"post")
        return post(static_cast<UINT>(integer(2)), static_cast<WPARAM>(integer(3)), 0);
    if (command == L"dpichanged") {
        RECT suggested{integer(3), integer(4), integer(5), integer(6)};
        return dpi_changed(static_cast<UINT>(integer(2)), suggested);
    }
    if (command == L"lock") return lock();
    if (command == L"desktop") return desktop();
    if (command == L"errorbox")
        return error_box(count > 2 && std::wstring(arguments[2]) == L"dismiss");
    return fail("unknown command");
}
