#include <gtest/gtest.h>

#include "flow/outcome_report.h"
#include "shell/portable/log_format.h"

namespace vantile {
namespace {

TEST(FormatLogLine, TimeFieldIsOneDecimalRightAlignedInSixAndNeverCut) {
    struct Case {
        double seconds;
        std::string line;
    };
    for (const Case& c : std::vector<Case>{{0.0, "[   0.0s] x\n"},
                                           {0.04, "[   0.0s] x\n"},
                                           {0.05001, "[   0.1s] x\n"},
                                           {12.34, "[  12.3s] x\n"},
                                           {1234.5, "[1234.5s] x\n"},
                                           {9999.94, "[9999.9s] x\n"},
                                           {9999.96, "[10000.0s] x\n"},
                                           {12345.6, "[12345.6s] x\n"}}) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(format_log_line(c.seconds, "x"), c.line);
    }
}

TEST(FormatLogLine, TextIsWrittenUnchanged) {
    EXPECT_EQ(format_log_line(1.0, "two\nlines \u2026"), "[   1.0s] two\nlines \u2026\n");
    EXPECT_EQ(format_log_line(1.0, ""), "[   1.0s] \n");
}

TEST(ReportLines, EveryOutcomeWithAndWithoutLeftover) {
    const std::string folder = "C:\\Temp\\.vantile-desktop-staging-1-2";
    const std::string error = "Access is denied. (os error 5)";
    auto with_leftover = [&](InstallOutcome outcome) {
        return AttemptReport{folder, error, std::move(outcome)};
    };
    const std::string remain = "Temporary files remain at " + folder + ".";
    const std::string close = "Close anything using that folder, then remove it. " + error;
    struct Case {
        AttemptReport report;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {AttemptReport{{}, {}, Installed{"1.4.0"}},
         {"Vantile 1.4.0 is installed, and it is opening now."}},
        {AttemptReport{{}, {}, Cancelled{}}, {"The install was cancelled. Nothing was installed."}},
        {AttemptReport{{}, {}, Failed{"boom", InstallStep::ReadingManifest}},
         {"Vantile could not be installed. The step that failed: Reading the release manifest.",
          "boom"}},
        {with_leftover(Installed{"2.0.0-rc.1"}),
         {"Vantile 2.0.0-rc.1 is installed, and it is opening now.", remain,
          "Vantile was installed and can be used.", close}},
        {with_leftover(Cancelled{}),
         {"The install was cancelled. Nothing was installed.", remain,
          "The install failed for the reason above.", close}},
        {with_leftover(Failed{"size", InstallStep::Downloading}),
         {"Vantile could not be installed. The step that failed: Downloading Vantile.", "size",
          remain, "The install failed for the reason above.", close}},
    };
    for (const Case& c : cases) EXPECT_EQ(report_lines(c.report), c.lines);
}

TEST(ReportLines, StepNames) {
    const std::vector<std::pair<InstallStep, std::string>> names = {
        {InstallStep::Checking, "Checking this computer"},
        {InstallStep::ReadingManifest, "Reading the release manifest"},
        {InstallStep::Downloading, "Downloading Vantile"},
        {InstallStep::Unpacking, "Unpacking Vantile"},
        {InstallStep::Installing, "Installing Vantile"}};
    for (const auto& [step, name] : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(display_name(step), name);
        EXPECT_EQ(report_lines({{}, {}, Failed{"m", step}}).front(),
                  "Vantile could not be installed. The step that failed: " + name + ".");
    }
}

TEST(ExitCodes, FollowTheOutcome) {
    EXPECT_EQ(exit_code_for(Installed{"1"}), 0);
    EXPECT_EQ(exit_code_for(Failed{"m", InstallStep::Checking}), 1);
    EXPECT_EQ(exit_code_for(Cancelled{}), 2);
}

}  // namespace
}  // namespace vantile
