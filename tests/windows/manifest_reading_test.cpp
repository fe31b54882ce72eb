#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <set>
#include <string>

#include "flow/manifest_source.h"
#include "windows/environment.h"
#include "windows/error_text.h"
#include "windows/manifest_reading.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"
#include "../support/blocking_pipe.h"
#include "../support/guarded_object.h"

namespace vantile {
namespace {

// A fresh folder in the temporary folder for each test, removed with its files afterwards.
class ManifestReadingTest : public testing::Test {
  protected:
    void SetUp() override {
        std::optional<std::string> temp = temporary_folder();
        ASSERT_TRUE(temp.has_value());
        folder_ = *temp + "vantile-manifest-reading-" + std::to_string(GetCurrentProcessId()) +
                  "-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(CreateDirectoryW(to_wide(folder_).c_str(), nullptr)) << GetLastError();
    }

    void TearDown() override {
        for (const std::string& path : files_) DeleteFileW(to_wide(path).c_str());
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it)
            RemoveDirectoryW(to_wide(*it).c_str());
        RemoveDirectoryW(to_wide(folder_).c_str());
    }

    std::string write_file(const std::string& name, const std::string& bytes) {
        const std::string path = folder_ + "\\" + name;
        UniqueFile file(CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(file) << GetLastError();
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr));
        EXPECT_EQ(written, bytes.size());
        files_.push_back(path);
        return path;
    }

    std::string make_folder(const std::string& name) {
        const std::string path = folder_ + "\\" + name;
        EXPECT_TRUE(CreateDirectoryW(to_wide(path).c_str(), nullptr));
        folders_.push_back(path);
        return path;
    }

    std::string folder_;
    std::vector<std::string> files_;
    std::vector<std::string> folders_;
};

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

TEST_F(ManifestReadingTest, ReadsAFileUpToTheLimitWhole) {
    for (std::size_t size : {std::size_t{1}, std::size_t{65536}, std::size_t{65537},
                             std::size_t{MANIFEST_SIZE_LIMIT}}) {
        const std::string bytes = pattern(size);
        const std::string path = write_file("m" + std::to_string(size) + ".json", bytes);
        Result<std::string> read = read_manifest(LocalFile{path});
        ASSERT_TRUE(read.ok()) << size << ": " << read.error();
        EXPECT_EQ(read.value().size(), size);
        EXPECT_TRUE(read.value() == bytes) << size;
    }
}

TEST_F(ManifestReadingTest, AnEmptyFileReadsAsNoBytes) {
    const std::string path = write_file("empty.json", "");
    Result<std::string> read = read_manifest(LocalFile{path});
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read.value(), "");
}

TEST_F(ManifestReadingTest, AFileOneByteOverTheLimitIsRefused) {
    const std::string path = write_file("big.json", pattern(MANIFEST_SIZE_LIMIT + 1));
    Result<std::string> read = read_manifest(LocalFile{path});
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error(), "The manifest " + path + " is larger than a manifest can be.");
}

TEST_F(ManifestReadingTest, AMissingFileOrAFolderDoesNotExist) {
    const std::string folder = make_folder("metadata.json");
    for (const std::string& path :
         {folder_ + "\\missing.json", folder, folder + "\\", folder_ + "\\no\\such\\m.json"}) {
        SCOPED_TRACE(path);
        Result<std::string> read = read_manifest(LocalFile{path});
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error(), "The manifest " + path + " does not exist.");
    }
}

TEST_F(ManifestReadingTest, ARelativePathIsReadFromTheCurrentFolder) {
    write_file("relative.json", "{}");
    wchar_t previous[MAX_PATH + 1] = {};
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH + 1, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(to_wide(folder_).c_str()));
    Result<std::string> read = read_manifest(LocalFile{"relative.json"});
    SetCurrentDirectoryW(previous);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read.value(), "{}");
}

TEST_F(ManifestReadingTest, AFileHeldWithoutSharingCannotBeRead) {
    const std::string path = write_file("locked.json", "{}");
    UniqueFile holder(CreateFileW(to_wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    Result<std::string> read = read_manifest(LocalFile{path});
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error(), "Could not read the manifest " + path + ": " +
                                os_error_text(ERROR_SHARING_VIOLATION));
}

TEST_F(ManifestReadingTest, AFileOpenedForWritingByAnotherProgramIsStillRead) {
    const std::string path = write_file("shared.json", "{\"a\":1}");
    UniqueFile writer(CreateFileW(to_wide(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    Result<std::string> read = read_manifest(LocalFile{path});
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(read.value(), "{\"a\":1}");
}

// A local manifest that stops answering (a share that hangs in the check or in the read) is given
// up on after the stall limit, or at once for a stop, with the system's own code for each. The
// call given up on ends later on its own thread and then touches nothing of the caller's: the
// source given is armed to tell. Wine cannot measure a pipe, so the test's check stands in for
// the real one: it passes at once, or hangs until let go and then runs the real one.
TEST_F(ManifestReadingTest, AFileThatHangsIsGivenUpOnAndTouchesNothingOfTheCallerLater) {
    struct Case {
        const char* name;
        bool check_hangs;
        bool stop;
        const char* ending;
    };
    for (const Case& c : {Case{"read, stall limit", false, false, "(os error 1460)"},
                          Case{"read, stop request", false, true, "(os error 1223)"},
                          Case{"check, stall limit", true, false, "(os error 1460)"},
                          Case{"check, stop request", true, true, "(os error 1223)"}}) {
        SCOPED_TRACE(c.name);
        BlockingPipe pipe;
        ASSERT_TRUE(pipe.ready()) << GetLastError();
        const UniqueHandle check_let_go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(check_let_go);
        const ManifestFileCheck check = [hangs = c.check_hangs,
                                         let_go = check_let_go.get()](const std::string& path) {
            if (!hangs) return Status{};
            WaitForSingleObject(let_go, 20000);
            return check_manifest_file(path);
        };
        const auto started = std::chrono::steady_clock::now();
        TransferWait wait{{}, std::chrono::milliseconds{c.stop ? 60000 : 300}};
        if (c.stop)
            wait.stop_requested = [&] {
                return std::chrono::steady_clock::now() - started > std::chrono::milliseconds{200};
            };
        GuardedObject<ManifestSource> source(LocalFile{pipe.path()});
        const std::set<DWORD> threads_before = threads_of_this_process();

        Result<std::string> read =
            read_local_manifest(std::get<LocalFile>(source.get()).path, wait, check);

        ASSERT_FALSE(read.ok());
        EXPECT_TRUE(read.error().starts_with("Could not read the manifest " + pipe.path() + ": "))
            << read.error();
        EXPECT_TRUE(read.error().ends_with(c.ending)) << read.error();
        ASSERT_TRUE(source.arm()) << GetLastError();
        SetEvent(check_let_go.get());
        pipe.let_go();
        // The hung call now ends, and its thread with it.
        EXPECT_TRUE(wait_for_threads_started_since(threads_before, std::chrono::seconds{20}));
        EXPECT_FALSE(source.touched());
    }
}

}  // namespace
}  // namespace vantile
