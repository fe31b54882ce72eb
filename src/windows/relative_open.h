#pragma once
// Opening a folder entry relative to its parent's handle, never through a link.
#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string_view>

#include "windows/unique_handle.h"

namespace vantile {

// Opens `name` inside the folder `parent` (an empty name opens `parent` itself again) with
// FILE_OPEN_REPARSE_POINT, sharing read, write and delete, and OBJ_DONT_REPARSE while the
// system accepts that attribute. Returns 0 and the handle, or the Win32 error code; an entry
// that is already being deleted gives ERROR_DELETE_PENDING.
std::uint32_t open_relative(HANDLE parent, std::wstring_view name, ACCESS_MASK access,
                            ULONG options, UniqueHandle& opened);

// The error codes of an entry that is no longer there, or soon will not be.
bool is_gone_error(std::uint32_t error);

namespace relative_open_testing {

using OpenFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                      ULONG, ULONG);
// Replaces NtOpenFile for tests (nullptr puts it back); returns the function used before.
OpenFunction replace_open_function(OpenFunction function);
// Whether OBJ_DONT_REPARSE is still passed, and a way to pass it again after a test dropped it.
bool dont_reparse_in_use();
void restore_dont_reparse();

}  // namespace relative_open_testing
}  // namespace vantile
