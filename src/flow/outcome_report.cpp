#include "flow/outcome_report.h"

#include "base/text.h"

namespace vantile {

std::string installed_headline(std::string_view version) {
    return fill_template("Vantile {} is installed, and it is opening now.", {version});
}

ReportText report_text(const AttemptReport& report) {
    ReportText text;
    std::vector<std::string>& outcome = text.outcome_lines;
    if (const auto* installed = std::get_if<Installed>(&report.outcome)) {
        outcome.push_back(installed_headline(installed->version));
    } else if (const auto* failed = std::get_if<Failed>(&report.outcome)) {
        outcome.push_back(fill_template("Vantile could not be installed. The step that failed: {}.",
                                        {display_name(failed->step)}));
        outcome.push_back(failed->message);
    } else {
        outcome.emplace_back("The install was cancelled. Nothing was installed.");
    }
    if (report.leftover_folder) {
        std::vector<std::string>& leftover = text.leftover_lines;
        leftover.push_back(
            fill_template("Temporary files remain at {}.", {*report.leftover_folder}));
        leftover.emplace_back(std::holds_alternative<Installed>(report.outcome)
                                  ? "Vantile was installed and can be used."
                                  : "The install failed for the reason above.");
        leftover.push_back(fill_template("Close anything using that folder, then remove it. {}",
                                         {report.removal_error}));
    }
    return text;
}

std::vector<std::string> report_lines(const AttemptReport& report) {
    ReportText text = report_text(report);
    std::vector<std::string> lines = std::move(text.outcome_lines);
    for (std::string& line : text.leftover_lines) lines.push_back(std::move(line));
    return lines;
}

int exit_code_for(const InstallOutcome& outcome) {
    if (std::holds_alternative<Installed>(outcome)) return 0;
    if (std::holds_alternative<Failed>(outcome)) return 1;
    return 2;
}

}  // namespace vantile
