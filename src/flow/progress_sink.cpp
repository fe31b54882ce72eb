#include "flow/progress_sink.h"

#include <algorithm>
#include <string>

#include "base/text.h"

namespace vantile {

void LoggingSink::log_line(std::string_view text) {
    log_.write_line(text);
}

void LoggingSink::retrying(std::string_view message, std::uint32_t try_number,
                           std::uint32_t limit) {
    log_.write_line(message);
    log_.write_line(retry_notice(try_number, limit));
    pause_(RETRY_PAUSE_MILLISECONDS);
}

void LoggingSink::log_step(InstallStep step) {
    log_.write_line(step_log_text(step));
}

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
