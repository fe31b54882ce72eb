#include "flow/outcome_report.h"

#include "base/text.h"

namespace vantile {

std::vector<std::string> report_lines(const AttemptReport& report) {
    std::vector<std::string> lines;
    if (const auto* installed = std::get_if<Installed>(&report.outcome)) {
        lines.push_back(
            fill_template("Vantile {} is installed, and it is opening now.", {installed->version}));
    } else if (const auto* failed = std::get_if<Failed>(&report.outcome)) {
        lines.push_back(fill_template("Vantile could not be installed. The step that failed: {}.",
                                      {display_name(failed->step)}));
        lines.push_back(failed->message);
    } else {
        lines.emplace_back("The install was cancelled. Nothing was installed.");
    }
    if (report.leftover_folder) {
        lines.push_back(fill_template("Temporary files remain at {}.", {*report.leftover_folder}));
        lines.emplace_back(std::holds_alternative<Installed>(report.outcome)
                               ? "Vantile was installed and can be used."
                               : "The install failed for the reason above.");
        lines.push_back(fill_template("Close anything using that folder, then remove it. {}",
                                      {report.removal_error}));
    }
    return lines;
}

int exit_code_for(const InstallOutcome& outcome) {
    if (std::holds_alternative<Installed>(outcome)) return 0;
    if (std::holds_alternative<Failed>(outcome)) return 1;
    return 2;
}

}  // namespace vantile
