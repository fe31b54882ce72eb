#pragma once
// The system DLLs outside KnownDLLs (wininet, bcrypt, comctl32) are imported through the
// program's delay-import table, so Windows does not load them, from whatever folder it
// searches first, before the program starts. They are loaded here instead, from System32.
#include <windows.h>

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
