// The install flow against a fake computer: step order, retries, cancel points,
// outcomes and the staging folder's removal on every path.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/text.h"
#include "flow/install_flow.h"
#include "flow/quiet_sink.h"

// A replaceable allocator that a test can tell to fail: while memory is "short", every
// allocation throws std::bad_alloc (or answers nothing, for the nothrow forms).
namespace failing_allocator {
std::atomic<bool> short_of_memory{false};
}  // namespace failing_allocator

namespace {
void* allocate(std::size_t size) noexcept {
    if (failing_allocator::short_of_memory.load()) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}
void* allocate_or_throw(std::size_t size) {
    if (void* memory = allocate(size)) return memory;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
    return allocate_or_throw(size);
}
void* operator new[](std::size_t size) {
    return allocate_or_throw(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

namespace vantile {
namespace {

void set_memory_short(bool shortage) {
    failing_allocator::short_of_memory = shortage;
}

const std::string GOOD_SHA = std::string(64, 'a');
const std::string BUILD_URL =
    "https://releases.mirrowfold.example/s3-mirrowfold-upgrade-3/vantile/desktop/1.4.0/app-x64.zip";
const ManifestSource ADDRESS_SOURCE = Address{"https://example.test/metadata.json"};

std::string manifest_json(std::int64_t size, const std::string& url = BUILD_URL) {
    return fill_template(
        R"({"desktop-windows-x64":{"version":"1.4.0","url":"{}","size":{},"sha256":"{}"}})",
        {url, std::to_string(size), GOOD_SHA});
}

// Records what the flow asked of the computer; each operation answers from a script.
class FakeComputer final : public InstallOperations {
  public:
    std::vector<std::string> calls;
    Status build_check;
    Result<std::string> tar = std::string("C:\\Windows\\System32\\tar.exe");
    Architecture architecture = Architecture::X64;
    std::deque<Result<std::string>> manifests;
    Result<std::string> staging = std::string("C:\\Temp\\.vantile-desktop-staging-1-2");
    // Each download try: the chunk sizes it delivers, then its result.
    struct Try {
        std::vector<std::uint64_t> chunks;
        Status result;
    };
    std::deque<Try> downloads;
    std::uint64_t hashed_bytes_override = UINT64_MAX;
    Status unpack;
    Result<std::string> program =
        std::string("C:\\Temp\\.vantile-desktop-staging-1-2\\zip\\Vantile.exe");
    Result<std::int32_t> installer_exit = 0;
    Status removal;
    std::function<void()> on_install;                // runs while "Vantile.exe" runs
    std::function<void()> on_read_manifest;          // runs during a manifest read
    std::function<void()> on_unpack;                 // runs while tar.exe runs
    std::function<void(std::uint64_t)> on_progress;  // runs after each chunk
    // Runs while the named transfer ("read_manifest", "download_to_file") waits for the network;
    // the try then fails if the flow's stop query asks it to stop.
    std::function<void(const std::string&)> while_waiting;
    std::vector<bool> stop_answers;  // what the stop query answered, in order
    std::uint64_t last_download_total = 0;
    std::string throwing_operation;  // this operation runs out of memory
    std::string throwing_unknown;    // this operation throws what is no std::exception
    std::string throwing_long_text;  // this operation throws a 300-character what()
    // Memory runs short once this operation has made its result, so the next allocation fails,
    // and it stays short until the staging removal begins (or for good).
    std::string short_after;
    bool memory_returns_for_removal = true;
    int removals = 0;  // counted without memory

    // Makes memory run short when its operation returns, once the result is made.
    class [[nodiscard]] Returning {
      public:
        explicit Returning(bool starve) : starve_(starve) {}
        ~Returning() {
            if (starve_) set_memory_short(true);
        }
        Returning(const Returning&) = delete;
        Returning& operator=(const Returning&) = delete;

      private:
        bool starve_;
    };

    // Records a call, "<operation> <detail>", and throws where the test asked for it.
    Returning enter(const std::string& operation, const std::string& detail = {}) {
        calls.push_back(detail.empty() ? operation : operation + " " + detail);
        if (throwing_operation == operation) throw std::bad_alloc();
        if (throwing_unknown == operation) throw 42;
        if (throwing_long_text == operation) throw std::runtime_error(std::string(300, 'x'));
        return Returning(short_after == operation);
    }

    Status check_windows_build() override {
        Returning returning = enter("check_windows_build");
        return build_check;
    }
    Result<std::string> locate_system_tar() override {
        Returning returning = enter("locate_system_tar");
        return tar;
    }
    Architecture detect_architecture() override {
        Returning returning = enter("detect_architecture");
        return architecture;
    }
    Result<std::string> read_manifest(const ManifestSource&,
                                      const StopQuery& stop_requested) override {
        Returning returning = enter("read_manifest");
        if (on_read_manifest) on_read_manifest();
        if (Status waited = wait("read_manifest", stop_requested); !waited)
            return fail(waited.error());
        Result<std::string> next = manifests.front();
        if (manifests.size() > 1) manifests.pop_front();
        return next;
    }
    Result<std::string> create_staging_folder() override {
        Returning returning = enter("create_staging_folder");
        return staging;
    }
    Result<TransferEnd> download_to_file(const DownloadSource&, const std::string& destination,
                                         const ProgressObserver& observer,
                                         const StopQuery& stop_requested) override {
        Returning returning = enter("download_to_file", destination);
        Try attempt = downloads.front();
        if (downloads.size() > 1) downloads.pop_front();
        if (Status waited = wait("download_to_file", stop_requested); !waited)
            return fail(waited.error());
        std::uint64_t total = 0;
        for (std::uint64_t chunk : attempt.chunks) {
            total += chunk;
            last_download_total = total;
            if (on_progress) on_progress(total);
            if (!observer(total)) return TransferEnd::Stopped;
        }
        if (!attempt.result) return fail(attempt.result.error());
        return TransferEnd::Complete;
    }
    Result<FileDigest> sha256_of_file(const std::string&) override {
        Returning returning = enter("sha256_of_file");
        std::uint64_t bytes =
            hashed_bytes_override != UINT64_MAX ? hashed_bytes_override : last_download_total;
        return FileDigest{bytes, GOOD_SHA};
    }
    Status unpack_archive(const std::string&, const std::string&,
                          const std::string& folder) override {
        Returning returning = enter("unpack_archive", folder);
        if (on_unpack) on_unpack();
        return unpack;
    }
    Result<std::string> find_app_executable(const std::string&) override {
        Returning returning = enter("find_app_executable");
        return program;
    }
    Result<std::int32_t> run_app_installer(const std::string&) override {
        Returning returning = enter("run_app_installer");
        if (on_install) on_install();
        return installer_exit;
    }
    std::string installer_exit_message(std::int32_t code) override {
        Returning returning = enter("installer_exit_message");
        return "installer exit " + std::to_string(code);
    }
    Status remove_staging_folder(const std::string& folder) override {
        ++removals;
        if (memory_returns_for_removal) set_memory_short(false);
        Returning returning = enter("remove_staging_folder", folder);
        return removal;
    }

  private:
    Status wait(const std::string& transfer, const StopQuery& stop_requested) {
        if (!while_waiting) return {};
        stop_answers.push_back(stop_requested());
        while_waiting(transfer);
        stop_answers.push_back(stop_requested());
        if (stop_answers.back()) return fail("The download stopped waiting: cancelled.");
        return {};
    }
};

// A computer on which everything works: its manifest names a build of `size` bytes, and every
// download try delivers `chunks`.
FakeComputer computer_with_release(std::int64_t size = 100,
                                   std::vector<std::uint64_t> chunks = {100}) {
    FakeComputer computer;
    computer.manifests = {manifest_json(size)};
    computer.downloads = {{std::move(chunks), {}}};
    return computer;
}

// How often the computer was asked for an operation (whatever the detail of each call).
long calls_of(const FakeComputer& computer, const std::string& operation) {
    return std::count_if(computer.calls.begin(), computer.calls.end(),
                         [&](const std::string& call) {
                             return call == operation || call.rfind(operation + " ", 0) == 0;
                         });
}

// Records the sink's events; a cancel can be requested at a chosen moment.
class RecordingSink final : public ProgressSink {
  public:
    std::vector<std::string> lines;
    std::vector<std::string> retries;
    std::vector<std::uint64_t> progress;
    bool cancel = false;
    std::function<void(InstallStep)> before_step;

    StepAnswer begin_step(InstallStep step) override {
        if (before_step) before_step(step);
        if (cancel) return StepAnswer::Cancelled;
        lines.push_back(step_log_text(step));
        return StepAnswer::GoOn;
    }
    void log_line(std::string_view text) override { lines.emplace_back(text); }
    void retrying(std::string_view message, std::uint32_t try_number,
                  std::uint32_t limit) override {
        retries.push_back(std::string(message) + " " + std::to_string(try_number) + "/" +
                          std::to_string(limit));
    }
    bool report_progress(std::uint64_t received, std::uint64_t) override {
        progress.push_back(received);
        return !cancel;
    }
    bool is_cancelled() override { return cancel; }
};

class InstallFlowTest : public ::testing::Test {
  protected:
    FakeComputer computer = computer_with_release(100, {60, 40});
    RecordingSink sink;

    AttemptReport run(const ManifestSource& source = ADDRESS_SOURCE) {
        return run_install_flow(source, sink, computer);
    }
};

TEST_F(InstallFlowTest, SuccessfulInstallRunsTheStepsInOrderAndRemovesStaging) {
    AttemptReport report = run();
    ASSERT_TRUE(std::holds_alternative<Installed>(report.outcome));
    EXPECT_EQ(std::get<Installed>(report.outcome).version, "1.4.0");
    EXPECT_FALSE(report.leftover_folder);
    const std::string staging = "C:\\Temp\\.vantile-desktop-staging-1-2";
    EXPECT_EQ(
        computer.calls,
        (std::vector<std::string>{
            "check_windows_build", "locate_system_tar", "detect_architecture", "read_manifest",
            "create_staging_folder", "download_to_file " + staging + "\\vantile-desktop.zip",
            "sha256_of_file", "unpack_archive " + staging + "\\zip", "find_app_executable",
            "run_app_installer", "remove_staging_folder " + staging}));
    EXPECT_EQ(
        sink.lines,
        (std::vector<std::string>{
            "Checking this computer\u2026", "Reading the release manifest\u2026",
            "Manifest: https://example.test/metadata.json",
            "Installing the Vantile desktop app 1.4.0 for win32-x64 (desktop-windows-x64)",
            "Downloading Vantile\u2026", "Unpacking Vantile\u2026", "Installing Vantile\u2026",
            "Vantile 1.4.0 is installed, and it is opening now."}));
    EXPECT_EQ(sink.progress, (std::vector<std::uint64_t>{60, 100}));
}

TEST_F(InstallFlowTest, CheckingFailureEndsBeforeAnythingIsReadAndLeavesNoStaging) {
    computer.build_check = fail("old build");
    AttemptReport report = run();
    ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
    EXPECT_EQ(std::get<Failed>(report.outcome).step, InstallStep::Checking);
    EXPECT_EQ(computer.calls, (std::vector<std::string>{"check_windows_build"}));
    EXPECT_EQ(sink.lines.back(), "old build");
}

TEST_F(InstallFlowTest, AddressManifestIsTriedThreeTimesWithRetryNotices) {
    computer.manifests = {fail("first"), fail("second"), fail("third")};
    AttemptReport report = run();
    ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
    EXPECT_EQ(std::get<Failed>(report.outcome).message, "third");
    EXPECT_EQ(std::get<Failed>(report.outcome).step, InstallStep::ReadingManifest);
    EXPECT_EQ(sink.retries, (std::vector<std::string>{"first 2/3", "second 3/3"}));
}

TEST_F(InstallFlowTest, FileManifestIsReadOnce) {
    computer.manifests = {fail("cannot read")};
    AttemptReport report = run(LocalFile{"C:\\m.json"});
    ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
    EXPECT_EQ(std::get<Failed>(report.outcome).message, "cannot read");
    EXPECT_EQ(calls_of(computer, "read_manifest"), 1);
    EXPECT_TRUE(sink.retries.empty());
}

TEST_F(InstallFlowTest, SecondManifestTrySucceeds) {
    computer.manifests = {fail("flaky"), manifest_json(100)};
    EXPECT_TRUE(std::holds_alternative<Installed>(run().outcome));
    EXPECT_EQ(sink.retries, (std::vector<std::string>{"flaky 2/3"}));
}

TEST_F(InstallFlowTest, CancelDuringAFailedManifestReadStopsTryingAndCountsAsCancelled) {
    computer.manifests = {fail("unreachable")};
    computer.on_read_manifest = [&] { sink.cancel = true; };
    AttemptReport report = run();
    EXPECT_TRUE(std::holds_alternative<Cancelled>(report.outcome));
    EXPECT_EQ(calls_of(computer, "read_manifest"), 1);
    EXPECT_TRUE(sink.retries.empty());
    EXPECT_EQ(sink.lines.back(), "The install was cancelled. Nothing was installed.");
}

TEST_F(InstallFlowTest, CancelWhileATransferWaitsEndsTheWaitAndTheAttemptWithoutARetry) {
    for (const std::string waiting : {"read_manifest", "download_to_file"}) {
        SCOPED_TRACE(waiting);
        FakeComputer computer = computer_with_release(100, {60, 40});
        RecordingSink sink;
        computer.while_waiting = [&](const std::string& transfer) {
            if (transfer == waiting) sink.cancel = true;
        };
        AttemptReport report = run_install_flow(ADDRESS_SOURCE, sink, computer);

        EXPECT_TRUE(std::holds_alternative<Cancelled>(report.outcome));
        EXPECT_TRUE(sink.retries.empty());
        EXPECT_EQ(calls_of(computer, waiting), 1);
        EXPECT_EQ(calls_of(computer, "sha256_of_file"), 0);
        // The query follows the sink: no stop until the cancel, then a stop.
        EXPECT_EQ(computer.stop_answers.back(), true);
        EXPECT_EQ(std::count(computer.stop_answers.begin(), computer.stop_answers.end(), true), 1);
        const bool staged = waiting == "download_to_file";
        EXPECT_EQ(
            computer.calls.back() == "remove_staging_folder C:\\Temp\\.vantile-desktop-staging-1-2",
            staged);
        EXPECT_EQ(sink.lines.back(), "The install was cancelled. Nothing was installed.");
    }
}

// Every step's gate honours a cancel: the step's line is not written, its first operation is
// never asked for, and a staging folder made before it still goes.
TEST_F(InstallFlowTest, CancelBeforeAnyStepBeginsEndsCancelledBeforeThatStepsFirstOperation) {
    struct Case {
        InstallStep step;
        const char* line;
        const char* first_operation;
        bool staged;
    };
    for (const Case& test : std::vector<Case>{
             {InstallStep::Checking, "Checking this computer\u2026", "check_windows_build", false},
             {InstallStep::ReadingManifest, "Reading the release manifest\u2026", "read_manifest",
              false},
             {InstallStep::Downloading, "Downloading Vantile\u2026", "create_staging_folder",
              false},
             {InstallStep::Unpacking, "Unpacking Vantile\u2026", "unpack_archive", true},
             {InstallStep::Installing, "Installing Vantile\u2026", "run_app_installer", true},
         }) {
        SCOPED_TRACE(test.line);
        FakeComputer c = computer_with_release();
        RecordingSink s;
        s.before_step = [&](InstallStep step) {
            if (step == test.step) s.cancel = true;
        };
        AttemptReport report = run_install_flow(ADDRESS_SOURCE, s, c);

        EXPECT_TRUE(std::holds_alternative<Cancelled>(report.outcome));
        EXPECT_EQ(std::find(s.lines.begin(), s.lines.end(), test.line), s.lines.end());
        EXPECT_EQ(calls_of(c, test.first_operation), 0);
        EXPECT_EQ(calls_of(c, "remove_staging_folder"), test.staged ? 1 : 0);
        EXPECT_EQ(s.lines.back(), "The install was cancelled. Nothing was installed.");
    }
}

TEST_F(InstallFlowTest, CancelDuringDownloadRemovesStagingAndDoesNotRetry) {
    computer.on_progress = [&](std::uint64_t total) {
        if (total >= 60) sink.cancel = true;
    };
    AttemptReport report = run();
    EXPECT_TRUE(std::holds_alternative<Cancelled>(report.outcome));
    EXPECT_TRUE(sink.retries.empty());
    EXPECT_EQ(calls_of(computer, "download_to_file"), 1);
    EXPECT_EQ(computer.calls.back(),
              "remove_staging_folder C:\\Temp\\.vantile-desktop-staging-1-2");
}

TEST_F(InstallFlowTest, FailureAfterCancelRequestCountsAsCancelledUntilInstallingBegins) {
    computer.unpack = fail("tar failed");
    sink.before_step = [&](InstallStep step) {
        // The request reaches the flow while unpacking runs (after its begin_step).
        if (step == InstallStep::Unpacking) computer.on_unpack = [&] { sink.cancel = true; };
    };
    EXPECT_TRUE(std::holds_alternative<Cancelled>(run().outcome));
}

TEST_F(InstallFlowTest, CancelRequestDuringInstallingDoesNotChangeTheOutcome) {
    computer.on_install = [&] { sink.cancel = true; };
    EXPECT_TRUE(std::holds_alternative<Installed>(run().outcome));

    RecordingSink second_sink;
    FakeComputer failing = computer_with_release();
    failing.installer_exit = 3;
    failing.on_install = [&] { second_sink.cancel = true; };
    AttemptReport report = run_install_flow(ADDRESS_SOURCE, second_sink, failing);
    ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
    EXPECT_EQ(std::get<Failed>(report.outcome).step, InstallStep::Installing);
    EXPECT_EQ(std::get<Failed>(report.outcome).message, "installer exit 3");
}

TEST_F(InstallFlowTest, ShortDownloadIsRetriedThenJudgedBySize) {
    computer.downloads = {{{50}, {}}};
    AttemptReport report = run();
    EXPECT_EQ(sink.retries,
              (std::vector<std::string>{"The download stopped at 50 of 100 bytes. 2/3",
                                        "The download stopped at 50 of 100 bytes. 3/3"}));
    ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
    EXPECT_EQ(std::get<Failed>(report.outcome).step, InstallStep::Downloading);
    EXPECT_EQ(calls_of(computer, "download_to_file"), 3);
    EXPECT_EQ(calls_of(computer, "sha256_of_file"), 1);
}

TEST_F(InstallFlowTest, OverrunStopsAtTheCrossingChunkWithoutRetryOrHashing) {
    computer.downloads = {{{60, 60, 60}, {}}};
    AttemptReport report = run();
    EXPECT_TRUE(sink.retries.empty());
    EXPECT_EQ(calls_of(computer, "download_to_file"), 1);
    EXPECT_EQ(computer.last_download_total, 120u);
    EXPECT_EQ(calls_of(computer, "sha256_of_file"), 0);
    ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
    EXPECT_NE(
        std::get<Failed>(report.outcome).message.find(" is 120 bytes, but the manifest says 100"),
        std::string::npos);
}

TEST_F(InstallFlowTest, ManifestSizeOfZeroOrBelowStopsAtTheFirstChunk) {
    for (std::int64_t size : {0, -5}) {
        SCOPED_TRACE(size);
        FakeComputer c = computer_with_release(size, {10, 10});
        RecordingSink s;
        AttemptReport report = run_install_flow(ADDRESS_SOURCE, s, c);
        EXPECT_EQ(c.last_download_total, 10u);
        ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
        EXPECT_NE(std::get<Failed>(report.outcome)
                      .message.find("is 10 bytes, but the manifest says " + std::to_string(size)),
                  std::string::npos);
    }
}

TEST_F(InstallFlowTest, FailedDownloadTriesAreRetriedWithTheirMessages) {
    computer.downloads = {
        {{10}, fail("reset one")}, {{}, fail("reset two")}, {{}, fail("reset three")}};
    AttemptReport report = run();
    EXPECT_EQ(sink.retries, (std::vector<std::string>{"reset one 2/3", "reset two 3/3"}));
    EXPECT_EQ(calls_of(computer, "download_to_file"), 3);
    ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
    EXPECT_EQ(std::get<Failed>(report.outcome).message, "reset three");
}

TEST_F(InstallFlowTest, LocalBuildIsDownloadedOnce) {
    computer.manifests = {manifest_json(100, "app.zip")};
    computer.downloads = {{{}, fail("Could not read D:\\test\\app.zip: gone")}};
    AttemptReport report = run(LocalFile{"D:\\test\\metadata.json"});
    EXPECT_EQ(calls_of(computer, "download_to_file"), 1);
    EXPECT_TRUE(sink.retries.empty());
    ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
    EXPECT_EQ(std::get<Failed>(report.outcome).message, "Could not read D:\\test\\app.zip: gone");
}

TEST_F(InstallFlowTest, LeftoverStagingAddsTheReportLinesButKeepsTheOutcome) {
    computer.removal = fail("The process cannot access the file (os error 32)");
    AttemptReport report = run();
    ASSERT_TRUE(std::holds_alternative<Installed>(report.outcome));
    EXPECT_EQ(report.leftover_folder, "C:\\Temp\\.vantile-desktop-staging-1-2");
    EXPECT_EQ(report.removal_error, "The process cannot access the file (os error 32)");
    ASSERT_GE(sink.lines.size(), 4u);
    EXPECT_EQ(sink.lines[sink.lines.size() - 3],
              "Temporary files remain at C:\\Temp\\.vantile-desktop-staging-1-2.");
    EXPECT_EQ(sink.lines[sink.lines.size() - 2], "Vantile was installed and can be used.");
}

TEST_F(InstallFlowTest, FailuresOfLaterStepsNameTheirStep) {
    struct Case {
        const char* name;
        std::function<void(FakeComputer&)> arrange;
        InstallStep step;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"tar missing", [](FakeComputer& c) { c.tar = fail("no tar"); }, InstallStep::Checking,
         "no tar"},
        {"untrusted url",
         [](FakeComputer& c) {
             c.manifests = {manifest_json(100, "https://evil.example/vantile/desktop/a.zip")};
         },
         InstallStep::Downloading,
         "The manifest names https://evil.example/vantile/desktop/a.zip, which is not one of "
         "Vantile's downloads."},
        {"staging", [](FakeComputer& c) { c.staging = fail("no temp"); }, InstallStep::Downloading,
         "no temp"},
        {"unpack", [](FakeComputer& c) { c.unpack = fail("tar said no"); }, InstallStep::Unpacking,
         "tar said no"},
        {"no app", [](FakeComputer& c) { c.program = fail("no Vantile.exe"); },
         InstallStep::Unpacking, "no Vantile.exe"},
        {"cannot start", [](FakeComputer& c) { c.installer_exit = fail("Could not start"); },
         InstallStep::Installing, "Could not start"},
        {"exit 3", [](FakeComputer& c) { c.installer_exit = 3; }, InstallStep::Installing,
         "installer exit 3"},
        // A crash (0xC0000005) reads as a negative code, and fails the attempt all the same.
        {"crash", [](FakeComputer& c) { c.installer_exit = -1073741819; }, InstallStep::Installing,
         "installer exit -1073741819"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        FakeComputer c = computer_with_release();
        RecordingSink s;
        test.arrange(c);
        AttemptReport report = run_install_flow(ADDRESS_SOURCE, s, c);
        ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
        EXPECT_EQ(std::get<Failed>(report.outcome).step, test.step);
        EXPECT_EQ(std::get<Failed>(report.outcome).message, test.message);
        bool staged =
            std::find(c.calls.begin(), c.calls.end(), "create_staging_folder") != c.calls.end() &&
            c.staging.ok();
        EXPECT_EQ(c.calls.back().rfind("remove_staging_folder", 0) == 0, staged);
    }
}

// Each operation of the seam in the order an attempt calls it, the step it runs in, and
// whether the staging folder exists when it is called and once it has returned.
struct OperationStep {
    const char* operation;
    InstallStep step;
    bool staged_before;
    bool staged_after;
};
const OperationStep OPERATION_STEPS[] = {
    {"check_windows_build", InstallStep::Checking, false, false},
    {"detect_architecture", InstallStep::Checking, false, false},
    {"read_manifest", InstallStep::ReadingManifest, false, false},
    {"create_staging_folder", InstallStep::Downloading, false, true},
    {"download_to_file", InstallStep::Downloading, true, true},
    {"sha256_of_file", InstallStep::Downloading, true, true},
    {"unpack_archive", InstallStep::Unpacking, true, true},
    {"find_app_executable", InstallStep::Unpacking, true, true},
    {"run_app_installer", InstallStep::Installing, true, true},
    {"installer_exit_message", InstallStep::Installing, true, true},
};

const OperationStep& operation_step(std::string_view operation) {
    for (const OperationStep& row : OPERATION_STEPS)
        if (row.operation == operation) return row;
    ADD_FAILURE() << operation << " is not in the table";
    return OPERATION_STEPS[0];
}

// The headline of an attempt that failed in each step.
std::string failed_headline(InstallStep step) {
    switch (step) {
        case InstallStep::Checking:
            return "Vantile could not be installed. The step that failed: Checking this computer.";
        case InstallStep::ReadingManifest:
            return "Vantile could not be installed. The step that failed: Reading the release "
                   "manifest.";
        case InstallStep::Downloading:
            return "Vantile could not be installed. The step that failed: Downloading Vantile.";
        case InstallStep::Unpacking:
            return "Vantile could not be installed. The step that failed: Unpacking Vantile.";
        case InstallStep::Installing:
            return "Vantile could not be installed. The step that failed: Installing Vantile.";
    }
    return {};
}

// An exception in any operation ends the attempt as a failure of the step that had begun:
// the report is logged, the exit code is 1, and a staging folder that was made goes. Any
// exception counts, not only those derived from std::exception.
TEST_F(InstallFlowTest, AnExceptionInAnyStepFailsThatStepAndStillRemovesStaging) {
    const std::string staging = "C:\\Temp\\.vantile-desktop-staging-1-2";
    struct Thrown {
        const char* kind;
        std::string FakeComputer::*knob;
        const char* message;
    };
    for (const Thrown& thrown : {Thrown{"std::bad_alloc", &FakeComputer::throwing_operation,
                                        "The installer stopped unexpectedly: std::bad_alloc."},
                                 Thrown{"an int", &FakeComputer::throwing_unknown,
                                        "The installer stopped unexpectedly."}}) {
        for (const OperationStep& test : OPERATION_STEPS) {
            SCOPED_TRACE(std::string(test.operation) + " throws " + thrown.kind);
            FakeComputer c = computer_with_release();
            RecordingSink s;
            c.installer_exit = 3;  // so that the exit message is asked for
            c.*thrown.knob = test.operation;
            AttemptReport report = run_install_flow(ADDRESS_SOURCE, s, c);
            ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
            EXPECT_EQ(std::get<Failed>(report.outcome).step, test.step);
            EXPECT_EQ(exit_code_for(report.outcome), 1);
            EXPECT_FALSE(report.leftover_folder);
            ASSERT_GE(s.lines.size(), 2u);
            EXPECT_EQ(std::vector<std::string>(s.lines.end() - 2, s.lines.end()),
                      (std::vector<std::string>{failed_headline(test.step), thrown.message}));
            // The operation that threw is the last one before the removal, if any.
            if (test.staged_before) {
                ASSERT_GE(c.calls.size(), 2u);
                EXPECT_EQ(c.calls.back(), "remove_staging_folder " + staging);
                EXPECT_EQ(c.calls[c.calls.size() - 2].rfind(test.operation, 0), 0u);
            } else {
                EXPECT_EQ(c.calls.back(), test.operation);
            }
        }
    }
}

// Memory that runs short and stays short: the flow's own handling of the exception needs none,
// so the attempt still ends in a report that fails the step that had begun. The staging folder
// goes once memory is back; when it never comes back, the folder is named as left over, and
// the log, which needs memory, loses the report. Either way nothing escapes.
TEST_F(InstallFlowTest, MemoryThatStaysShortStillEndsInAFailureOfTheStep) {
    // The folder exists from create_staging_folder on, so it is recorded for removal without
    // any memory.
    const char* const short_after_operations[] = {"check_windows_build",   "read_manifest",
                                                  "create_staging_folder", "download_to_file",
                                                  "unpack_archive",        "run_app_installer"};
    const std::string out_of_memory = "The installer stopped unexpectedly: std::bad_alloc.";
    const std::string staging = "C:\\Temp\\.vantile-desktop-staging-1-2";
    for (const bool memory_returns : {true, false}) {
        for (const char* short_after : short_after_operations) {
            const OperationStep& test = operation_step(short_after);
            const std::string headline = failed_headline(test.step);
            SCOPED_TRACE(std::string("short after ") + short_after +
                         (memory_returns ? ", back for the removal" : ", for good"));
            FakeComputer c = computer_with_release();
            RecordingSink s;
            c.installer_exit = 3;  // the exit message is the allocation that fails
            c.short_after = short_after;
            c.memory_returns_for_removal = memory_returns;
            AttemptReport report = run_install_flow(ADDRESS_SOURCE, s, c);
            set_memory_short(false);

            ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
            EXPECT_EQ(std::get<Failed>(report.outcome).step, test.step);
            EXPECT_EQ(std::get<Failed>(report.outcome).message, out_of_memory);
            EXPECT_EQ(c.removals, test.staged_after ? 1 : 0);
            const bool left_over = test.staged_after && !memory_returns;
            EXPECT_EQ(report.leftover_folder, left_over ? std::optional(staging) : std::nullopt);
            EXPECT_EQ(report.removal_error, left_over ? out_of_memory : "");
            // Without a removal, memory never came back for the log.
            if (memory_returns && test.staged_after) {
                ASSERT_GE(s.lines.size(), 2u);
                EXPECT_EQ(std::vector<std::string>(s.lines.end() - 2, s.lines.end()),
                          (std::vector<std::string>{headline, out_of_memory}));
            } else {
                EXPECT_EQ(std::find(s.lines.begin(), s.lines.end(), headline), s.lines.end());
            }
        }
    }
}

TEST_F(InstallFlowTest, AnExceptionsLongTextIsCutToTheRoomKeptForTheMessage) {
    computer.throwing_long_text = "download_to_file";
    AttemptReport report = run();
    ASSERT_TRUE(std::holds_alternative<Failed>(report.outcome));
    const std::string& message = std::get<Failed>(report.outcome).message;
    // 36 characters before the text, 219 of it, the full stop: 256 in all.
    EXPECT_EQ(message, "The installer stopped unexpectedly: " + std::string(219, 'x') + ".");
    EXPECT_EQ(message.size(), 256u);
}

TEST_F(InstallFlowTest, AnExceptionWhileRemovingStagingLeavesItNamedAndKeepsTheOutcome) {
    computer.throwing_operation = "remove_staging_folder";
    AttemptReport report = run();
    ASSERT_TRUE(std::holds_alternative<Installed>(report.outcome));
    EXPECT_EQ(report.leftover_folder, "C:\\Temp\\.vantile-desktop-staging-1-2");
    EXPECT_EQ(report.removal_error, "The installer stopped unexpectedly: std::bad_alloc.");
    ASSERT_GE(sink.lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(sink.lines.end() - 4, sink.lines.end()),
              (std::vector<std::string>{
                  "Vantile 1.4.0 is installed, and it is opening now.",
                  "Temporary files remain at C:\\Temp\\.vantile-desktop-staging-1-2.",
                  "Vantile was installed and can be used.",
                  "Close anything using that folder, then remove it. The installer stopped "
                  "unexpectedly: std::bad_alloc."}));
}

TEST(QuietSinkTest, WritesStepAndRetryLinesAndPausesTwoSeconds) {
    struct Recorder final : LineLog {
        std::vector<std::string> lines;
        void write_line(std::string_view text) override { lines.emplace_back(text); }
    } log;
    std::vector<std::uint32_t> pauses;
    QuietSink sink(log, [&](std::uint32_t ms) { pauses.push_back(ms); });
    EXPECT_EQ(sink.begin_step(InstallStep::Downloading), StepAnswer::GoOn);
    sink.retrying("Could not download x: y", 2, 3);
    EXPECT_TRUE(sink.report_progress(5, 10));
    EXPECT_FALSE(sink.is_cancelled());
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"Downloading Vantile\u2026", "Could not download x: y",
                                        "Connection interrupted; retrying (2/3)..."}));
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{2000}));
}

TEST(ProgressPositionTest, PerMilleRoundedDownAndCapped) {
    struct Case {
        std::uint64_t received, expected;
        std::uint32_t position;
    };
    for (const Case& c : std::vector<Case>{{0, 0, 0},
                                           {5, 0, 0},
                                           {1, 2000, 0},
                                           {2, 2000, 1},
                                           {1999, 2000, 999},
                                           {2000, 2000, 1000},
                                           {9000, 2000, 1000},
                                           {1, 3, 333}}) {
        SCOPED_TRACE(std::to_string(c.received) + "/" + std::to_string(c.expected));
        EXPECT_EQ(progress_position(c.received, c.expected), c.position);
    }
}

}  // namespace
}  // namespace vantile
