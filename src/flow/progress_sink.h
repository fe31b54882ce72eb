#pragma once
// What the flow tells the user, and how it learns of a cancel request.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "flow/install_step.h"
#include "flow/line_log.h"

namespace vantile {

enum class StepAnswer { GoOn, Cancelled };

class ProgressSink {
  public:
    virtual ~ProgressSink() = default;

    // A step may begin: logs "<name>…" and answers GoOn, or answers Cancelled and does
    // nothing. The flow keeps its own record of the step.
    virtual StepAnswer begin_step(InstallStep step) = 0;
    virtual void log_line(std::string_view text) = 0;
    // A failed try will be repeated: logs the message and the retry notice, then waits.
    virtual void retrying(std::string_view message, std::uint32_t try_number,
                          std::uint32_t limit) = 0;
    // True to go on, false to stop the transfer.
    virtual bool report_progress(std::uint64_t received, std::uint64_t expected) = 0;
    virtual bool is_cancelled() = 0;
};

// The sink's pause before a retry; injected so that tests need not wait.
inline constexpr std::uint32_t RETRY_PAUSE_MILLISECONDS = 2000;

// What the quiet and the window sink do alike: they write the install log, and a retry waits
// RETRY_PAUSE_MILLISECONDS; each says for itself whether a step may begin.
class LoggingSink : public ProgressSink {
  public:
    using Pause = std::function<void(std::uint32_t milliseconds)>;

    void log_line(std::string_view text) final;
    void retrying(std::string_view message, std::uint32_t try_number, std::uint32_t limit) final;

  protected:
    LoggingSink(LineLog& log, Pause pause) : log_(log), pause_(std::move(pause)) {}
    // The line of a step that begins.
    void log_step(InstallStep step);

  private:
    LineLog& log_;
    Pause pause_;
};

// The log text of a step that begins: its display name and an ellipsis.
std::string step_log_text(InstallStep step);
// "Connection interrupted; retrying (2/3)..."
std::string retry_notice(std::uint32_t try_number, std::uint32_t limit);
// Per-mille position of a transfer: 0 when nothing is expected, else min(received,
// expected) * 1000 / expected, rounded down.
std::uint32_t progress_position(std::uint64_t received, std::uint64_t expected);

}  // namespace vantile
