// The window-mode sink: what it posts to the window, what it logs, when it answers stop,
// and the worker's hand-off of its report.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/shared_attempt.h"
#include "ui/start_attempt.h"
#include "ui/window_messages.h"
#include "ui/window_sink.h"

namespace vantile {
namespace {

class RecordingLog final : public LineLog {
  public:
    explicit RecordingLog(std::vector<std::string>& lines) : lines_(lines) {}
    void write_line(std::string_view text) override { lines_.emplace_back(text); }

  private:
    std::vector<std::string>& lines_;
};

struct Posted {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    bool operator==(const Posted&) const = default;
};

// A message-only window on this thread collects what the sink posts.
class WindowSinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        if (!window_) GTEST_SKIP() << "no window can be created here (no display)";
        log_ = std::make_shared<SharedLog>(std::make_unique<RecordingLog>(lines_));
        sink_ = std::make_unique<WindowSink>(cancel_, log_, window_,
                                             [this](std::uint32_t ms) { pauses_.push_back(ms); });
    }
    void TearDown() override {
        if (window_) DestroyWindow(window_);
    }

    std::vector<Posted> posted() {
        std::vector<Posted> messages;
        MSG message{};
        while (PeekMessageW(&message, window_, WM_APP, WM_APP + 0x100, PM_REMOVE))
            messages.push_back({message.message, message.wParam, message.lParam});
        return messages;
    }

    HWND window_ = nullptr;
    std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);
    std::vector<std::string> lines_;
    std::vector<std::uint32_t> pauses_;
    std::shared_ptr<SharedLog> log_;
    std::unique_ptr<WindowSink> sink_;
};

TEST_F(WindowSinkTest, BeginStepPostsTheStepAndLogsItsName) {
    EXPECT_EQ(sink_->begin_step(InstallStep::Downloading), StepAnswer::GoOn);
    EXPECT_EQ(posted(), (std::vector<Posted>{{WM_INSTALL_STEP, 2, 0}}));
    EXPECT_EQ(lines_, (std::vector<std::string>{"Downloading Vantile\u2026"}));
}

// The numbers are part of the window's contract with the window probe and other tools.
TEST(WindowMessages, AreTheFirstThreeApplicationMessages) {
    EXPECT_EQ(WM_INSTALL_STEP, 0x8001u);
    EXPECT_EQ(WM_INSTALL_PROGRESS, 0x8002u);
    EXPECT_EQ(WM_INSTALL_DONE, 0x8003u);
}

TEST_F(WindowSinkTest, BeginStepAfterACancelRequestDoesNothing) {
    cancel_->store(true);
    EXPECT_EQ(sink_->begin_step(InstallStep::Downloading), StepAnswer::Cancelled);
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(lines_.empty());
    EXPECT_TRUE(sink_->is_cancelled());
}

TEST_F(WindowSinkTest, ProgressIsPostedOnlyWhenThePerMilleChanges) {
    // Two thousand bytes expected: 1 byte is still 0, 2 bytes are 1 per mille.
    for (std::uint64_t received : {0, 1, 2, 3, 4, 1000, 1001, 2000, 2000, 5000})
        EXPECT_TRUE(sink_->report_progress(received, 2000));
    EXPECT_EQ(posted(), (std::vector<Posted>{{WM_INSTALL_PROGRESS, 1, 0},
                                             {WM_INSTALL_PROGRESS, 2, 0},
                                             {WM_INSTALL_PROGRESS, 500, 0},
                                             {WM_INSTALL_PROGRESS, 1000, 0}}));
    // A new try starts again from 0, which differs from the last position posted.
    EXPECT_TRUE(sink_->report_progress(0, 2000));
    EXPECT_EQ(posted(), (std::vector<Posted>{{WM_INSTALL_PROGRESS, 0, 0}}));
    EXPECT_TRUE(lines_.empty());
}

TEST_F(WindowSinkTest, NothingExpectedPostsNothing) {
    for (std::uint64_t received : {0, 1, 100000}) EXPECT_TRUE(sink_->report_progress(received, 0));
    EXPECT_TRUE(posted().empty());
}

TEST_F(WindowSinkTest, ACancelRequestStopsTheTransferAfterPostingItsPosition) {
    EXPECT_TRUE(sink_->report_progress(100, 1000));
    cancel_->store(true);
    EXPECT_FALSE(sink_->report_progress(300, 1000));
    EXPECT_EQ(posted(),
              (std::vector<Posted>{{WM_INSTALL_PROGRESS, 100, 0}, {WM_INSTALL_PROGRESS, 300, 0}}));
}

TEST_F(WindowSinkTest, RetryingLogsTheMessageAndTheNoticeThenPausesWithoutTellingTheWindow) {
    sink_->retrying("The request has timed out.", 2, 3);
    EXPECT_EQ(lines_, (std::vector<std::string>{"The request has timed out.",
                                                "Connection interrupted; retrying (2/3)..."}));
    EXPECT_EQ(pauses_, (std::vector<std::uint32_t>{2000}));
    EXPECT_TRUE(posted().empty());
}

TEST_F(WindowSinkTest, HandOffStoresTheReportBeforePostingDone) {
    OutcomeSlot slot;
    AttemptReport stale;
    stale.outcome = Cancelled{};
    slot.put(stale);  // never taken: the new report replaces it
    AttemptReport report;
    report.outcome = Installed{"2.0.1"};
    hand_off_report(slot, window_, report);
    EXPECT_EQ(posted(), (std::vector<Posted>{{WM_INSTALL_DONE, 0, 0}}));
    std::optional<AttemptReport> taken = slot.take();
    ASSERT_TRUE(taken);
    EXPECT_EQ(std::get<Installed>(taken->outcome).version, "2.0.1");
    EXPECT_FALSE(slot.take());  // the slot is empty after a take
}

TEST_F(WindowSinkTest, AnAttemptWithoutAWorkerEndsAsAFailureAtTheFirstStep) {
    OutcomeSlot slot;
    hand_off_unstarted_attempt(*log_, slot, window_, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(posted(), (std::vector<Posted>{{WM_INSTALL_DONE, 0, 0}}));
    std::optional<AttemptReport> taken = slot.take();
    ASSERT_TRUE(taken);
    const Failed& failed = std::get<Failed>(taken->outcome);
    EXPECT_EQ(failed.step, InstallStep::Checking);
    EXPECT_EQ(failed.message.rfind("Vantile could not start the install. ", 0), 0u)
        << failed.message;
    EXPECT_NE(failed.message.find("(os error 8)"), std::string::npos) << failed.message;
    ASSERT_EQ(lines_.size(), 2u);  // the report's lines, as the flow would have logged them
    EXPECT_EQ(lines_[0],
              "Vantile could not be installed. The step that failed: Checking this computer.");
    EXPECT_EQ(lines_[1], failed.message);
}

// A computer whose unpacking throws (out of memory, or what is no std::exception); every
// other step succeeds.
class ThrowingWhileUnpacking final : public InstallOperations {
  public:
    static constexpr const char* STAGING = "C:\\Temp\\.vantile-desktop-staging-5-6";
    explicit ThrowingWhileUnpacking(bool unknown) : unknown_(unknown) {}
    std::vector<std::string> removed;

    Status check_windows_build() override { return {}; }
    Result<std::string> locate_system_tar() override {
        return std::string("C:\\Windows\\System32\\tar.exe");
    }
    Architecture detect_architecture() override { return Architecture::X64; }
    Result<std::string> read_manifest(const ManifestSource&, const StopQuery&) override {
        return R"({"desktop-windows-x64":{"version":"1.4.0","url":"app.zip","size":4,"sha256":")" +
               std::string(64, 'a') + R"("}})";
    }
    Result<std::string> create_staging_folder() override { return std::string(STAGING); }
    Result<TransferEnd> download_to_file(const DownloadSource&, const std::string&,
                                         const ProgressObserver& observer,
                                         const StopQuery&) override {
        observer(4);
        return TransferEnd::Complete;
    }
    Result<FileDigest> sha256_of_file(const std::string&) override {
        return FileDigest{4, std::string(64, 'a')};
    }
    Status unpack_archive(const std::string&, const std::string&, const std::string&) override {
        if (unknown_) throw 42;
        throw std::bad_alloc();
    }
    Result<std::string> find_app_executable(const std::string&) override { return fail("none"); }
    Result<std::int32_t> run_app_installer(const std::string&) override { return 0; }
    std::string installer_exit_message(std::int32_t) override { return {}; }
    Status remove_staging_folder(const std::string& folder) override {
        removed.push_back(folder);
        return {};
    }

  private:
    bool unknown_;
};

// The worker's attempt ends in a report even when a step throws, whatever it throws: a
// failure at that step, logged, with the staging folder removed, and the window told.
TEST_F(WindowSinkTest, TheWorkerTurnsAnExceptionInAStepIntoAFailureOfThatStep) {
    struct Case {
        bool unknown;
        const char* message;
    };
    for (const Case& test : {Case{false, "The installer stopped unexpectedly: std::bad_alloc."},
                             Case{true, "The installer stopped unexpectedly."}}) {
        SCOPED_TRACE(test.message);
        lines_.clear();
        ThrowingWhileUnpacking computer(test.unknown);
        auto slot = std::make_shared<OutcomeSlot>();
        auto* task = new WorkerTask{LocalFile{"C:\\m\\metadata.json"},
                                    WindowSink(cancel_, log_, window_, [](std::uint32_t) {}),
                                    slot,
                                    &computer,
                                    window_,
                                    log_};
        EXPECT_EQ(run_worker_task(task), 0u);  // the task is the worker's and goes with it

        const std::vector<Posted> messages = posted();
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), (Posted{WM_INSTALL_DONE, 0, 0}));
        std::optional<AttemptReport> taken = slot->take();
        ASSERT_TRUE(taken);
        const Failed& failed = std::get<Failed>(taken->outcome);
        EXPECT_EQ(failed.step, InstallStep::Unpacking);
        EXPECT_EQ(failed.message, test.message);
        EXPECT_FALSE(taken->leftover_folder);
        EXPECT_EQ(computer.removed, (std::vector<std::string>{ThrowingWhileUnpacking::STAGING}));
        ASSERT_GE(lines_.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(lines_.end() - 2, lines_.end()),
                  (std::vector<std::string>{
                      "Vantile could not be installed. The step that failed: Unpacking Vantile.",
                      test.message}));
    }
}

// Lines from two threads never interleave: each write_line runs under the log's lock.
TEST(SharedLog, WritesOneWholeLineAtATime) {
    class PiecewiseLog final : public LineLog {
      public:
        void write_line(std::string_view text) override {
            // Written in pieces, as the install log does; a second writer would land between.
            for (char c : text) {
                out += c;
                std::this_thread::yield();
            }
            out += '\n';
        }
        std::string out;
    };
    auto piecewise = std::make_unique<PiecewiseLog>();
    PiecewiseLog& seen = *piecewise;
    SharedLog log(std::move(piecewise));
    auto writer = [&log](char c) {
        for (int i = 0; i < 200; ++i) log.write_line(std::string(16, c));
    };
    std::thread first(writer, 'a'), second(writer, 'b');
    first.join();
    second.join();
    std::size_t lines = 0;
    for (std::size_t start = 0; start < seen.out.size(); start += 17, ++lines) {
        const std::string line = seen.out.substr(start, 17);
        EXPECT_TRUE(line == std::string(16, 'a') + "\n" || line == std::string(16, 'b') + "\n")
            << line;
    }
    EXPECT_EQ(lines, 400u);
}

}  // namespace
}  // namespace vantile
