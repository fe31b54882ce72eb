#pragma once
// The log file in the user's temporary folder: one time-stamped line per event.
#include <windows.h>

#include <string_view>

#include "flow/line_log.h"
#include "windows/unique_handle.h"

namespace vantile {

enum class LogMode {
    Fresh,   // the first copy: create or empty the file
    Append,  // a second copy: every write goes to the end of the file
};

class InstallLog final : public LineLog {
  public:
    // Never fails: a log that cannot be opened drops its lines.
    static InstallLog open(LogMode mode);

    void write_line(std::string_view text) override;

  private:
    UniqueFile file_;
    LARGE_INTEGER start_{};
    LARGE_INTEGER frequency_{};
};

}  // namespace vantile
