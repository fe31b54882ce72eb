#include "windows/app_installer.h"

#include <string_view>

#include "base/text.h"
#include "windows/child_process.h"
#include "windows/environment.h"

namespace vantile {
namespace {

// The folder that holds the program, "." when the path names none. A parent that is a
// root ("C:\", "\") keeps its separator.
std::string parent_folder(const std::string& path) {
    const size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos) return ".";
    std::string parent = path.substr(0, separator);
    if (parent.empty() || parent.back() == ':') parent.push_back(path[separator]);
    return parent;
}

}  // namespace

Result<std::int32_t> run_app_installer(const std::string& program_path) {
    // No window flag of its own: the app's installer may show its own windows.
    return run_child_to_end(program_path, child_command_line(program_path, {"--install"}),
                            parent_folder(program_path), 0, "Could not start {}: {}");
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
