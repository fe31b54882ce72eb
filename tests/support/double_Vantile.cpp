// Stand-in for the app's own installer (`Vantile.exe --install`). It runs from the staging
// folder, which is deleted right after it ends, so what it saw goes to a record file outside:
// VANTILE_TEST_RECORD, or C:\vantile-double-record.txt. One "key=value" line each for the
// command line, the working folder, VANTILE_DESKTOP_NO_DIALOG ("(absent)" when unset), and
// the kernel names of its standard input, output and error ("(none)" when there is none).
//   VANTILE_TEST_EXIT=<n>              exit code (default 0)
//   VANTILE_TEST_EXIT=crash            a real access violation (exit code 0xC0000005)
//   VANTILE_TEST_PAUSE_UNTIL=<file>    after writing the record, waits (up to two minutes)
//                                      until <file> exists, so a test can change the staging
//                                      folder while the installer waits for this program
#include <windows.h>
#include <winternl.h>

#include <string>

#include "support_text.h"
#include "windows/unique_handle.h"

using support::environment;
using support::utf8;

namespace {

// The kernel's name for the object behind a standard handle ("\Device\Null" for NUL on
// Windows; Wine names its Unix /dev/null).
std::string handle_name(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return "(none)";
    using QueryObject = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    if (!query) return "(unnamed)";
    alignas(8) unsigned char buffer[2048] = {};
    ULONG length = 0;
    NTSTATUS status = query(handle, static_cast<OBJECT_INFORMATION_CLASS>(1), buffer,
                            sizeof(buffer) - sizeof(wchar_t), &length);
    if (status != 0) return "(unnamed)";
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer);
    if (!name->Buffer) return "(unnamed)";
    return utf8(std::wstring(name->Buffer, name->Length / sizeof(wchar_t)));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    bool present = false;
    std::wstring record_path = environment(L"VANTILE_TEST_RECORD", &present);
    if (record_path.empty()) record_path = L"C:\\vantile-double-record.txt";
    const std::wstring no_dialog = environment(L"VANTILE_DESKTOP_NO_DIALOG", &present);
    const bool no_dialog_present = present;
    const std::wstring exit_text = environment(L"VANTILE_TEST_EXIT", &present);

    wchar_t folder[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(MAX_PATH * 4, folder);
    std::string text = "command_line=" + utf8(GetCommandLineW()) + "\n";
    text += "working_folder=" + utf8(folder) + "\n";
    text += "no_dialog=" + (no_dialog_present ? utf8(no_dialog) : std::string("(absent)")) + "\n";
    text += "stdin=" + handle_name(STD_INPUT_HANDLE) + "\n";
    text += "stdout=" + handle_name(STD_OUTPUT_HANDLE) + "\n";
    text += "stderr=" + handle_name(STD_ERROR_HANDLE) + "\n";
    vantile::UniqueFile file(CreateFileW(record_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        DWORD written = 0;
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    const std::wstring pause_until = environment(L"VANTILE_TEST_PAUSE_UNTIL", &present);
    for (int waited = 0; !pause_until.empty() && waited < 2400; ++waited) {
        if (GetFileAttributesW(pause_until.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(50);
    }

    if (exit_text == L"crash") {
        // The pointer is volatile so the compiler cannot turn the store into a trap.
        int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
    return exit_text.empty() ? 0 : _wtoi(exit_text.c_str());
}
