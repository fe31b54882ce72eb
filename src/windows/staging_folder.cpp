#include "windows/staging_folder.h"

#include <windows.h>

#include <cstdint>
#include <optional>

#include "base/text.h"
#include "windows/environment.h"
#include "windows/error_text.h"
#include "windows/file_system.h"
#include "flow/file_messages.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// FILETIME counts from 1601; the folder name counts from 1970.
constexpr std::uint64_t UNIX_EPOCH_AS_FILETIME = 116444736000000000ULL;

}  // namespace

Result<std::string> create_staging_folder() {
    const std::optional<std::string> temporary = temporary_folder();
    if (!temporary) {
        return fail("Could not create a staging folder: Windows reports no temporary folder.");
    }
    const std::uint64_t filetime = system_time_now();
    const std::uint64_t ticks =
        filetime < UNIX_EPOCH_AS_FILETIME ? 0 : filetime - UNIX_EPOCH_AS_FILETIME;
    const std::string name =
        fill_template(".vantile-desktop-staging-{}-{}", {process_id_text(), std::to_string(ticks)});
    const std::string staging = join_path(*temporary, name);
    if (DWORD error = create_folder_with_parents(staging)) {
        return fail(uncreatable_path_message(display_text(staging), os_error_text(error)));
    }
    return staging;
}

}  // namespace vantile
