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

}  // namespace

Status check_manifest_file(const std::string& path) {
    UniqueFile query(CreateFileW(to_wide(path).c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!query || !GetFileInformationByHandle(query.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return fail(manifest_missing_message(path));
    const ULONGLONG size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return check_manifest_size(size, path);
}

Result<std::string> read_local_manifest(const std::string& path, const TransferWait& wait,
                                        const ManifestFileCheck& check) {
    ManifestBytes bytes(path);
    // What runs on the transfer thread holds copies: it may run after this call returned.
    const Result<TransferEnd> read = read_local_file(
        path,
        // A file that grew past the limit since it was checked is refused like one that was
        // too large from the start.
        [&bytes](const char* data, std::size_t size) { return bytes.add(data, size); }, wait,
        [path](const std::string& os_error) { return manifest_unreadable_message(path, os_error); },
        [path, check] { return check(path); });
    return std::move(bytes).finish(read.error());
}

Result<std::string> read_manifest(const ManifestSource& source, const TransferWait& wait) {
    if (const auto* address = std::get_if<Address>(&source)) {
        return read_manifest_from_address(
            address->text, [&wait](const std::string& text, const ChunkConsumer& consumer) {
                return fetch_address(text, consumer, wait);
            });
    }
    return read_local_manifest(std::get<LocalFile>(source).path, wait);
}

}  // namespace vantile
