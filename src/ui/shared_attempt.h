#pragma once
// What the window and the worker thread of an attempt share besides the cancel request: the
// slot in which the worker leaves its report, and the log behind its own lock. No code path
// holds both locks.
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "flow/line_log.h"
#include "flow/outcome_report.h"

namespace vantile {

// The install log as one thread at a time writes it: one line per lock.
class SharedLog final : public LineLog {
  public:
    explicit SharedLog(std::unique_ptr<LineLog> log) : log_(std::move(log)) {}

    void write_line(std::string_view text) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (log_) log_->write_line(text);
    }

  private:
    std::mutex lock_;
    std::unique_ptr<LineLog> log_;
};

// Written once by each attempt's worker, emptied by the window when the attempt is over.
class OutcomeSlot {
  public:
    // Replaces a report that nobody took (there should be none).
    void put(AttemptReport report) {
        std::lock_guard<std::mutex> guard(lock_);
        report_ = std::move(report);
    }
    // The report, leaving the slot empty; nothing when it was empty already.
    std::optional<AttemptReport> take() {
        std::lock_guard<std::mutex> guard(lock_);
        return std::exchange(report_, std::nullopt);
    }

  private:
    std::mutex lock_;
    std::optional<AttemptReport> report_;
};

}  // namespace vantile
