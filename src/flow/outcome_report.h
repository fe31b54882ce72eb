#pragma once
// The one result of an install attempt and the sentences it is told in.
#include <optional>
#include <string>
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

// The report's lines, each without a line end: 1, 2, 4 or 5 of them.
std::vector<std::string> report_lines(const AttemptReport& report);

// 0 installed, 1 failed, 2 cancelled.
int exit_code_for(const InstallOutcome& outcome);

}  // namespace vantile
