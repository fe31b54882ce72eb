#include "windows/manifest_reading.h"

#include <windows.h>

#include "flow/manifest_source.h"
#include "windows/download.h"
#include "windows/error_text.h"
#include "windows/file_access.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD READ_CHUNK = 65536;

Result<std::string> read_manifest_file(const std::string& path) {
    const std::wstring wide_path = to_wide(path);
    {
        // Asking for no access follows links and is not blocked by other programs'
        // sharing, so this only answers "is there a file, and how large is it".
        UniqueFile query(CreateFileW(wide_path.c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!query || !GetFileInformationByHandle(query.get(), &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return fail(manifest_missing_message(path));
        const ULONGLONG size =
            (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        if (size > MANIFEST_SIZE_LIMIT) return fail(manifest_too_large_message(path));
    }

    UniqueFile file = open_for_reading(path);
    if (!file) return fail(manifest_unreadable_message(path, last_os_error_text()));
    std::string bytes;
    for (;;) {
        const std::size_t filled = bytes.size();
        bytes.resize(filled + READ_CHUNK);
        DWORD read = 0;
        if (!ReadFile(file.get(), bytes.data() + filled, READ_CHUNK, &read, nullptr))
            return fail(manifest_unreadable_message(path, last_os_error_text()));
        bytes.resize(filled + read);
        if (read == 0) return bytes;
        // A file that grew past the limit since it was measured is refused like one that
        // was too large from the start, so memory stays bounded.
        if (bytes.size() > MANIFEST_SIZE_LIMIT) return fail(manifest_too_large_message(path));
    }
}

}  // namespace

Result<std::string> read_manifest(const ManifestSource& source, const TransferWait& wait) {
    if (const auto* address = std::get_if<Address>(&source)) {
        return read_manifest_from_address(
            address->text, [&wait](const std::string& text, const ChunkConsumer& consumer) {
                return fetch_address(text, consumer, wait);
            });
    }
    return read_manifest_file(std::get<LocalFile>(source).path);
}

}  // namespace vantile
