#include "wide.h"

#include <windows.h>

#include <vector>

#include "../text.h"
#include "unique_handle.h"

namespace vantile {

std::wstring to_wide(std::string_view text) {
    std::u16string wide = utf8_to_utf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string from_wide(std::wstring_view text) {
    return utf16_to_utf8_lossy(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::optional<std::string> environment_variable(const char* name) {
    std::wstring wide_name = to_wide(name);
    std::vector<wchar_t> buffer(256);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        DWORD length = GetEnvironmentVariableW(wide_name.c_str(), buffer.data(),
                                               static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (length < buffer.size()) {
            return utf16_to_utf8_strict(
                std::u16string_view(reinterpret_cast<const char16_t*>(buffer.data()), length));
        }
        buffer.resize(length);
    }
}

UniqueFile open_for_reading(const std::string& path, unsigned long extra_flags) {
    return UniqueFile(CreateFileW(to_wide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | extra_flags, nullptr));
}

bool is_existing_file(const std::string& path) {
    UniqueFile file(CreateFileW(to_wide(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) return false;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::string> temporary_folder() {
    using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
    wchar_t buffer[MAX_PATH + 2] = {};
    DWORD length = 0;
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto get_temp_path2 = kernel ? reinterpret_cast<GetTempPath2Fn>(reinterpret_cast<void*>(
                                       GetProcAddress(kernel, "GetTempPath2W")))
                                 : nullptr;
    if (get_temp_path2) {
        length = get_temp_path2(MAX_PATH + 1, buffer);
    } else {
        length = GetTempPathW(MAX_PATH + 1, buffer);
    }
    if (length == 0 || length > MAX_PATH + 1) return std::nullopt;
    return from_wide(std::wstring_view(buffer, length));
}

}  // namespace vantile
