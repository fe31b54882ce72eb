#include "ui/portable/window_state.h"

#include <variant>

#include "base/text.h"
#include "flow/install_step.h"

namespace vantile {

std::uint8_t step_from_message(std::uintptr_t value) {
    return value < static_cast<std::uintptr_t>(INSTALL_STEP_COUNT)
               ? static_cast<std::uint8_t>(value)
               : 0;
}

std::string status_text(std::uint8_t step) {
    switch (step) {
        case 1:
            return "Checking for the latest Vantile\u2026";
        case 2:
            return "Downloading Vantile\u2026";
        case 3:
            return "Unpacking Vantile\u2026";
        case 4:
            return "Installing Vantile\u2026";
        default:
            return "Checking this computer\u2026";
    }
}

std::string result_headline(const InstallOutcome& outcome) {
    if (const auto* installed = std::get_if<Installed>(&outcome))
        return fill_template("Vantile {} is installed, and it is opening now.",
                             {installed->version});
    if (std::holds_alternative<Failed>(outcome)) return "Vantile could not be installed.";
    return "The install was cancelled.";
}

std::vector<std::string> result_details_lines(const AttemptReport& report) {
    std::vector<std::string> lines;
    std::size_t told_by_headline = 1;
    if (const auto* failed = std::get_if<Failed>(&report.outcome)) {
        lines.push_back(fill_template("The step that failed: {}.", {display_name(failed->step)}));
        lines.push_back(failed->message);
        told_by_headline = 2;
    }
    std::vector<std::string> report_text = report_lines(report);
    for (std::size_t index = told_by_headline; index < report_text.size(); ++index)
        lines.push_back(std::move(report_text[index]));
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

CloseAction close_action(WindowPhase phase, std::uint8_t step) {
    switch (phase) {
        case WindowPhase::Finished:
            return CloseAction::Destroy;
        case WindowPhase::Cancelling:
            return CloseAction::Nothing;
        case WindowPhase::Running:
            break;
    }
    if (step == static_cast<std::uint8_t>(InstallStep::Installing)) return CloseAction::Nothing;
    return CloseAction::RequestCancel;
}

DoneAction done_action(WindowPhase phase, const AttemptReport& report) {
    const InstallOutcome& outcome = report.outcome;
    if (phase == WindowPhase::Cancelling) {
        // The user asked to stop: only a failure of the app's own installer, which could not
        // be stopped, is worth bringing the window back for.
        if (std::holds_alternative<Installed>(outcome)) return {0, false, false};
        const auto* failed = std::get_if<Failed>(&outcome);
        if (failed && failed->step == InstallStep::Installing) return {1, true, true};
        return {2, false, false};
    }
    const int code = exit_code_for(outcome);
    const bool stays =
        std::holds_alternative<Failed>(outcome) || report.leftover_folder.has_value();
    return {code, stays, false};
}

}  // namespace vantile
