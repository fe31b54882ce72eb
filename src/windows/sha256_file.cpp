#include "sha256_file.h"

#include <windows.h>

#include "../flow/sha256.h"
#include "error_text.h"
#include "unique_handle.h"
#include "wide.h"

namespace vantile {
namespace {

std::string last_error_text() {
    return os_error_text(static_cast<std::int32_t>(GetLastError()));
}

}  // namespace

Result<FileDigest> sha256_of_file(const std::string& path) {
    // Other programs may read, write and delete the file while it is hashed.
    UniqueFile file(CreateFileW(
        to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return fail(unreadable_file_message(path, last_error_text()));

    Result<std::unique_ptr<Sha256>> started = start_sha256();
    if (!started) return fail(unreadable_file_message(path, started.error()));

    return sha256_of_stream(
        path, *started.value(),
        [&](std::uint8_t* buffer, std::size_t capacity) -> Result<std::size_t> {
            DWORD got = 0;
            if (!ReadFile(file.get(), buffer, static_cast<DWORD>(capacity), &got, nullptr))
                return fail(last_error_text());
            return static_cast<std::size_t>(got);
        });
}

}  // namespace vantile
