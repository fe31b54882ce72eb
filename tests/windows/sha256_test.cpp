#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "../shared/sha256_contract.h"
#include "windows/environment.h"
#include "windows/error_text.h"
#include "flow/sha256.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// Windows' CNG (bcrypt), the implementation the Windows build links.
struct CngSha256 {
    static Result<std::unique_ptr<Sha256>> start() { return start_sha256(); }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Cng, Sha256Contract, CngSha256);

// A private folder under the temporary folder for the files to hash.
class Sha256OfFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::optional<std::string> temp = temporary_folder();
        ASSERT_TRUE(temp.has_value());
        folder_ = *temp + "vantile-sha256-test-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(to_wide(folder_).c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
    }
    void TearDown() override {
        for (const std::string& path : written_) DeleteFileW(to_wide(path).c_str());
        RemoveDirectoryW(to_wide(folder_).c_str());
    }

    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = folder_ + "\\" + name;
        UniqueFile file(CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(file);
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr));
        EXPECT_EQ(written, bytes.size());
        written_.push_back(path);
        return path;
    }

    std::string folder_;
    std::vector<std::string> written_;
};

TEST_F(Sha256OfFile, SizeAndDigestOfFilesAroundOneBuffer) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* digest;
    };
    const Case cases[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // One full read, then a read that returns 0 bytes.
        {"exactly one buffer", std::string(HASH_BUFFER_SIZE, 'a'),
         "bf718b6f653bebc184e1479f1935b8da974d701b893afcf49e701f3e2f9f9c5a"},
        {"one byte past a buffer", std::string(HASH_BUFFER_SIZE + 1, 'a'),
         "008ffc88d3c96a9f307524eb361e47c5222a887fc45fa0c1fb8d429c5c23b430"},
        {"one million a", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<FileDigest> result = sha256_of_file(write("archive.zip", c.bytes));
        ASSERT_TRUE(result.ok()) << result.error();
        EXPECT_EQ(result.value().byte_count, c.bytes.size());
        EXPECT_EQ(result.value().digest, c.digest);
    }
}

TEST_F(Sha256OfFile, OthersMayWriteAndDeleteMeanwhile) {
    const std::string path = write("shared.zip", "abc");
    // Another program holding the file open for writing and deleting does not stop the read.
    UniqueFile other(CreateFileW(to_wide(path).c_str(), GENERIC_WRITE | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other);
    Result<FileDigest> result = sha256_of_file(path);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value().digest,
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(Sha256OfFile, UnreadableFilesGiveTheReadMessage) {
    const std::string missing = folder_ + "\\missing.zip";
    Result<FileDigest> gone = sha256_of_file(missing);
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(gone.error(),
              "Could not read " + missing + ": " + os_error_text(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(gone.error().ends_with(". (os error 2)")) << gone.error();

    const std::string locked = write("locked.zip", "abc");
    UniqueFile holder(CreateFileW(to_wide(locked).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    Result<FileDigest> busy = sha256_of_file(locked);
    ASSERT_FALSE(busy.ok());
    EXPECT_EQ(busy.error(),
              "Could not read " + locked + ": " + os_error_text(ERROR_SHARING_VIOLATION));
}

}  // namespace
}  // namespace vantile
