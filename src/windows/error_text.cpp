#include "windows/error_text.h"

#include <windows.h>

#include <array>

#include "windows/portable/error_text_forms.h"

namespace vantile {
namespace {

// The system's table only, or the module's table first and then the system's; never inserts.
constexpr DWORD SYSTEM_ONLY = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD MODULE_THEN_SYSTEM = SYSTEM_ONLY | FORMAT_MESSAGE_FROM_HMODULE;

// An NTSTATUS carried in an HRESULT.
constexpr std::uint32_t NT_STATUS_BIT = 0x10000000;

std::u16string_view units(const wchar_t* buffer, DWORD length) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length);
}

}  // namespace

std::string windows_error_text(std::uint32_t code) {
    // Only looked up, never loaded: a null handle is passed on as it is.
    HMODULE wininet = GetModuleHandleW(L"wininet.dll");
    std::array<wchar_t, 512> buffer{};
    DWORD length = FormatMessageW(MODULE_THEN_SYSTEM, wininet, code, 0, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), nullptr);
    if (length > buffer.size()) length = 0;
    return windows_error_form(units(buffer.data(), length), code);
}

std::string os_error_text(std::int32_t code) {
    DWORD flags = SYSTEM_ONLY;
    HMODULE source = nullptr;
    std::uint32_t lookup = static_cast<std::uint32_t>(code);
    if ((lookup & NT_STATUS_BIT) != 0) {
        if (HMODULE ntdll = GetModuleHandleW(L"NTDLL.DLL")) {
            flags = MODULE_THEN_SYSTEM;
            source = ntdll;
            lookup &= ~NT_STATUS_BIT;
        }
    }
    std::array<wchar_t, 2048> buffer{};
    DWORD length = FormatMessageW(flags, source, lookup, 0, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), nullptr);
    std::int32_t lookup_error = 0;
    if (length == 0) {
        lookup_error = static_cast<std::int32_t>(GetLastError());
    } else if (length > buffer.size()) {
        length = 0;
    }
    return os_error_form(code, static_cast<std::int32_t>(lookup), units(buffer.data(), length),
                         lookup_error);
}

std::string nt_status_text(std::int32_t status) {
    return os_error_text(
        static_cast<std::int32_t>(static_cast<std::uint32_t>(status) | NT_STATUS_BIT));
}

std::string last_windows_error_text() {
    return windows_error_text(GetLastError());
}

std::string last_os_error_text() {
    return os_error_text(static_cast<std::int32_t>(GetLastError()));
}

}  // namespace vantile
