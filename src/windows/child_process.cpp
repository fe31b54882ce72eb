#include "windows/child_process.h"

#include <windows.h>

#include <vector>

#include "base/text.h"
#include "windows/error_text.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {

Result<std::int32_t> run_child_to_end(const std::string& program, const std::string& command_line,
                                      const std::string& working_folder,
                                      std::uint32_t creation_flags,
                                      std::string_view failure_template) {
    auto failure = [&](DWORD error) {
        return fail(fill_template(failure_template, {program, os_error_text(error)}));
    };

    // One inheritable handle on the null device serves as all three standard handles.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueFile null_device(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                       OPEN_EXISTING, 0, nullptr));
    if (!null_device) return failure(GetLastError());

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_device.get();
    startup.hStdOutput = null_device.get();
    startup.hStdError = null_device.get();

    const std::wstring application = to_wide(program);
    std::wstring line = to_wide(command_line);  // CreateProcessW may write into it
    const std::wstring folder = to_wide(working_folder);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                        creation_flags | CREATE_UNICODE_ENVIRONMENT, nullptr, folder.c_str(),
                        &startup, &started)) {
        return failure(GetLastError());
    }
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    null_device.reset();

    if (WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED) {
        return failure(GetLastError());
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.get(), &exit_code)) return failure(GetLastError());
    return static_cast<std::int32_t>(exit_code);
}

}  // namespace vantile
