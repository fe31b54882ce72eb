#pragma once
#include <cstdint>
#include <functional>

#include "flow/line_log.h"
#include "flow/progress_sink.h"

namespace vantile {

// The sink of a --quiet run: it only writes the log and never asks to stop.
class QuietSink final : public ProgressSink {
  public:
    using Pause = std::function<void(std::uint32_t milliseconds)>;

    QuietSink(LineLog& log, Pause pause) : log_(log), pause_(std::move(pause)) {}

    StepAnswer begin_step(InstallStep step, InstallStep& current_step) override;
    void log_line(std::string_view text) override;
    void retrying(std::string_view message, std::uint32_t try_number, std::uint32_t limit) override;
    bool report_progress(std::uint64_t received, std::uint64_t expected) override;
    bool is_cancelled() override;

  private:
    LineLog& log_;
    Pause pause_;
};

}  // namespace vantile
