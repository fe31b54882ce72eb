#pragma once
#include <cstdint>
#include <string>

// One function for each kind of code a failure carries, and each one's "last error" form.
namespace vantile {

// After a failed WinINet call: "<text> (Windows error <code>)", or "Windows error <code>".
std::string windows_error_text(std::uint32_t code);
// After a failed file, folder or process operation: "<text> (os error <code>)", the code
// printed signed. A DWORD from GetLastError converts as it is.
std::string os_error_text(std::int32_t code);
// os_error_text of a failing NTSTATUS, carried in an HRESULT so that ntdll's table has its text.
std::string nt_status_text(std::int32_t status);
// os_error_text of the calling thread's last error.
std::string last_os_error_text();
// windows_error_text of the calling thread's last error, after a failed WinINet call.
std::string last_windows_error_text();

}  // namespace vantile
