// vantile-release: makes and checks the installer's release manifests.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "release_tool/release_tool.h"

#ifdef _WIN32
#include <windows.h>

#include "windows/unique_handle.h"

namespace {

// The verdicts name paths and addresses in UTF-8; the console gets its code page back after
// (there is none to give back without a console).
UINT switch_console_to_utf8() {
    const UINT previous = GetConsoleOutputCP();
    if (previous != 0) SetConsoleOutputCP(CP_UTF8);
    return previous;
}
void restore_console(UINT previous) {
    std::cout.flush();
    SetConsoleOutputCP(previous);
}
using Utf8Console = vantile::UniqueResource<UINT, restore_console>;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const Utf8Console console(switch_console_to_utf8());
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        std::optional<std::string> argument =
            vantile::utf16_to_utf8_strict(reinterpret_cast<const char16_t*>(argv[i]));
        if (!argument) {
            std::cerr << "vantile-release: an argument is not valid Unicode.\n";
            return vantile::TOOL_USAGE;
        }
        arguments.push_back(std::move(*argument));
    }
    return vantile::run_release_tool(arguments, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    return vantile::run_release_tool(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                     std::cerr);
}
#endif
