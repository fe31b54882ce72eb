#include "ui/portable/window_state.h"

#include <variant>

#include "base/text.h"
#include "flow/install_step.h"

namespace vantile {

InstallStep step_from_message(std::uintptr_t value) {
    return value < static_cast<std::uintptr_t>(INSTALL_STEP_COUNT) ? static_cast<InstallStep>(value)
                                                                   : InstallStep::Checking;
}

std::string status_text(InstallStep step) {
    return std::string(install_step_texts(step).status_text);
}

std::string result_headline(const InstallOutcome& outcome) {
    if (const auto* installed = std::get_if<Installed>(&outcome))
        return installed_headline(installed->version);
    if (std::holds_alternative<Failed>(outcome)) return "Vantile could not be installed.";
    return "The install was cancelled.";
}

std::vector<std::string> result_details_lines(const AttemptReport& report) {
    // The headline already tells the outcome; a failure adds its step and message.
    std::vector<std::string> lines;
    if (const auto* failed = std::get_if<Failed>(&report.outcome)) {
        lines.push_back(fill_template("The step that failed: {}.", {display_name(failed->step)}));
        lines.push_back(failed->message);
    }
    for (std::string& line : report_text(report).leftover_lines) lines.push_back(std::move(line));
    return lines;
}

std::string join_details_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        if (index > 0) text += "\r\n";
        text += lines[index];
    }
    return text;
}

CloseAction close_action(WindowPhase phase, InstallStep step) {
    switch (phase) {
        case WindowPhase::Finished:
            return CloseAction::Destroy;
        case WindowPhase::Cancelling:
            return CloseAction::Nothing;
        case WindowPhase::Running:
            break;
    }
    if (step == InstallStep::Installing) return CloseAction::Nothing;
    return CloseAction::RequestCancel;
}

DoneAction done_action(WindowPhase phase, const AttemptReport& report) {
    const InstallOutcome& outcome = report.outcome;
    if (phase == WindowPhase::Cancelling) {
        // The user asked to stop: only a failure of the app's own installer, which could not
        // be stopped, is worth bringing the window back for.
        const auto* failed = std::get_if<Failed>(&outcome);
        if (failed && failed->step == InstallStep::Installing)
            return {.exit_code = exit_code_for(outcome), .show_result = true, .show_window = true};
        // Anything else the worker ended with counts as the cancel the user asked for,
        // except an install that was already done.
        const InstallOutcome counted =
            std::holds_alternative<Installed>(outcome) ? outcome : InstallOutcome{Cancelled{}};
        return {.exit_code = exit_code_for(counted), .show_result = false, .show_window = false};
    }
    const bool stays =
        std::holds_alternative<Failed>(outcome) || report.leftover_folder.has_value();
    return {.exit_code = exit_code_for(outcome), .show_result = stays, .show_window = false};
}

}  // namespace vantile
