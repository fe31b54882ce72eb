#include "flow/sha256.h"

#include <windows.h>

#include "windows/error_text.h"
#include "windows/file_access.h"
#include "windows/unique_handle.h"

namespace vantile {
Result<FileDigest> sha256_of_file(const std::string& path) {
    // Other programs may read, write and delete the file while it is hashed.
    UniqueFile file = open_for_reading(path, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!file) return fail(unreadable_file_message(path, last_os_error_text()));

    Result<std::unique_ptr<Sha256>> started = start_sha256();
    if (!started) return fail(unreadable_file_message(path, started.error()));

    return sha256_of_stream(
        path, *started.value(),
        [&](std::uint8_t* buffer, std::size_t capacity) -> Result<std::size_t> {
            DWORD got = 0;
            if (!ReadFile(file.get(), buffer, static_cast<DWORD>(capacity), &got, nullptr))
                return fail(last_os_error_text());
            return static_cast<std::size_t>(got);
        });
}

}  // namespace vantile
