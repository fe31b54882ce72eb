#include "windows/unpacking.h"

#include <windows.h>

#include <cstdint>
#include <utility>

#include "base/text.h"
#include "windows/child_process.h"
#include "windows/file_access.h"
#include "windows/error_text.h"
#include "windows/file_system.h"
#include "flow/file_messages.h"
#include "flow/unpack_messages.h"

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
    if (!exit_code) return std::move(exit_code).failure();
    if (exit_code.value() != 0) {
        return fail(unpack_failed_message(archive_path, exit_code.value()));
    }
    return {};
}

Result<std::string> find_app_executable(const std::string& unpack_folder) {
    std::string program = join_path(unpack_folder, APP_EXECUTABLE_NAME);
    if (is_existing_file(program)) return program;
    return fail(std::string(NO_APP_EXECUTABLE_MESSAGE));
}

}  // namespace vantile
