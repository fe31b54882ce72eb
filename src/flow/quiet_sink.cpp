#include "flow/quiet_sink.h"

namespace vantile {

StepAnswer QuietSink::begin_step(InstallStep step, InstallStep& current_step) {
    current_step = step;
    log_.write_line(step_log_text(step));
    return StepAnswer::GoOn;
}

void QuietSink::log_line(std::string_view text) {
    log_.write_line(text);
}

void QuietSink::retrying(std::string_view message, std::uint32_t try_number, std::uint32_t limit) {
    log_.write_line(message);
    log_.write_line(retry_notice(try_number, limit));
    pause_(RETRY_PAUSE_MILLISECONDS);
}

bool QuietSink::report_progress(std::uint64_t, std::uint64_t) {
    return true;
}

bool QuietSink::is_cancelled() {
    return false;
}

}  // namespace vantile
