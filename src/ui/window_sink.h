#pragma once
// The sink of a window-mode attempt: it writes the shared log and posts every update to the
// window, so the worker never waits for the UI thread.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "flow/progress_sink.h"
#include "ui/shared_attempt.h"

namespace vantile {

class WindowSink final : public LoggingSink {
  public:
    WindowSink(std::shared_ptr<std::atomic<bool>> cancel_requested, std::shared_ptr<SharedLog> log,
               HWND window, Pause pause);

    StepAnswer begin_step(InstallStep step) override;
    bool report_progress(std::uint64_t received, std::uint64_t expected) override;
    bool is_cancelled() override;

  private:
    std::shared_ptr<std::atomic<bool>> cancel_requested_;
    // Keeps alive the log that the base writes.
    std::shared_ptr<SharedLog> log_;
    HWND window_;
    // Kept across the download tries of one attempt.
    std::uint32_t last_position_ = 0;
};

// The worker's last act for the window: store the report, then tell the window, so the
// report is there when the message arrives.
void hand_off_report(OutcomeSlot& outcome_slot, HWND window, AttemptReport report);

}  // namespace vantile
