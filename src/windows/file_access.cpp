#include "windows/file_access.h"

#include <windows.h>

#include "windows/wide_text.h"

namespace vantile {

UniqueFile open_for_reading(const std::string& path, unsigned long extra_flags) {
    return UniqueFile(CreateFileW(to_wide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | extra_flags, nullptr));
}

bool is_existing_file(const std::string& path) {
    UniqueFile file(CreateFileW(to_wide(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) return false;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace vantile
