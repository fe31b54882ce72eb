#pragma once
// What the installer window shows and decides, kept apart from the Win32 calls that carry
// it out: the status texts, the result texts and the phase table.
#include <cstdint>
#include <string>
#include <vector>

#include "flow/install_step.h"
#include "flow/outcome_report.h"

namespace vantile {

enum class WindowPhase : std::uint8_t {
    Running = 0,     // an attempt is under way and the window is visible
    Cancelling = 1,  // the user asked to stop; the window is hidden until the worker ends
    Finished = 2,    // the attempt is over and its result is shown
};

// The step a worker message carries; anything out of range counts as Checking.
InstallStep step_from_message(std::uintptr_t value);

// The status label's text while a step runs ("Checking this computer…" for Checking).
std::string status_text(InstallStep step);

// The status label's text when an attempt is over.
std::string result_headline(const InstallOutcome& outcome);

// The details box's lines: for a failure, the failed step and the message; then the
// report's lines about a folder left behind.
std::vector<std::string> result_details_lines(const AttemptReport& report);

// Lines joined with CR LF between them and none after the last, as an edit control wants.
std::string join_details_lines(const std::vector<std::string>& lines);

// What a close request (Cancel or Close, Esc, the close box, WM_CLOSE) does.
enum class CloseAction {
    Nothing,        // refused (Installing, or already cancelling)
    RequestCancel,  // ask the worker to stop and hide the window
    Destroy,        // the result is shown: end the window
};
CloseAction close_action(WindowPhase phase, InstallStep step);

// What the end of an attempt does.
struct DoneAction {
    int exit_code = 0;
    bool show_result = false;  // false: destroy the window at once
    bool show_window = false;  // bring back a window hidden by a cancel request
};
DoneAction done_action(WindowPhase phase, const AttemptReport& report);

}  // namespace vantile
