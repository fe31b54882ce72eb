#include "windows/system_libraries.h"

#include <utility>

#include <delayimp.h>

#include "base/text.h"
#include "flow/computer_facts.h"
#include "windows/error_text.h"
#include "windows/optional_export.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

// The build names the delay-imported libraries (cmake/hardening.cmake) as
// DELAY_LOADED(wininet) DELAY_LOADED(bcrypt) ...; dlltool names each one's import
// descriptor after its delay-import library. (binutils 2.40 leaves the PE header's
// delay-import directory empty, so the descriptors are found by name, not through it.)
#ifndef VANTILE_DELAY_LOADED_LIBRARIES
#error "the build must name the delay-imported libraries"
#endif
#define DELAY_LOADED(library) \
    extern "C" const ImgDelayDescr __DELAY_IMPORT_DESCRIPTOR_libdelay_##library##_a;
VANTILE_DELAY_LOADED_LIBRARIES
#undef DELAY_LOADED

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace vantile {
namespace {

const ImgDelayDescr* const DESCRIPTORS[] = {
#define DELAY_LOADED(library) &__DELAY_IMPORT_DESCRIPTOR_libdelay_##library##_a,
    VANTILE_DELAY_LOADED_LIBRARIES
#undef DELAY_LOADED
};

template <class T>
T* in_image(DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(&__ImageBase) + rva);
}

DelayLoadedLibrary library_of(const ImgDelayDescr& descriptor) {
    DelayLoadedLibrary library{in_image<const char>(descriptor.rvaDLLName), {}};
    for (auto* entry = in_image<const IMAGE_THUNK_DATA>(descriptor.rvaINT);
         entry->u1.AddressOfData != 0; ++entry) {
        if (IMAGE_SNAP_BY_ORDINAL(entry->u1.Ordinal)) {
            library.functions.push_back("#" + std::to_string(IMAGE_ORDINAL(entry->u1.Ordinal)));
        } else {
            auto* by_name =
                in_image<const IMAGE_IMPORT_BY_NAME>(static_cast<DWORD>(entry->u1.AddressOfData));
            library.functions.emplace_back(reinterpret_cast<const char*>(by_name->Name));
        }
    }
    return library;
}

FARPROC find_function(HMODULE module, const std::string& function) {
    if (function.starts_with("#")) {
        const auto ordinal = static_cast<WORD>(std::stoul(function.substr(1)));
        return GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    }
    return GetProcAddress(module, function.c_str());
}

}  // namespace

SetDefaultDllDirectoriesFunction set_default_dll_directories_export() {
    return optional_export<SetDefaultDllDirectoriesFunction>(L"kernel32.dll",
                                                             "SetDefaultDllDirectories");
}

bool restrict_dll_search(SetDefaultDllDirectoriesFunction set_default_dll_directories) {
    return set_default_dll_directories != nullptr &&
           set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

std::string unrestricted_dll_search_message(std::uint32_t windows_build) {
    if (!windows_build_supported(windows_build)) return old_windows_message(windows_build);
    return "Vantile's installer could not make Windows load its DLLs from the System32 folder "
           "only, so it stops before it loads any.";
}

std::vector<DelayLoadedLibrary> delay_loaded_libraries() {
    std::vector<DelayLoadedLibrary> libraries;
    for (const ImgDelayDescr* descriptor : DESCRIPTORS) {
        libraries.push_back(library_of(*descriptor));
    }
    return libraries;
}

Result<HMODULE> load_from_system32(const DelayLoadedLibrary& library) {
    UniqueModule module(
        LoadLibraryExW(to_wide(library.name).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module) {
        return fail(fill_template(
            "Vantile's installer could not load {} from the Windows System32 folder: {}",
            {library.name, last_os_error_text()}));
    }
    for (const std::string& function : library.functions) {
        if (find_function(module.get(), function) == nullptr) {
            return fail(fill_template(
                "Vantile's installer could not find {} in {} from the Windows System32 folder: {}",
                {function, library.name, last_os_error_text()}));
        }
    }
    return module.release();
}

Status bind_system_libraries() {
    for (const ImgDelayDescr* descriptor : DESCRIPTORS) {
        Result<HMODULE> module = load_from_system32(library_of(*descriptor));
        if (!module) return std::move(module).failure();
        // The helper's own slot for this DLL: once set, it binds from this module and
        // never searches for the DLL itself.
        InterlockedExchangePointer(in_image<PVOID>(descriptor->rvaHmod), module.value());
    }
    return {};
}

}  // namespace vantile
