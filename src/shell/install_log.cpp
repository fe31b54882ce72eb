#include "shell/install_log.h"

#include <optional>
#include <string>

#include "base/text.h"
#include "shell/portable/log_format.h"
#include "windows/environment.h"
#include "windows/wide_text.h"

namespace vantile {

InstallLog InstallLog::open(LogMode mode) {
    InstallLog log;
    std::optional<std::string> folder = temporary_folder();
    if (folder) {
        std::wstring path = to_wide(join_path(*folder, LOG_FILE_NAME));
        constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        bool usable = true;
        if (mode == LogMode::Fresh) {
            // Empty the file in place so that its attributes stay as they were.
            UniqueFile emptying(CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            usable = emptying && SetEndOfFile(emptying.get());
        }
        // Append-only writes land at the current end even while a second copy adds a line.
        if (usable)
            log.file_ =
                UniqueFile(CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, share, nullptr,
                                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    QueryPerformanceFrequency(&log.frequency_);
    QueryPerformanceCounter(&log.start_);
    return log;
}

void InstallLog::write_line(std::string_view text) {
    if (!file_) return;
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    double seconds = 0.0;
    if (now.QuadPart > start_.QuadPart && frequency_.QuadPart > 0)
        seconds = static_cast<double>(now.QuadPart - start_.QuadPart) /
                  static_cast<double>(frequency_.QuadPart);
    // Paths kept exact for Windows may hold an unpaired surrogate; the log stays valid UTF-8.
    std::string line = format_log_line(seconds, display_text(text));
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        DWORD written = 0;
        // WriteFile counts in a 32-bit DWORD; 256 MiB per call keeps far inside it.
        DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        if (!WriteFile(file_.get(), data, chunk, &written, nullptr) || written == 0) return;
        data += written;
        left -= written;
    }
}

}  // namespace vantile
