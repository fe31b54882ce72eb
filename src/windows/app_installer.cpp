#include "windows/app_installer.h"

#include <string_view>

#include "base/text.h"
#include "flow/windows_paths.h"
#include "windows/child_process.h"
#include "windows/environment.h"

namespace vantile {
namespace {

// The app's installer starts in the folder that holds it ("." for a bare name).
std::string working_folder_of(const std::string& program_path) {
    const std::string_view folder = containing_folder(program_path);
    return folder.empty() ? std::string(".") : std::string(folder);
}

}  // namespace

Result<std::int32_t> run_app_installer(const std::string& program_path) {
    // No window flag of its own: the app's installer may show its own windows.
    return run_child_to_end(program_path, child_command_line(program_path, {"--install"}),
                            working_folder_of(program_path), 0, "Could not start {}: {}");
}

std::string installer_exit_message(std::int32_t exit_code) {
    const std::string local_app_data =
        environment_variable("LOCALAPPDATA").value_or("%LOCALAPPDATA%");
    return fill_template(
        "Vantile's installer stopped (exit code {}). Its log is launch.log, in Programs\\Vantile "
        "under {}.",
        {std::to_string(exit_code), local_app_data});
}

}  // namespace vantile
