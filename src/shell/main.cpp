#include <windows.h>

#include <string_view>

#include "shell/portable/command_line.h"
#include "shell/stack_protection.h"
#include "shell/startup.h"
#include "windows/system_libraries.h"

// Checks no stack canary itself: it seeds the canary.
__attribute__((no_stack_protector)) int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL.
    const bool dll_search_restricted =
        vantile::restrict_dll_search(vantile::set_default_dll_directories_export());
    vantile::seed_stack_guard();
    const wchar_t* line = GetCommandLineW();
    std::u16string_view command_line(reinterpret_cast<const char16_t*>(line),
                                     std::char_traits<wchar_t>::length(line));
    return vantile::run(vantile::arguments_after_program(command_line), dll_search_restricted);
}
