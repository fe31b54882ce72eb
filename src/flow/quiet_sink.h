#pragma once
#include <cstdint>

#include "flow/line_log.h"
#include "flow/progress_sink.h"

namespace vantile {

// The sink of a --quiet run: it only writes the log and never asks to stop.
class QuietSink final : public LoggingSink {
  public:
    QuietSink(LineLog& log, Pause pause) : LoggingSink(log, std::move(pause)) {}

    StepAnswer begin_step(InstallStep step) override;
    bool report_progress(std::uint64_t received, std::uint64_t expected) override;
    bool is_cancelled() override;
};

}  // namespace vantile
