#pragma once
// Every system DLL beyond the few the loader binds (the build's list,
// VANTILE_DELAY_LOADED_LIBRARIES in cmake/hardening.cmake) is imported through the program's
// delay-import table, so Windows does not load it, from whatever folder it searches first,
// before the program starts. They are loaded here instead, from System32.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"

namespace vantile {

// A DLL of the program's delay-import table and the functions the program takes from it
// (a function imported by ordinal reads "#<ordinal>").
struct DelayLoadedLibrary {
    std::string name;
    std::vector<std::string> functions;
};

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD directory_flags);

// Kernel32's SetDefaultDllDirectories, looked up rather than imported: Windows 7 without its
// 2011 loader update (KB2533623) lacks it and would refuse to start a program that imports it.
SetDefaultDllDirectoriesFunction set_default_dll_directories_export();

// Makes every later DLL search look in System32 only, never the program's own folder (the
// user's Downloads, say, where any file may lie beside the program): true, or false where the
// function is missing or refuses. Run first thing, before anything can load a DLL.
bool restrict_dll_search(SetDefaultDllDirectoriesFunction set_default_dll_directories);

// Where the search could not be restricted, the program loads nothing beyond the KnownDLLs and
// ends with this message: the build check's, as such a Windows is older than the program
// needs (given the build that RtlGetVersion reports), or a plain one for a newer build.
std::string unrestricted_dll_search_message(std::uint32_t windows_build);

// The running program's delay-imported DLLs, in link order.
std::vector<DelayLoadedLibrary> delay_loaded_libraries();

// Loads the DLL from System32 only and checks that it has each of the functions; the
// module stays loaded. Fails with a message naming the DLL (and the function).
Result<HMODULE> load_from_system32(const DelayLoadedLibrary& library);

// Loads every delay-imported DLL from System32 and hands its module to the delay-load
// helper, so later calls bind to it and nothing can fail on the way. Run once at start-up,
// before anything calls into those DLLs.
Status bind_system_libraries();

}  // namespace vantile
