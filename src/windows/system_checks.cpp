#include "windows/system_checks.h"

#include <windows.h>

#include <vector>

#include "windows/environment.h"
#include "windows/file_access.h"
#include "windows/optional_export.h"
#include "windows/system_check_parts.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// The size of RTL_OSVERSIONINFOW, the only field set before the call.
constexpr ULONG VERSION_RECORD_SIZE = 276;
static_assert(sizeof(OSVERSIONINFOW) == VERSION_RECORD_SIZE);

constexpr LONG STATUS_SUCCESS_VALUE = 0;

}  // namespace

std::uint32_t windows_build_number(RtlGetVersionFunction rtl_get_version) {
    if (!rtl_get_version) return 0;
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = VERSION_RECORD_SIZE;
    if (rtl_get_version(&version) != STATUS_SUCCESS_VALUE) return 0;
    return version.dwBuildNumber;
}

Architecture architecture_from(IsWow64Process2Function is_wow64_process2) {
    // Without an answer the machine is unknown, which the architecture table decides.
    USHORT process_machine = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT native_machine = IMAGE_FILE_MACHINE_UNKNOWN;
    if (is_wow64_process2 &&
        !is_wow64_process2(GetCurrentProcess(), &process_machine, &native_machine))
        native_machine = IMAGE_FILE_MACHINE_UNKNOWN;
    return architecture_from_native_machine(native_machine);
}

std::optional<std::wstring> system_root_variable() {
    return environment_variable_units(L"SystemRoot");
}

std::uint32_t running_windows_build() {
    return windows_build_number(
        optional_export<RtlGetVersionFunction>(L"ntdll.dll", "RtlGetVersion"));
}

Status check_windows_build() {
    const std::uint32_t build = running_windows_build();
    if (!windows_build_supported(build)) return fail(old_windows_message(build));
    return {};
}

Result<std::string> locate_system_tar() {
    // Read as Windows holds it, so a value that is not valid Unicode still names the same folder.
    std::optional<std::wstring> system_root = system_root_variable();
    std::string root_text;
    if (system_root) root_text = from_wide_exact(*system_root);
    const std::string tar_path = system_tar_path(system_root ? &root_text : nullptr);
    // The message shows an unpaired surrogate as U+FFFD; the path itself keeps it.
    if (!is_existing_file(tar_path)) return fail(missing_tar_message(display_text(tar_path)));
    return tar_path;
}

Architecture detect_architecture() {
    // Looked up anew on every call: Windows before 10 1709 has no IsWow64Process2.
    return architecture_from(
        optional_export<IsWow64Process2Function>(L"kernel32.dll", "IsWow64Process2"));
}

}  // namespace vantile
