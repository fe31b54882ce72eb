#include "ui/window_sink.h"

#include "ui/window_messages.h"

namespace vantile {

WindowSink::WindowSink(std::shared_ptr<std::atomic<bool>> cancel_requested,
                       std::shared_ptr<SharedLog> log, HWND window, Pause pause)
    : LoggingSink(*log, std::move(pause)),
      cancel_requested_(std::move(cancel_requested)),
      log_(std::move(log)),
      window_(window) {}

StepAnswer WindowSink::begin_step(InstallStep step) {
    if (cancel_requested_->load()) return StepAnswer::Cancelled;
    // A failed post only costs the window one update.
    PostMessageW(window_, WM_INSTALL_STEP, static_cast<WPARAM>(step), 0);
    log_step(step);
    return StepAnswer::GoOn;
}

bool WindowSink::report_progress(std::uint64_t received, std::uint64_t expected) {
    const std::uint32_t position = progress_position(received, expected);
    if (position != last_position_) {
        last_position_ = position;
        PostMessageW(window_, WM_INSTALL_PROGRESS, position, 0);
    }
    return !cancel_requested_->load();
}

bool WindowSink::is_cancelled() {
    return cancel_requested_->load();
}

void hand_off_report(OutcomeSlot& outcome_slot, HWND window, AttemptReport report) {
    outcome_slot.put(std::move(report));
    PostMessageW(window, WM_INSTALL_DONE, 0, 0);
}

}  // namespace vantile
