#pragma once
// The system checks' Win32 parts with the looked-up functions passed in, so tests can put a
// failing or foreign-machine stand-in where the real export would be.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "flow/computer_facts.h"

namespace vantile {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW* version);
using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE process, USHORT* process_machine,
                                              USHORT* native_machine);

// The build that RtlGetVersion reports, or 0 when it fails or is missing.
std::uint32_t windows_build_number(RtlGetVersionFunction rtl_get_version);

// The native machine decides; a missing or failing IsWow64Process2 means an unknown one.
Architecture architecture_from(IsWow64Process2Function is_wow64_process2);

// SystemRoot exactly as the environment holds it; nothing when it is not set.
std::optional<std::wstring> system_root_variable();

}  // namespace vantile
