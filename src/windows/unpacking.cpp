#include "windows/unpacking.h"

#include <windows.h>

#include <cstdint>

#include "base/text.h"
#include "windows/child_process.h"
#include "windows/file_access.h"
#include "windows/error_text.h"
#include "windows/file_system.h"
#include "windows/portable/file_messages.h"

namespace vantile {

Status unpack_archive(const std::string& tar_path, const std::string& archive_path,
                      const std::string& unpack_folder) {
    if (DWORD error = create_folder_with_parents(unpack_folder)) {
        return fail(uncreatable_path_message(unpack_folder, os_error_text(error)));
    }
    const std::string moved_name = fill_template(".vantile-archive-{}.zip", {process_id_text()});
    const std::string moved_path = join_path(unpack_folder, moved_name);
    if (DWORD error = move_replacing(archive_path, moved_path)) {
        return fail(fill_template("Could not move {}: {}", {archive_path, os_error_text(error)}));
    }
    Result<std::int32_t> exit_code =
        run_child_to_end(tar_path, child_command_line(tar_path, {"-xf", moved_name}), unpack_folder,
                         CREATE_NO_WINDOW, "Could not run {}: {}");
    delete_quietly(moved_path);
    if (!exit_code) return fail(exit_code.error());
    if (exit_code.value() != 0) {
        return fail(fill_template("Could not unpack {} (tar.exe exit code {}).",
                                  {archive_path, std::to_string(exit_code.value())}));
    }
    return {};
}

Result<std::string> find_app_executable(const std::string& unpack_folder) {
    std::string program = join_path(unpack_folder, "Vantile.exe");
    if (is_existing_file(program)) return program;
    return fail("The download has no Vantile.exe, so it is not a Vantile desktop app.");
}

}  // namespace vantile
