// What a screen reader learns of the installer window of another process, for the
// end-to-end tests. Prints one JSON object on standard output.
//
//   accessibility_probe object <class>      name, value, role and state of the first control
//                                           of that window class, through the control's
//                                           standard accessible object
//   accessibility_probe listen <ms> [click <id>] [until <text>]
//                                           an out-of-context WinEvent hook on the
//                                           installer's process: every live-region change
//                                           (with the text of the control that raised it)
//                                           for up to <ms> milliseconds, after clicking the
//                                           button with that id; ends early once a changed
//                                           text equals <text>
#include <windows.h>
#include <oleacc.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "support_text.h"
#include "ui/installer_window.h"

using support::json_string;
using support::print;
using support::utf8;

namespace {

// mingw-w64's liboleacc.a resolves IID_IAccessible to other data: the interface's own GUID.
constexpr GUID ACCESSIBLE_INTERFACE = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr DWORD LIVE_REGION_CHANGED = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED

int fail(const char* why) {
    print(std::string("{\"ok\": false, \"error\": \"") + why + "\"}");
    return 1;
}

std::wstring class_name(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

// One WM_GETTEXT into a buffer of a fixed size: the text may change between two messages.
std::wstring window_text(HWND window) {
    std::vector<wchar_t> buffer(4096, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return buffer.data();
}

HWND find_installer() {
    return FindWindowW(vantile::WINDOW_CLASS_NAME, nullptr);
}

HWND find_control(HWND main, const std::wstring& wanted) {
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (_wcsicmp(class_name(child).c_str(), wanted.c_str()) == 0) return child;
    return nullptr;
}

// A BSTR answer as JSON: null when the object gave none.
std::string bstr_json(HRESULT result, BSTR text) {
    if (FAILED(result) || !text) return "null";
    std::string out = json_string(std::wstring(text, SysStringLen(text)));
    SysFreeString(text);
    return out;
}

int object(const std::wstring& wanted) {
    HWND main = find_installer();
    if (!main) return fail("no window");
    HWND control = find_control(main, wanted);
    if (!control) return fail("no control");
    IAccessible* accessible = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, OBJID_CLIENT, ACCESSIBLE_INTERFACE,
                                          reinterpret_cast<void**>(&accessible))) ||
        !accessible)
        return fail("AccessibleObjectFromWindow");
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    BSTR value = nullptr;
    // Each answer is read only after its call has filled it.
    const HRESULT named = accessible->get_accName(self, &name);
    const std::string name_json = bstr_json(named, name);
    const HRESULT valued = accessible->get_accValue(self, &value);
    const std::string value_json = bstr_json(valued, value);
    VARIANT role{};
    accessible->get_accRole(self, &role);
    VARIANT state{};
    accessible->get_accState(self, &state);
    accessible->Release();
    print("{\"ok\": true, \"name\": " + name_json + ", \"value\": " + value_json +
          ", \"role\": " + std::to_string(role.vt == VT_I4 ? role.lVal : -1) +
          ", \"state\": " + std::to_string(state.vt == VT_I4 ? state.lVal : -1) + "}");
    return 0;
}

struct Listening {
    std::string events;
    std::wstring until;
    bool done = false;
};
Listening listening;

void CALLBACK on_event(HWINEVENTHOOK, DWORD event, HWND window, LONG object_id, LONG child_id,
                       DWORD, DWORD) {
    if (event != LIVE_REGION_CHANGED || !window) return;
    const std::wstring text = window_text(window);
    if (!listening.events.empty()) listening.events += ", ";
    listening.events += "{\"class\": " + json_string(class_name(window)) +
                        ", \"object\": " + std::to_string(object_id) +
                        ", \"child\": " + std::to_string(child_id) +
                        ", \"text\": " + json_string(text) + "}";
    if (!listening.until.empty() && text == listening.until) listening.done = true;
}

int listen(DWORD milliseconds, int click_id, const std::wstring& until) {
    HWND main = find_installer();
    if (!main) return fail("no window");
    DWORD process_id = 0;
    GetWindowThreadProcessId(main, &process_id);
    listening.until = until;
    HWINEVENTHOOK hook = SetWinEventHook(LIVE_REGION_CHANGED, LIVE_REGION_CHANGED, nullptr,
                                         on_event, process_id, 0, WINEVENT_OUTOFCONTEXT);
    if (!hook) return fail("SetWinEventHook");
    if (click_id != 0) {
        if (HWND button = GetDlgItem(main, click_id)) PostMessageW(button, BM_CLICK, 0, 0);
    }
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (!listening.done && GetTickCount64() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    UnhookWinEvent(hook);
    print("{\"ok\": true, \"events\": [" + listening.events + "]}");
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 3) return fail("usage");
    const std::wstring command = arguments[1];
    if (command == L"object") {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        return object(arguments[2]);
    }
    if (command == L"listen") {
        int click_id = 0;
        std::wstring until;
        for (int index = 3; index + 1 < count; index += 2) {
            const std::wstring option = arguments[index];
            if (option == L"click")
                click_id = static_cast<int>(std::wcstol(arguments[index + 1], nullptr, 10));
            if (option == L"until") until = arguments[index + 1];
        }
        return listen(static_cast<DWORD>(std::wcstoul(arguments[2], nullptr, 10)), click_id, until);
    }
    return fail("unknown command");
}
