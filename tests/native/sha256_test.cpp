#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "flow/sha256.h"
#include "../shared/sha256_contract.h"

namespace vantile {
namespace {

// OpenSSL's libcrypto, the implementation the native build links.
struct OpenSslSha256 {
    static Result<std::unique_ptr<Sha256>> start() { return start_sha256(); }
};
INSTANTIATE_TYPED_TEST_SUITE_P(OpenSsl, Sha256Contract, OpenSslSha256);

TEST(Sha256Hex, LowerCaseTwoDigitsPerByteInOrder) {
    const Sha256Digest digest = {0x00, 0x01, 0x09, 0x0a, 0x0f, 0x10, 0x1f, 0x7f, 0x80, 0x9a, 0xa0,
                                 0xab, 0xbc, 0xcd, 0xde, 0xef, 0xf0, 0xfe, 0xff, 0x12, 0x34, 0x56,
                                 0x78, 0x9a, 0xbc, 0xde, 0xf0, 0x0d, 0xd0, 0x05, 0x50, 0xff};
    EXPECT_EQ(sha256_hex(digest),
              "0001090a0f101f7f809aa0abbccddeeff0feff123456789abcdef00dd00550ff");
}

// A scripted reader: hands out the given pieces, then 0 bytes, and records what it was asked.
struct ScriptedReader {
    std::vector<std::string> pieces;
    std::size_t next = 0;
    std::vector<std::size_t> capacities;
    std::vector<bool> buffer_was_zero;
    std::optional<std::string> failure_at_end;

    ChunkReader reader() {
        return [this](std::uint8_t* buffer, std::size_t capacity) -> Result<std::size_t> {
            capacities.push_back(capacity);
            buffer_was_zero.push_back(
                std::all_of(buffer, buffer + capacity, [](std::uint8_t b) { return b == 0; }));
            if (next == pieces.size()) {
                if (failure_at_end) return fail(*failure_at_end);
                ++next;
                return std::size_t{0};
            }
            if (next > pieces.size()) return fail("read again after the end");
            const std::string& piece = pieces[next++];
            std::copy(piece.begin(), piece.end(), buffer);
            return piece.size();
        };
    }
};

Result<FileDigest> hash_script(ScriptedReader& script) {
    Result<std::unique_ptr<Sha256>> started = start_sha256();
    if (!started) return fail(started.error());
    return sha256_of_stream("C:\\staging\\app.zip", *started.value(), script.reader());
}

TEST(Sha256OfStream, HashesEveryPieceAndStopsAtTheFirstEmptyRead) {
    ScriptedReader script;
    script.pieces = {"a", "bcdbcdecdefdefgefghfghighijhijkij", "kljklmklmnlmnomnopnopq"};
    Result<FileDigest> result = hash_script(script);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value().byte_count, 56u);
    EXPECT_EQ(result.value().digest,
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // One read per piece plus the empty one; nothing after it.
    EXPECT_EQ(script.capacities, (std::vector<std::size_t>(4, HASH_BUFFER_SIZE)));
    EXPECT_TRUE(script.buffer_was_zero.front());
}

TEST(Sha256OfStream, EmptyInputIsTheDigestOfNothing) {
    ScriptedReader script;
    Result<FileDigest> result = hash_script(script);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result.value().byte_count, 0u);
    EXPECT_EQ(result.value().digest,
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(script.capacities.size(), 1u);
}

TEST(Sha256OfStream, FailuresNameThePathAndTheReason) {
    struct Case {
        const char* name;
        ChunkReader reader;
        const char* message;
    };
    ScriptedReader failing;
    failing.pieces = {"abc"};
    failing.failure_at_end = "The device is not ready. (os error 21)";
    const Case cases[] = {
        {"read fails after data", failing.reader(),
         "Could not read C:\\staging\\app.zip: The device is not ready. (os error 21)"},
        {"reader claims more than the buffer",
         [](std::uint8_t*, std::size_t capacity) -> Result<std::size_t> { return capacity + 1; },
         "Could not read C:\\staging\\app.zip: read returned more bytes than asked for"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<std::unique_ptr<Sha256>> started = start_sha256();
        ASSERT_TRUE(started.ok());
        Result<FileDigest> result =
            sha256_of_stream("C:\\staging\\app.zip", *started.value(), c.reader);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error(), c.message);
    }
}

// A private folder for files to hash, removed afterwards.
class Sha256OfFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vantile-sha256-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string write(const std::string& name, const std::string& bytes) {
        std::filesystem::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::filesystem::path folder_;
};

TEST_F(Sha256OfFile, SizeAndDigestOfFilesAroundOneBuffer) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"abc", "abc"},
        {"one byte short of a buffer", std::string(HASH_BUFFER_SIZE - 1, 'x')},
        {"exactly one buffer", std::string(HASH_BUFFER_SIZE, 'y')},
        {"one byte past a buffer", std::string(HASH_BUFFER_SIZE + 1, 'z')},
        {"one million a", std::string(1000000, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<FileDigest> result = sha256_of_file(write("file.bin", c.bytes));
        ASSERT_TRUE(result.ok()) << result.error();
        EXPECT_EQ(result.value().byte_count, c.bytes.size());
        EXPECT_EQ(result.value().digest, digest_of_pieces<OpenSslSha256>(c.bytes, 0));
    }
    EXPECT_EQ(sha256_of_file(write("abc.bin", "abc")).value().digest,
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(Sha256OfFile, UnreadableFilesGiveTheReadMessage) {
    const std::string missing = (folder_ / "missing.zip").string();
    Result<FileDigest> gone = sha256_of_file(missing);
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(gone.error(),
              "Could not read " + missing + ": No such file or directory (os error 2)");

    // A folder opens on POSIX but cannot be read.
    Result<FileDigest> folder = sha256_of_file(folder_.string());
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(folder.error(),
              "Could not read " + folder_.string() + ": Is a directory (os error 21)");
}

}  // namespace
}  // namespace vantile
