#pragma once
// Functions that newer Windows versions added: looked up in a module the process has already
// loaded, never loading one, and absent (null) where this Windows lacks them.
#include <windows.h>

namespace vantile {

template <class Function>
Function optional_export(const wchar_t* module_name, const char* export_name) {
    HMODULE module = GetModuleHandleW(module_name);
    if (!module) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, export_name)));
}

}  // namespace vantile
