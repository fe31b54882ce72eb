#include "windows/environment.h"

#include <windows.h>

#include <vector>

#include "base/text.h"
#include "windows/wide_text.h"

namespace vantile {

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
