// hold_file.exe FILE READY RELEASE: opens FILE without delete sharing (as a program that
// keeps a file open would), creates READY, and keeps FILE open until RELEASE exists (at most
// two minutes). Exit code 0, or 1 when FILE could not be opened.
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 4) return 2;
    HANDLE held =
        CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
    HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    for (int waited = 0; waited < 2400; ++waited) {
        if (GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(50);
    }
    CloseHandle(held);
    LocalFree(argv);
    return 0;
}
