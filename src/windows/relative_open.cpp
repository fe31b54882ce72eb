#include "windows/relative_open.h"

#include <atomic>

namespace vantile {
namespace {

constexpr NTSTATUS STATUS_DELETE_PENDING_CODE = static_cast<NTSTATUS>(0xC0000056L);

// Systems that do not know OBJ_DONT_REPARSE reject it; once they have, it is left out of
// every later open of the process.
std::atomic<ULONG> object_attributes{OBJ_DONT_REPARSE};
std::atomic<relative_open_testing::OpenFunction> open_function{&NtOpenFile};

NTSTATUS call_open(HANDLE parent, std::wstring_view name, ACCESS_MASK access, ULONG attributes,
                   ULONG options, HANDLE& handle) {
    UNICODE_STRING object_name;
    object_name.Buffer = const_cast<PWSTR>(name.data());
    object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    object_name.MaximumLength = object_name.Length;
    OBJECT_ATTRIBUTES object{};
    object.Length = sizeof(object);
    object.RootDirectory = parent;
    object.ObjectName = &object_name;
    object.Attributes = attributes;
    IO_STATUS_BLOCK io{};
    return open_function.load()(&handle, access, &object, &io,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, options);
}

}  // namespace

std::uint32_t open_relative(HANDLE parent, std::wstring_view name, ACCESS_MASK access,
                            ULONG options, UniqueHandle& opened) {
    for (;;) {
        const ULONG attributes = object_attributes.load();
        const NTSTATUS status = call_open(parent, name, access, attributes,
                                          options | FILE_OPEN_REPARSE_POINT, *opened.put());
        if (NT_SUCCESS(status)) return ERROR_SUCCESS;
        // The plain mapping would say "access denied", which hides that it is on its way out.
        if (status == STATUS_DELETE_PENDING_CODE) return ERROR_DELETE_PENDING;
        const ULONG error = RtlNtStatusToDosError(status);
        if (error == ERROR_INVALID_PARAMETER && (attributes & OBJ_DONT_REPARSE) != 0) {
            object_attributes.store(attributes & ~static_cast<ULONG>(OBJ_DONT_REPARSE));
            continue;
        }
        return error;
    }
}

bool is_gone_error(std::uint32_t error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME ||
           error == ERROR_DELETE_PENDING;
}

namespace relative_open_testing {

OpenFunction replace_open_function(OpenFunction function) {
    return open_function.exchange(function ? function : &NtOpenFile);
}

bool dont_reparse_in_use() {
    return (object_attributes.load() & OBJ_DONT_REPARSE) != 0;
}

void restore_dont_reparse() {
    object_attributes.store(OBJ_DONT_REPARSE);
}

}  // namespace relative_open_testing
}  // namespace vantile
