#include "flow/progress_sink.h"

#include <algorithm>
#include <string>

#include "base/text.h"

namespace vantile {

std::string step_log_text(InstallStep step) {
    std::string text(display_name(step));
    text += "\u2026";
    return text;
}

std::string retry_notice(std::uint32_t try_number, std::uint32_t limit) {
    return fill_template("Connection interrupted; retrying ({}/{})...",
                         {std::to_string(try_number), std::to_string(limit)});
}

std::uint32_t progress_position(std::uint64_t received, std::uint64_t expected) {
    if (expected == 0) return 0;
    return static_cast<std::uint32_t>(std::min(received, expected) * 1000u / expected);
}

}  // namespace vantile
