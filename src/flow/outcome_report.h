#pragma once
// The one result of an install attempt and the sentences it is told in.
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "flow/install_step.h"

namespace vantile {

struct Installed {
    std::string version;
};
struct Failed {
    std::string message;
    InstallStep step = InstallStep::Checking;
};
struct Cancelled {};

using InstallOutcome = std::variant<Installed, Failed, Cancelled>;

struct AttemptReport {
    std::optional<std::string> leftover_folder;  // staging folder that could not be removed
    std::string removal_error;                   // set exactly when leftover_folder is
    InstallOutcome outcome = Cancelled{};
};

// The report told in two parts, each line without a line end.
struct ReportText {
    std::vector<std::string> outcome_lines;   // the outcome: 1 line, or 2 for a failure
    std::vector<std::string> leftover_lines;  // the folder left behind: none or 3 lines
};
ReportText report_text(const AttemptReport& report);

// Both parts in order: 1, 2, 4 or 5 lines.
std::vector<std::string> report_lines(const AttemptReport& report);

// "Vantile {} is installed, and it is opening now."
std::string installed_headline(std::string_view version);

// 0 installed, 1 failed, 2 cancelled.
int exit_code_for(const InstallOutcome& outcome);

}  // namespace vantile
