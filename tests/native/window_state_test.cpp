#include "ui/portable/window_state.h"

#include <gtest/gtest.h>

namespace vantile {
namespace {

AttemptReport report_of(InstallOutcome outcome, bool leftover = false) {
    AttemptReport report;
    report.outcome = std::move(outcome);
    if (leftover) {
        report.leftover_folder = "C:\\Temp\\.vantile-desktop-staging-1";
        report.removal_error = "Access is denied. (os error 5)";
    }
    return report;
}

TEST(StatusText, HasOneWholeTextPerStep) {
    EXPECT_EQ(status_text(InstallStep::Checking), "Checking this computer\u2026");
    EXPECT_EQ(status_text(InstallStep::ReadingManifest), "Checking for the latest Vantile\u2026");
    EXPECT_EQ(status_text(InstallStep::Downloading), "Downloading Vantile\u2026");
    EXPECT_EQ(status_text(InstallStep::Unpacking), "Unpacking Vantile\u2026");
    EXPECT_EQ(status_text(InstallStep::Installing), "Installing Vantile\u2026");
}

TEST(StepFromMessage, TakesAnOutOfRangeIndexAsChecking) {
    EXPECT_EQ(step_from_message(0), InstallStep::Checking);
    EXPECT_EQ(step_from_message(2), InstallStep::Downloading);
    EXPECT_EQ(step_from_message(4), InstallStep::Installing);
    EXPECT_EQ(step_from_message(5), InstallStep::Checking);
    EXPECT_EQ(step_from_message(static_cast<std::uintptr_t>(-1)), InstallStep::Checking);
    EXPECT_EQ(step_from_message(0x104), InstallStep::Checking);  // not cut down to its low byte
}

TEST(ResultText, HeadlinesByOutcome) {
    EXPECT_EQ(result_headline(Installed{"2.0.1"}),
              "Vantile 2.0.1 is installed, and it is opening now.");
    EXPECT_EQ(result_headline(Failed{"boom", InstallStep::Downloading}),
              "Vantile could not be installed.");
    EXPECT_EQ(result_headline(Cancelled{}), "The install was cancelled.");
}

TEST(ResultText, DetailsStartWithTheFailedStepAndTheMessage) {
    using Lines = std::vector<std::string>;
    const Failed failed{"The manifest C:\\m.json is not valid JSON: bad",
                        InstallStep::ReadingManifest};
    EXPECT_EQ(result_details_lines(report_of(failed)),
              (Lines{"The step that failed: Reading the release manifest.",
                     "The manifest C:\\m.json is not valid JSON: bad"}));
    EXPECT_EQ(
        result_details_lines(report_of(Failed{"x", InstallStep::Installing}, true)),
        (Lines{
            "The step that failed: Installing Vantile.", "x",
            "Temporary files remain at C:\\Temp\\.vantile-desktop-staging-1.",
            "The install failed for the reason above.",
            "Close anything using that folder, then remove it. Access is denied. (os error 5)"}));
    EXPECT_EQ(result_details_lines(report_of(Installed{"2.0.1"})), Lines{});
    EXPECT_EQ(
        result_details_lines(report_of(Installed{"2.0.1"}, true)),
        (Lines{
            "Temporary files remain at C:\\Temp\\.vantile-desktop-staging-1.",
            "Vantile was installed and can be used.",
            "Close anything using that folder, then remove it. Access is denied. (os error 5)"}));
    EXPECT_EQ(result_details_lines(report_of(Cancelled{}, true)).size(), 3u);
}

TEST(ResultText, JoinsLinesWithCarriageReturnLineFeed) {
    EXPECT_EQ(join_details_lines({}), "");
    EXPECT_EQ(join_details_lines({"one"}), "one");
    EXPECT_EQ(join_details_lines({"one", "two", "three"}), "one\r\ntwo\r\nthree");
    EXPECT_EQ(join_details_lines({"a\nb", ""}), "a\nb\r\n");
}

TEST(PhaseTable, CloseRequests) {
    struct Case {
        WindowPhase phase;
        InstallStep step;
        CloseAction action;
    };
    const Case cases[] = {
        {WindowPhase::Running, InstallStep::Checking, CloseAction::RequestCancel},
        {WindowPhase::Running, InstallStep::Downloading, CloseAction::RequestCancel},
        {WindowPhase::Running, InstallStep::Unpacking, CloseAction::RequestCancel},
        {WindowPhase::Running, InstallStep::Installing, CloseAction::Nothing},
        {WindowPhase::Cancelling, InstallStep::Downloading, CloseAction::Nothing},
        {WindowPhase::Cancelling, InstallStep::Installing, CloseAction::Nothing},
        {WindowPhase::Finished, InstallStep::Installing, CloseAction::Destroy},
        {WindowPhase::Finished, InstallStep::Checking, CloseAction::Destroy},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(c.phase) << " step " << static_cast<int>(c.step));
        EXPECT_EQ(close_action(c.phase, c.step), c.action);
    }
}

TEST(PhaseTable, EndOfAnAttempt) {
    struct Case {
        const char* name;
        WindowPhase phase;
        AttemptReport report;
        int exit_code;
        bool show_result;
        bool show_window;
    };
    const Case cases[] = {
        {"installed closes", WindowPhase::Running, report_of(Installed{"1"}), 0, false, false},
        {"cancelled closes", WindowPhase::Running, report_of(Cancelled{}), 2, false, false},
        {"failure stays", WindowPhase::Running, report_of(Failed{"m", InstallStep::Downloading}), 1,
         true, false},
        {"installed with leftover stays", WindowPhase::Running, report_of(Installed{"1"}, true), 0,
         true, false},
        {"cancelled with leftover stays", WindowPhase::Running, report_of(Cancelled{}, true), 2,
         true, false},
        {"cancelling, installed", WindowPhase::Cancelling, report_of(Installed{"1"}, true), 0,
         false, false},
        {"cancelling, cancelled", WindowPhase::Cancelling, report_of(Cancelled{}, true), 2, false,
         false},
        {"cancelling, failed before installing", WindowPhase::Cancelling,
         report_of(Failed{"m", InstallStep::Unpacking}, true), 2, false, false},
        {"cancelling, failed installing", WindowPhase::Cancelling,
         report_of(Failed{"m", InstallStep::Installing}), 1, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DoneAction action = done_action(c.phase, c.report);
        EXPECT_EQ(action.exit_code, c.exit_code);
        EXPECT_EQ(action.show_result, c.show_result);
        EXPECT_EQ(action.show_window, c.show_window);
    }
}

}  // namespace
}  // namespace vantile
