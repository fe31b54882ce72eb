#include "flow/computer_facts.h"

#include "base/text.h"

namespace vantile {

std::string_view platform_key(Architecture architecture) {
    return architecture_facts(architecture).platform_key;
}

bool windows_build_supported(std::uint32_t build) {
    return build >= MINIMUM_WINDOWS_BUILD;
}

std::string old_windows_message(std::uint32_t build) {
    return fill_template(
        "Vantile needs Windows 10 version 1809 or later, and this computer runs build {}. "
        "Update Windows, then run the installer again.",
        {std::to_string(build)});
}

std::string system_tar_path(const std::string* system_root) {
    std::string root = system_root ? *system_root : std::string("C:\\Windows");
    return join_path(join_path(root, "System32"), "tar.exe");
}

std::string missing_tar_message(std::string_view tar_path) {
    return fill_template(
        "Windows' own tar.exe is missing ({}). It is part of Windows 10 1803 and later.",
        {tar_path});
}

Architecture architecture_from_native_machine(std::uint16_t native_machine) {
    for (const ArchitectureFacts& facts : ARCHITECTURES)
        if (facts.native_machine == native_machine) return facts.architecture;
    return ARCHITECTURES[0].architecture;
}

}  // namespace vantile
