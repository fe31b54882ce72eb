// A stand-in for the app's own installer that stays in the Installing step until the test
// lets it go, so that the window can be looked at and poked while that step runs.
//   VANTILE_TEST_HOLD=<file>       wait while this file exists (at most 120 seconds)
//   VANTILE_TEST_HELD=<file>       created once the wait has begun, so the test knows
//   VANTILE_TEST_EXIT_CODE=<n>     exit code afterwards (default 0)
#include <windows.h>

#include <cwchar>
#include <string>

#include "support_text.h"
#include "windows/unique_handle.h"

using support::environment;

namespace {

bool exists(const std::wstring& path) {
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring hold = environment(L"VANTILE_TEST_HOLD");
    const std::wstring held = environment(L"VANTILE_TEST_HELD");
    if (!held.empty()) {
        vantile::UniqueFile(CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    for (int waited = 0; exists(hold) && waited < 120000; waited += 50) Sleep(50);
    const std::wstring code = environment(L"VANTILE_TEST_EXIT_CODE");
    return code.empty() ? 0 : static_cast<int>(std::wcstol(code.c_str(), nullptr, 10));
}
