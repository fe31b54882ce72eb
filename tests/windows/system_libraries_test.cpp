#include "windows/system_libraries.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "windows/error_text.h"

namespace vantile {
namespace {

bool has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The build's list of delay-loaded libraries (cmake/hardening.cmake), as DLL names.
std::vector<std::string> listed_dlls() {
    return {
#define DELAY_LOADED(library) #library ".dll",
        VANTILE_DELAY_LOADED_LIBRARIES
#undef DELAY_LOADED
    };
}

std::filesystem::path own_folder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).parent_path();
}

// This test program links the same code, so its delay-import table is the program's.
TEST(SystemLibraries, TheDelayImportTableNamesTheSystemDllsAndTheirFunctions) {
    const std::vector<DelayLoadedLibrary> libraries = delay_loaded_libraries();
    std::vector<std::string> names;
    for (const DelayLoadedLibrary& library : libraries) names.push_back(library.name);
    // Each descriptor names the DLL that its library of the list stands for, in link order.
    EXPECT_EQ(names, listed_dlls());
    const struct {
        const char* dll;
        const char* function;
    } uses[] = {{"wininet.dll", "InternetOpenW"},
                {"wininet.dll", "InternetReadFile"},
                {"bcrypt.dll", "BCryptOpenAlgorithmProvider"},
                {"comctl32.dll", "InitCommonControlsEx"},
                {"ole32.dll", "CoCreateInstance"}};
    for (const auto& use : uses) {
        SCOPED_TRACE(std::string(use.dll) + " " + use.function);
        const auto library =
            std::find_if(libraries.begin(), libraries.end(),
                         [&](const DelayLoadedLibrary& each) { return each.name == use.dll; });
        ASSERT_NE(library, libraries.end());
        EXPECT_TRUE(has(library->functions, use.function));
    }
}

TEST(SystemLibraries, LoadingFromSystem32ChecksTheDllAndEachFunction) {
    const std::string from = " from the Windows System32 folder: ";
    struct Case {
        DelayLoadedLibrary library;
        std::string error;  // empty: loads
    };
    const Case cases[] = {
        {{"wininet.dll", {"InternetOpenW", "InternetReadFile"}}, ""},
        {{"comctl32.dll", {"#17", "InitCommonControlsEx"}}, ""},
        {{"vantile-absent.dll", {"Anything"}},
         "Vantile's installer could not load vantile-absent.dll" + from + os_error_text(126)},
        {{"wininet.dll", {"InternetOpenW", "VantileAbsentFunction"}},
         "Vantile's installer could not find VantileAbsentFunction in wininet.dll" + from +
             os_error_text(127)},
        {{"comctl32.dll", {"#4000"}},
         "Vantile's installer could not find #4000 in comctl32.dll" + from + os_error_text(127)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.library.name + " " + c.library.functions.back());
        Result<HMODULE> module = load_from_system32(c.library);
        if (c.error.empty()) {
            ASSERT_TRUE(module) << module.error();
            EXPECT_EQ(module.value(), GetModuleHandleA(c.library.name.c_str()));
        } else {
            ASSERT_FALSE(module);
            EXPECT_EQ(module.error(), c.error);
        }
    }
}

// A DLL that LoadLibraryW finds beside the program is not one that System32 holds.
TEST(SystemLibraries, ADllBesideTheProgramIsNotLoaded) {
    const std::filesystem::path planted = own_folder() / "vantile-planted-probe.dll";
    std::filesystem::copy_file(own_folder() / "tests" / "support" / "release" / "planted.dll",
                               planted, std::filesystem::copy_options::overwrite_existing);
    Result<HMODULE> module = load_from_system32({"vantile-planted-probe.dll", {}});
    EXPECT_FALSE(module);
    HMODULE found = LoadLibraryW(L"vantile-planted-probe.dll");
    EXPECT_NE(found, nullptr) << "the search path does find it";
    if (found) FreeLibrary(found);
    std::error_code ignored;
    std::filesystem::remove(planted, ignored);
    std::filesystem::remove(planted.string() + ".loaded", ignored);
}

TEST(SystemLibraries, BindingHandsEachModuleToTheDelayLoadHelper) {
    ASSERT_TRUE(bind_system_libraries());
    for (const std::string& name : listed_dlls()) {
        SCOPED_TRACE(name);
        EXPECT_NE(GetModuleHandleA(name.c_str()), nullptr);
    }
    // A delay-imported call now runs through the bound module.
    HINTERNET session =
        InternetOpenW(L"system-libraries-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    EXPECT_NE(session, nullptr);
    if (session) InternetCloseHandle(session);
}

// Windows 7 without its 2011 loader update has no SetDefaultDllDirectories: the search cannot be
// restricted, and the run stops with the message of the build check that such a Windows fails.
BOOL WINAPI refusing_set_default_dll_directories(DWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
DWORD asked_directories = 0;
BOOL WINAPI accepting_set_default_dll_directories(DWORD directories) {
    asked_directories = directories;
    return TRUE;
}

TEST(SystemLibraries, TheDllSearchIsRestrictedToSystem32OnlyWhereWindowsCanDoIt) {
    EXPECT_FALSE(restrict_dll_search(nullptr));
    EXPECT_FALSE(restrict_dll_search(refusing_set_default_dll_directories));
    EXPECT_TRUE(restrict_dll_search(accepting_set_default_dll_directories));
    EXPECT_EQ(asked_directories, DWORD{LOAD_LIBRARY_SEARCH_SYSTEM32});
    // This Windows (and Wine) has the function, looked up rather than imported.
    EXPECT_NE(set_default_dll_directories_export(), nullptr);
}

TEST(SystemLibraries, AnUnrestrictedSearchEndsWithTheBuildChecksMessage) {
    EXPECT_EQ(unrestricted_dll_search_message(7601),
              "Vantile needs Windows 10 version 1809 or later, and this computer runs build "
              "7601. Update Windows, then run the installer again.");
    EXPECT_EQ(unrestricted_dll_search_message(19045),
              "Vantile's installer could not make Windows load its DLLs from the System32 folder "
              "only, so it stops before it loads any.");
}

}  // namespace
}  // namespace vantile
