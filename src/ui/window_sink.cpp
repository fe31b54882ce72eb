#include "ui/window_sink.h"

#include "ui/window_messages.h"

namespace vantile {

WindowSink::WindowSink(std::shared_ptr<std::atomic<bool>> cancel_requested,
                       std::shared_ptr<SharedLog> log, HWND window, Pause pause)
    : cancel_requested_(std::move(cancel_requested)),
      log_(std::move(log)),
      window_(window),
      pause_(std::move(pause)) {}

StepAnswer WindowSink::begin_step(InstallStep step, InstallStep& current_step) {
    if (cancel_requested_->load()) return StepAnswer::Cancelled;
    current_step = step;
    // A failed post only costs the window one update.
    PostMessageW(window_, WM_INSTALL_STEP, static_cast<WPARAM>(step), 0);
    log_->write_line(step_log_text(step));
    return StepAnswer::GoOn;
}

void WindowSink::log_line(std::string_view text) {
    log_->write_line(text);
}

void WindowSink::retrying(std::string_view message, std::uint32_t try_number, std::uint32_t limit) {
    log_->write_line(message);
    log_->write_line(retry_notice(try_number, limit));
    pause_(RETRY_PAUSE_MILLISECONDS);
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
