#include "windows/environment.h"

#include <windows.h>

#include <vector>

#include "base/text.h"
#include "windows/optional_export.h"
#include "windows/wide_text.h"

namespace vantile {

std::optional<std::wstring> environment_variable_units(const wchar_t* name) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        DWORD length =
            GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::wstring();
        }
        // A value that fits comes back as its length; otherwise the size it needs.
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(length);
    }
}

std::optional<std::string> environment_variable(const char* name) {
    const std::optional<std::wstring> value = environment_variable_units(to_wide(name).c_str());
    if (!value) return std::nullopt;
    return utf16_to_utf8_strict(
        std::u16string_view(reinterpret_cast<const char16_t*>(value->data()), value->size()));
}

std::optional<std::string> temporary_folder() {
    using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
    wchar_t buffer[MAX_PATH + 2] = {};
    DWORD length = 0;
    auto get_temp_path2 = optional_export<GetTempPath2Fn>(L"kernel32.dll", "GetTempPath2W");
    if (get_temp_path2) {
        length = get_temp_path2(MAX_PATH + 1, buffer);
    } else {
        length = GetTempPathW(MAX_PATH + 1, buffer);
    }
    if (length == 0 || length > MAX_PATH + 1) return std::nullopt;
    // Exact, so that the staging folder and the log are made in this very folder.
    return from_wide_exact(std::wstring_view(buffer, length));
}

std::uint64_t system_time_now() {
    using GetTimeFunction = void(WINAPI*)(LPFILETIME);
    static const GetTimeFunction precise =
        optional_export<GetTimeFunction>(L"kernel32.dll", "GetSystemTimePreciseAsFileTime");
    FILETIME now{};
    if (precise) {
        precise(&now);
    } else {
        GetSystemTimeAsFileTime(&now);
    }
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace vantile
