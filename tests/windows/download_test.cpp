// Copying a local source into the staging file: progress, stopping, truncation and the
// messages of each failure.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "windows/download.h"
#include "windows/error_text.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"
#include "../support/blocking_pipe.h"
#include "../support/guarded_object.h"

namespace vantile {
namespace {

namespace fs = std::filesystem;

std::string pattern_bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

class DownloadToFile : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  (L"vantile-download-test-" + std::to_wstring(GetCurrentProcessId()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::string path(const char* name) const { return from_wide((folder_ / name).wstring()); }

    static void write_file(const std::string& file, const std::string& bytes) {
        std::ofstream out(fs::path(to_wide(file)), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good());
    }
    static std::string read_file(const std::string& file) {
        std::ifstream in(fs::path(to_wide(file)), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path folder_;
};

TEST_F(DownloadToFile, CopiesAFileBlockByBlockAndReportsEveryTotal) {
    const std::string bytes = pattern_bytes(2 * TRANSFER_BUFFER_SIZE + 1234, 1);
    write_file(path("source.zip"), bytes);

    std::vector<std::uint64_t> totals;
    const Result<TransferEnd> status =
        download_to_file(LocalFile{path("source.zip")}, path("copy.zip"), [&](std::uint64_t total) {
            totals.push_back(total);
            return true;
        });

    ASSERT_TRUE(status.ok()) << status.error();
    EXPECT_EQ(status.value(), TransferEnd::Complete);
    EXPECT_EQ(totals, (std::vector<std::uint64_t>{65536, 131072, 132306}));
    EXPECT_EQ(read_file(path("copy.zip")), bytes);
}

TEST_F(DownloadToFile, EmptySourceGivesEmptyFileWithoutProgress) {
    write_file(path("empty.zip"), "");
    write_file(path("copy.zip"), "left over from before");
    int calls = 0;
    const Result<TransferEnd> status =
        download_to_file(LocalFile{path("empty.zip")}, path("copy.zip"),
                         [&](std::uint64_t) { return ++calls, true; });
    ASSERT_TRUE(status.ok()) << status.error();
    EXPECT_EQ(status.value(), TransferEnd::Complete);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(read_file(path("copy.zip")), "");
}

TEST_F(DownloadToFile, ObserverStopEndsTransferWithStoppedAndKeepsWhatWasWritten) {
    const std::string bytes = pattern_bytes(3 * TRANSFER_BUFFER_SIZE, 2);
    write_file(path("source.zip"), bytes);

    std::vector<std::uint64_t> totals;
    const Result<TransferEnd> end =
        download_to_file(LocalFile{path("source.zip")}, path("copy.zip"), [&](std::uint64_t total) {
            totals.push_back(total);
            return false;
        });

    ASSERT_TRUE(end.ok()) << end.error();
    EXPECT_EQ(end.value(), TransferEnd::Stopped);
    EXPECT_EQ(totals, (std::vector<std::uint64_t>{65536}));
    EXPECT_EQ(read_file(path("copy.zip")), bytes.substr(0, TRANSFER_BUFFER_SIZE));
}

TEST_F(DownloadToFile, MissingSourceNamesThePathAndTheOsError) {
    const std::string source = path("missing.zip");
    int calls = 0;
    const Result<TransferEnd> status = download_to_file(
        LocalFile{source}, path("copy.zip"), [&](std::uint64_t) { return ++calls, true; });
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(),
              "Could not read " + source + ": " + os_error_text(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(status.error().ends_with("(os error 2)")) << status.error();
    EXPECT_EQ(calls, 0);
}

TEST_F(DownloadToFile, DestinationInMissingFolderCannotBeCreated) {
    write_file(path("source.zip"), "archive");
    const std::string destination = path("no-such-folder\\copy.zip");
    int calls = 0;
    const Result<TransferEnd> status = download_to_file(
        LocalFile{path("source.zip")}, destination, [&](std::uint64_t) { return ++calls, true; });
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(),
              "Could not create " + destination + ": " + os_error_text(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(status.error().ends_with("(os error 3)")) << status.error();
    EXPECT_EQ(calls, 0);
}

TEST_F(DownloadToFile, EachCallStartsFromAnEmptyFile) {
    write_file(path("long.zip"), pattern_bytes(TRANSFER_BUFFER_SIZE + 10, 3));
    write_file(path("short.zip"), "short");
    const auto go_on = [](std::uint64_t) { return true; };

    ASSERT_TRUE(download_to_file(LocalFile{path("long.zip")}, path("copy.zip"), go_on).ok());
    ASSERT_TRUE(download_to_file(LocalFile{path("short.zip")}, path("copy.zip"), go_on).ok());

    EXPECT_EQ(read_file(path("copy.zip")), "short");
}

TEST_F(DownloadToFile, SourceAndDestinationStayOpenToOthers) {
    // Another program holding the source open for writing must not block the copy, and
    // the partly written destination can be read, written and deleted by others meanwhile.
    const std::string bytes = pattern_bytes(2 * TRANSFER_BUFFER_SIZE, 4);
    write_file(path("source.zip"), bytes);
    const std::wstring wide_source = to_wide(path("source.zip"));
    UniqueFile writer(CreateFileW(wide_source.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);

    const std::wstring wide_copy = to_wide(path("copy.zip"));
    bool opened_by_other = false;
    const Result<TransferEnd> status =
        download_to_file(LocalFile{path("source.zip")}, path("copy.zip"), [&](std::uint64_t) {
            UniqueFile other(CreateFileW(wide_copy.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
            opened_by_other = static_cast<bool>(other);
            return true;
        });

    ASSERT_TRUE(status.ok()) << status.error();
    EXPECT_EQ(status.value(), TransferEnd::Complete);
    EXPECT_TRUE(opened_by_other);
    EXPECT_EQ(read_file(path("copy.zip")), bytes);
}

TEST_F(DownloadToFile, WriteFailureIsReportedInsteadOfStopped) {
    // The destination is the client end of a pipe whose server goes away after the first
    // chunk: the next write fails, and that failure (not the stop it caused) is the result.
    const std::wstring pipe_name =
        L"\\\\.\\pipe\\vantile-download-test-" + std::to_wstring(GetCurrentProcessId());
    UniqueFile server(CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_INBOUND,
                                       PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 4 * TRANSFER_BUFFER_SIZE,
                                       0, nullptr));
    ASSERT_TRUE(server);
    write_file(path("source.zip"), pattern_bytes(3 * TRANSFER_BUFFER_SIZE, 5));

    const std::string destination = from_wide(pipe_name);
    std::vector<std::uint64_t> totals;
    const Result<TransferEnd> status =
        download_to_file(LocalFile{path("source.zip")}, destination, [&](std::uint64_t total) {
            totals.push_back(total);
            server.reset();
            return true;
        });

    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error(),
              "Could not write " + destination + ": " + os_error_text(ERROR_NO_DATA));
    EXPECT_EQ(totals, (std::vector<std::uint64_t>{65536}));
}

// A local source that stops answering (a share that hangs) is given up on like a stalled
// download: after the stall limit, or at once for a stop, with the system's own code for each;
// bytes that came before the hang are in the file. The read given up on ends later on its own
// thread and then touches nothing of the caller's: the source given is armed to tell.
TEST_F(DownloadToFile, ASourceThatHangsIsGivenUpOnAfterTheLimitOrAtAStop) {
    using Clock = std::chrono::steady_clock;
    struct Case {
        const char* name;
        std::string first_bytes;
        bool stop;
        const char* ending;
    };
    for (const Case& c : {Case{"stall limit", "", false, "(os error 1460)"},
                          Case{"stop request", "", true, "(os error 1223)"},
                          Case{"bytes, then a stall", "first bytes", false, "(os error 1460)"}}) {
        SCOPED_TRACE(c.name);
        BlockingPipe pipe;
        ASSERT_TRUE(pipe.ready()) << GetLastError();
        if (!c.first_bytes.empty()) pipe.write_when_opened(c.first_bytes);
        const std::string destination = path("hung.zip");
        const auto started = Clock::now();
        TransferWait wait{{}, std::chrono::milliseconds{c.stop ? 60000 : 300}};
        if (c.stop)
            wait.stop_requested = [&] {
                return Clock::now() - started > std::chrono::milliseconds{200};
            };
        std::vector<std::uint64_t> totals;
        GuardedObject<DownloadSource> source(LocalFile{pipe.path()});
        const std::set<DWORD> threads_before = threads_of_this_process();

        const Result<TransferEnd> result = download_to_file(
            source.get(), destination,
            [&](std::uint64_t total) {
                totals.push_back(total);
                return true;
            },
            wait);
        const double waited = std::chrono::duration<double>(Clock::now() - started).count();

        ASSERT_FALSE(result.ok());
        EXPECT_TRUE(result.error().starts_with("Could not read " + pipe.path() + ": "))
            << result.error();
        EXPECT_TRUE(result.error().ends_with(c.ending)) << result.error();
        // The error code says whether the limit or the stop ended it; the hung read never ends
        // by itself, so no upper bound is needed, and a loaded machine may return late.
        EXPECT_GE(waited, c.stop ? 0.2 : 0.3);
        const std::vector<std::uint64_t> expected_totals =
            c.first_bytes.empty() ? std::vector<std::uint64_t>{}
                                  : std::vector<std::uint64_t>{c.first_bytes.size()};
        EXPECT_EQ(totals, expected_totals);
        ASSERT_TRUE(source.arm()) << GetLastError();
        pipe.let_go();
        // The hung read now fails and its thread ends.
        EXPECT_TRUE(wait_for_threads_started_since(threads_before, std::chrono::seconds{20}));
        EXPECT_FALSE(source.touched());
        EXPECT_EQ(pipe.wrote(), !c.first_bytes.empty());
        EXPECT_EQ(read_file(destination), c.first_bytes);
    }
}

}  // namespace
}  // namespace vantile
