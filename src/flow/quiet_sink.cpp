#include "flow/quiet_sink.h"

namespace vantile {

StepAnswer QuietSink::begin_step(InstallStep step) {
    log_step(step);
    return StepAnswer::GoOn;
}

bool QuietSink::report_progress(std::uint64_t, std::uint64_t) {
    return true;
}

bool QuietSink::is_cancelled() {
    return false;
}

}  // namespace vantile
