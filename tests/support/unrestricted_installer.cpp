// The installer's own start-up on a Windows whose loader cannot restrict the DLL search to
// System32 (Windows 7 without its 2011 loader update): Wine always has SetDefaultDllDirectories,
// so this program runs the installer's shell as main.cpp does where the call is missing. Built
// with the installer's manifest, so that anything it shows loads what the installer would.
#include <windows.h>

#include <string_view>

#include "shell/portable/command_line.h"
#include "shell/startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const wchar_t* line = GetCommandLineW();
    std::u16string_view command_line(reinterpret_cast<const char16_t*>(line),
                                     std::char_traits<wchar_t>::length(line));
    return vantile::run(vantile::arguments_after_program(command_line), false);
}
