#include "windows/manifest_reading.h"

#include <windows.h>

#include "flow/manifest_source.h"
#include "windows/download.h"
#include "windows/file_access.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Asking for no access follows links and is not blocked by other programs' sharing, so this
// only answers "is there a file, and is it small enough".
Status check_manifest_file(const std::string& path) {
    UniqueFile query(CreateFileW(to_wide(path).c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!query || !GetFileInformationByHandle(query.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return fail(manifest_missing_message(path));
    const ULONGLONG size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > MANIFEST_SIZE_LIMIT) return fail(manifest_too_large_message(path));
    return {};
}

// Read on a transfer thread like a download, so a share that hangs obeys the stall limit and
// a cancel.
Result<std::string> read_manifest_file(const std::string& path, const TransferWait& wait) {
    std::string bytes;
    const Result<TransferEnd> read = read_local_file(
        path,
        [&bytes](const char* data, std::size_t size) {
            bytes.append(data, size);
            // A file that grew past the limit since it was measured is refused like one that
            // was too large from the start, so memory stays bounded.
            return bytes.size() <= MANIFEST_SIZE_LIMIT;
        },
        wait,
        [path](const std::string& os_error) { return manifest_unreadable_message(path, os_error); },
        [path] { return check_manifest_file(path); });
    if (!read) return fail(read.error());
    if (read.value() == TransferEnd::Stopped) return fail(manifest_too_large_message(path));
    return bytes;
}

}  // namespace

Result<std::string> read_manifest(const ManifestSource& source, const TransferWait& wait) {
    if (const auto* address = std::get_if<Address>(&source)) {
        return read_manifest_from_address(
            address->text, [&wait](const std::string& text, const ChunkConsumer& consumer) {
                return fetch_address(text, consumer, wait);
            });
    }
    return read_manifest_file(std::get<LocalFile>(source).path, wait);
}

}  // namespace vantile
