#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "flow/manifest_source.h"

namespace vantile {
namespace {

// The address on the storage host this project's build is configured with.
TEST(ManifestSourceConstants, DefaultAddressLiesOnTheConfiguredStorageHost) {
    EXPECT_EQ(DEFAULT_MANIFEST_ADDRESS,
              "https://releases.mirrowfold.example/s3-mirrowfold-upgrade-3/vantile/desktop/"
              "metadata.json");
}

TEST(ManifestSourceFromEnvironment, AbsentOrEmptyMeansTheDefaultAddress) {
    for (const std::optional<std::string>& value :
         {std::optional<std::string>{}, std::optional<std::string>{""}}) {
        Result<ManifestSource> source = manifest_source_from_environment(value);
        ASSERT_TRUE(source.ok());
        EXPECT_EQ(source.value(), ManifestSource{Address{std::string(DEFAULT_MANIFEST_ADDRESS)}});
    }
}

TEST(ManifestSourceFromEnvironment, HttpsInAnyCaseIsAnAddressKeptAsWritten) {
    for (const char* value : {"https://example.test/m.json", "HTTPS://Example.Test/M.json",
                              "hTtPs://", "https://", "https:// spaced"}) {
        SCOPED_TRACE(value);
        Result<ManifestSource> source = manifest_source_from_environment(std::string(value));
        ASSERT_TRUE(source.ok());
        EXPECT_EQ(source.value(), ManifestSource{Address{value}});
    }
}

TEST(ManifestSourceFromEnvironment, OtherSchemesAreRefused) {
    for (const char* value : {"http://example.test/m.json", "ftp://x", "file://C:/m.json",
                              "HTTP://x", "git+ssh://x", "a.b-c://x", "C://dir/m.json"}) {
        SCOPED_TRACE(value);
        Result<ManifestSource> source = manifest_source_from_environment(std::string(value));
        ASSERT_FALSE(source.ok());
        EXPECT_EQ(source.error(), std::string("Only https:// addresses are trusted, and ") + value +
                                      " is not one.");
    }
    EXPECT_EQ(manifest_source_from_environment(std::string("http://x")).error(),
              "Only https:// addresses are trusted, and http://x is not one.");
}

TEST(ManifestSourceFromEnvironment, EverythingElseIsAFileKeptAsWritten) {
    for (const char* value :
         {"C:\\releases\\metadata.json", "metadata.json", "://x", "1a://x",
          " https://example.test/m.json", "https:/x", "http:\\\\x", "\\\\server\\share\\m.json",
          "a b://x", "_x://y", "dir/https://x", "https:x://y"}) {
        SCOPED_TRACE(value);
        Result<ManifestSource> source = manifest_source_from_environment(std::string(value));
        ASSERT_TRUE(source.ok());
        EXPECT_EQ(source.value(), ManifestSource{LocalFile{value}});
    }
}

TEST(HasUrlScheme, FollowsTheSchemeCharacterRules) {
    struct Case {
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {"ftp://x", true},    {"http://x", true},       {"file://x", true}, {"a+b-c.d://x", true},
        {"x1://", true},      {"Z://", true},           {"://x", false},    {"1a://x", false},
        {"C:\\x", false},     {"C:/x", false},          {"", false},        {"http", false},
        {"ht tp://x", false}, {"http:/x", false},       {"h_t://x", false}, {"+a://x", false},
        {"a://b://c", true},  {"a\xc3\xa9://x", false}, {"x/y://z", false}, {"ftp:://x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(has_url_scheme(c.text), c.expected);
    }
}

TEST(StartsWithHttps, ComparesTheFirstEightBytesIgnoringCase) {
    EXPECT_TRUE(starts_with_https("https://"));
    EXPECT_TRUE(starts_with_https("HTTPS://host"));
    EXPECT_FALSE(starts_with_https("https:/"));
    EXPECT_FALSE(starts_with_https("http://x"));
    EXPECT_FALSE(starts_with_https(" https://x"));
    EXPECT_FALSE(starts_with_https("https:\\\\x"));
    EXPECT_FALSE(starts_with_https(""));
}

// A transfer that delivers a body in fixed chunks and honours a stop request the way
// the real one does: it ends at once, Stopped.
struct ChunkedTransfer {
    explicit ChunkedTransfer(std::size_t body, std::size_t chunk = 65536)
        : body_size(body), chunk_size(chunk) {}

    std::size_t body_size;
    std::size_t chunk_size;
    std::optional<std::string> failure;  // a failure after the body, when set
    bool ignores_stop = false;

    std::vector<std::string> addresses;
    std::size_t delivered = 0;
    std::size_t calls = 0;

    Result<TransferEnd> operator()(const std::string& address, const ChunkConsumer& consumer) {
        addresses.push_back(address);
        std::string chunk;
        while (delivered < body_size) {
            const std::size_t size = std::min(chunk_size, body_size - delivered);
            chunk.assign(size, static_cast<char>('a' + calls % 26));
            ++calls;
            delivered += size;
            if (!consumer(chunk.data(), chunk.size()) && !ignores_stop) return TransferEnd::Stopped;
        }
        if (failure) return fail(*failure);
        return TransferEnd::Complete;
    }
};

Result<std::string> read_with(ChunkedTransfer& transfer, const std::string& address) {
    return read_manifest_from_address(
        address, [&](const std::string& a, const ChunkConsumer& c) { return transfer(a, c); });
}

TEST(ReadManifestFromAddress, ReturnsTheWholeBodyUpToTheLimit) {
    for (std::size_t body_size :
         {std::size_t{0}, std::size_t{1}, std::size_t{65536}, std::size_t{MANIFEST_SIZE_LIMIT}}) {
        ChunkedTransfer transfer(body_size);
        Result<std::string> bytes = read_with(transfer, "https://example.test/m.json");
        ASSERT_TRUE(bytes.ok()) << body_size;
        ASSERT_EQ(bytes.value().size(), body_size);
        if (body_size > 65536) {
            EXPECT_EQ(bytes.value()[0], 'a');
            EXPECT_EQ(bytes.value()[65536], 'b');  // chunks appended in order
        }
        EXPECT_EQ(transfer.addresses, std::vector<std::string>{"https://example.test/m.json"});
    }
}

TEST(ReadManifestFromAddress, StopsAtTheChunkThatPassesTheLimit) {
    struct Case {
        std::size_t body_size;
        std::size_t chunk_size;
        std::size_t delivered_when_stopped;
    };
    const Case cases[] = {
        {MANIFEST_SIZE_LIMIT + 1, 65536, MANIFEST_SIZE_LIMIT + 1},
        {10 * MANIFEST_SIZE_LIMIT, 65536, MANIFEST_SIZE_LIMIT + 65536},
        {10 * MANIFEST_SIZE_LIMIT, 1000, 1049000},
        {MANIFEST_SIZE_LIMIT + 1, MANIFEST_SIZE_LIMIT + 1, MANIFEST_SIZE_LIMIT + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.body_size) + "/" + std::to_string(c.chunk_size));
        ChunkedTransfer transfer(c.body_size, c.chunk_size);
        Result<std::string> bytes = read_with(transfer, "HTTPS://Example.Test/big.json");
        ASSERT_FALSE(bytes.ok());
        EXPECT_EQ(bytes.error(),
                  "The manifest HTTPS://Example.Test/big.json is larger than a manifest can be.");
        EXPECT_EQ(transfer.delivered, c.delivered_when_stopped);
    }
}

TEST(ReadManifestFromAddress, PassesTheTransferFailureOnUnchanged) {
    ChunkedTransfer partial(4096);
    partial.failure = "The server answered 503 instead of 200.";
    Result<std::string> bytes = read_with(partial, "https://example.test/m.json");
    ASSERT_FALSE(bytes.ok());
    EXPECT_EQ(bytes.error(), "The server answered 503 instead of 200.");

    ChunkedTransfer none(0);
    none.failure = "https://example.test/m.json answered HTTP 404, not the file.";
    EXPECT_EQ(read_with(none, "https://example.test/m.json").error(),
              "https://example.test/m.json answered HTTP 404, not the file.");
}

TEST(ReadManifestFromAddress, TooLargeEvenWhenTheTransferIgnoresTheStop) {
    ChunkedTransfer careless(3 * MANIFEST_SIZE_LIMIT);
    careless.ignores_stop = true;
    Result<std::string> bytes = read_with(careless, "https://example.test/m.json");
    ASSERT_FALSE(bytes.ok());
    EXPECT_EQ(bytes.error(),
              "The manifest https://example.test/m.json is larger than a manifest can be.");
}

// The one check of a manifest's size, for a size measured before reading or counted while
// reading: a size past 32 bits is not mistaken for a small one.
TEST(CheckManifestSize, OneMebibyteIsTheLargestManifest) {
    for (const std::uint64_t size : {std::uint64_t{0}, std::uint64_t{1048576}}) {
        const Status checked = check_manifest_size(size, "m.json");
        EXPECT_TRUE(checked.ok()) << size << ": " << checked.error();
    }
    for (const std::uint64_t size : {std::uint64_t{1048577}, std::uint64_t{0x100000000}}) {
        EXPECT_EQ(check_manifest_size(size, "C:\\m.json").error(),
                  "The manifest C:\\m.json is larger than a manifest can be.")
            << size;
    }
}

TEST(ManifestFileMessages, ReadExactly) {
    EXPECT_EQ(manifest_missing_message("C:\\m.json"), "The manifest C:\\m.json does not exist.");
    EXPECT_EQ(manifest_too_large_message("D:\\big.json"),
              "The manifest D:\\big.json is larger than a manifest can be.");
    EXPECT_EQ(manifest_unreadable_message("m.json", "Access is denied. (os error 5)"),
              "Could not read the manifest m.json: Access is denied. (os error 5)");
}

}  // namespace
}  // namespace vantile
