// hold_file.exe FILE READY RELEASE: opens FILE without delete sharing (as a program that
// keeps a file open would), creates READY, and keeps FILE open until RELEASE exists (at most
// two minutes). Exit code 0, or 1 when FILE could not be opened.
#include <windows.h>
#include <shellapi.h>

#include "base/scope_exit.h"
#include "windows/unique_handle.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 4) return 2;
    vantile::ScopeExit free_arguments([argv] { LocalFree(argv); });
    vantile::UniqueFile held(
        CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!held) return 1;
    vantile::UniqueFile(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (int waited = 0; waited < 2400; ++waited) {
        if (GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(50);
    }
    return 0;
}
