#include "windows/file_system.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "windows/relative_open.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// Newer information classes that this toolchain's headers only name for later targets.
constexpr auto FILE_DISPOSITION_INFO_EX_CLASS = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr auto FILE_RENAME_INFO_EX_CLASS = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD DISPOSITION_DELETE = 0x1;
constexpr DWORD DISPOSITION_POSIX_SEMANTICS = 0x2;
constexpr DWORD DISPOSITION_IGNORE_READONLY_ATTRIBUTE = 0x10;
constexpr DWORD RENAME_REPLACE_IF_EXISTS = 0x1;
constexpr DWORD RENAME_POSIX_SEMANTICS = 0x2;

// How many names (hard links) the open entry has; 0 when that cannot be read.
DWORD link_count(HANDLE entry) {
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(entry, FileStandardInfo, &standard, sizeof(standard)))
        return 0;
    return standard.NumberOfLinks;
}

// Clears the read-only attribute of an entry whose only name this is. Attributes belong to
// the file, not to the name: a file with other names, which may lie outside, keeps them.
void clear_read_only_of_sole_name(HANDLE entry) {
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof(basic)) ||
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0 || link_count(entry) != 1)
        return;
    UniqueHandle writable;
    if (open_relative(entry, L"", FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                      FILE_SYNCHRONOUS_IO_NONALERT, writable) != ERROR_SUCCESS)
        return;
    FILE_BASIC_INFO cleared{};  // zero times leave them unchanged
    cleared.FileAttributes =
        basic.FileAttributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
    if (cleared.FileAttributes == 0) cleared.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(writable.get(), FileBasicInfo, &cleared, sizeof(cleared));
}

}  // namespace

std::string process_id_text() {
    return std::to_string(GetCurrentProcessId());
}

DWORD create_folder_with_parents(const std::string& path) {
    if (CreateDirectoryW(to_wide(path).c_str(), nullptr)) return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
        const size_t separator = path.find_last_of("\\/");
        if (separator != std::string::npos && separator > 0) {
            const DWORD parent_error = create_folder_with_parents(path.substr(0, separator));
            if (parent_error != ERROR_SUCCESS) return parent_error;
            if (CreateDirectoryW(to_wide(path).c_str(), nullptr)) return ERROR_SUCCESS;
            error = GetLastError();
        }
    }
    const DWORD attributes = GetFileAttributesW(to_wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return ERROR_SUCCESS;
    return error;
}

DWORD mark_for_deletion(HANDLE entry) {
    FILE_DISPOSITION_INFO_EX modern{DISPOSITION_DELETE | DISPOSITION_POSIX_SEMANTICS |
                                    DISPOSITION_IGNORE_READONLY_ATTRIBUTE};
    if (SetFileInformationByHandle(entry, FILE_DISPOSITION_INFO_EX_CLASS, &modern, sizeof(modern)))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_FUNCTION)
        return error;

    clear_read_only_of_sole_name(entry);
    FILE_DISPOSITION_INFO classic{TRUE};
    if (SetFileInformationByHandle(entry, FileDispositionInfo, &classic, sizeof(classic)))
        return ERROR_SUCCESS;
    return GetLastError();
}

DWORD move_replacing(const std::string& from, const std::string& to) {
    const std::wstring wide_from = to_wide(from);
    const std::wstring wide_to = to_wide(to);
    if (MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING))
        return ERROR_SUCCESS;
    const DWORD first_error = GetLastError();
    if (first_error != ERROR_ACCESS_DENIED) return first_error;

    UniqueFile file(CreateFileW(
        wide_from.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return first_error;
    const size_t name_bytes = wide_to.size() * sizeof(wchar_t);
    std::vector<std::uint64_t> storage(
        (offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t) + 7) / 8, 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
    rename->Flags = RENAME_REPLACE_IF_EXISTS | RENAME_POSIX_SEMANTICS;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(wide_to.begin(), wide_to.end(), rename->FileName);
    if (SetFileInformationByHandle(file.get(), FILE_RENAME_INFO_EX_CLASS, rename,
                                   static_cast<DWORD>(storage.size() * 8)))
        return ERROR_SUCCESS;
    return GetLastError() == ERROR_DIR_NOT_EMPTY ? ERROR_DIR_NOT_EMPTY : first_error;
}

void delete_quietly(const std::string& path) {
    const std::wstring wide = to_wide(path);
    if (DeleteFileW(wide.c_str()) || GetLastError() != ERROR_ACCESS_DENIED) return;
    UniqueFile file(
        CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file) mark_for_deletion(file.get());
}

}  // namespace vantile
