#pragma once
// Small text helpers shared by the test-support programs (never shipped).
#include <windows.h>

#include <cstdio>
#include <string>

namespace support {

// The variable's value; empty when it is unset or too long. `present` tells unset from empty.
inline std::wstring environment(const wchar_t* name, bool* present = nullptr) {
    wchar_t buffer[4096];
    SetLastError(ERROR_SUCCESS);
    DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    if (present) *present = !(length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND);
    if (length == 0 || length >= 4096) return {};
    return std::wstring(buffer, length);
}

inline std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// The text as a JSON string: quotes, backslashes and control characters escaped.
inline std::string json_string(const std::wstring& text) {
    std::string out = "\"";
    for (unsigned char c : utf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// One line on standard output, where the tests read the probes' answers.
inline void print(const std::string& text) {
    std::string line = text + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
}

}  // namespace support
