#include <windows.h>

#include <string_view>

#include "shell/portable/command_line.h"
#include "shell/startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const wchar_t* line = GetCommandLineW();
    std::u16string_view command_line(reinterpret_cast<const char16_t*>(line),
                                     std::char_traits<wchar_t>::length(line));
    return vantile::run(vantile::arguments_after_program(command_line));
}
