#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "flow/verification.h"

namespace vantile {
namespace {

const DownloadSource SOURCE = Address{"https://" VANTILE_CDN_HOST "/vantile/desktop/app.zip"};
// SHA-256 of the empty input, and of "abc".
const std::string EMPTY_DIGEST = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string ABC_DIGEST = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string size_message(const std::string& source, const std::string& count,
                         const std::string& size) {
    return source + " is " + count + " bytes, but the manifest says " + size +
           ": the download is incomplete, or is not the published file.";
}

TEST(VerifyDownload, PassesTheSameSizeAndDigestInEitherLetterCase) {
    EXPECT_TRUE(verify_download(SOURCE, 3, ABC_DIGEST, 3, ABC_DIGEST).ok());
    EXPECT_TRUE(verify_download(SOURCE, 3, ABC_DIGEST, 3, upper(ABC_DIGEST)).ok());
    EXPECT_TRUE(verify_download(SOURCE, 0, EMPTY_DIGEST, 0, EMPTY_DIGEST).ok());
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    EXPECT_TRUE(
        verify_download(SOURCE, static_cast<std::uint64_t>(max), ABC_DIGEST, max, ABC_DIGEST).ok());
}

TEST(VerifyDownload, SizeMismatchesAreReportedBeforeTheDigest) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    constexpr auto all_ones = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        std::uint64_t byte_count;
        std::int64_t size;
        const char* count_text;
        const char* size_text;
    };
    const Case cases[] = {
        {2, 3, "2", "3"},
        {4, 3, "4", "3"},
        {65539, 3, "65539", "3"},
        {0, 1, "0", "1"},
        {1, 0, "1", "0"},
        {7, -5, "7", "-5"},
        // The same bits as the size: a cast would wrongly call these equal.
        {all_ones - 4, -5, "18446744073709551611", "-5"},
        {all_ones, -1, "18446744073709551615", "-1"},
        {std::uint64_t{1} << 63, min, "9223372036854775808", "-9223372036854775808"},
        {(std::uint64_t{1} << 63) + 1, max, "9223372036854775809", "9223372036854775807"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count_text);
        // Even a matching digest does not help, and a wrong one is not mentioned.
        for (const std::string& digest : {ABC_DIGEST, std::string(), EMPTY_DIGEST}) {
            Status verified = verify_download(SOURCE, c.byte_count, digest, c.size, ABC_DIGEST);
            ASSERT_FALSE(verified.ok());
            EXPECT_EQ(verified.error(),
                      size_message(source_text(SOURCE), c.count_text, c.size_text));
        }
    }
}

TEST(VerifyDownload, DigestMismatchShowsTheManifestTextAsWritten) {
    const std::string manifest_text = upper(EMPTY_DIGEST);
    Status verified = verify_download(SOURCE, 3, ABC_DIGEST, 3, manifest_text);
    ASSERT_FALSE(verified.ok());
    EXPECT_EQ(verified.error(), source_text(SOURCE) + " failed its checksum (expected " +
                                    manifest_text + ", got " + ABC_DIGEST +
                                    "): it is not the published file.");

    const DownloadSource file = LocalFile{"D:\\test\\app.zip"};
    EXPECT_EQ(verify_download(file, 3, "", 3, ABC_DIGEST).error(),
              "D:\\test\\app.zip failed its checksum (expected " + ABC_DIGEST +
                  ", got ): it is not the published file.");
}

TEST(VerifyDownload, DigestIsComparedByteForByteAfterLoweringCapitalsOnly) {
    const std::string near_misses[] = {
        ABC_DIGEST.substr(0, 63),             // one short
        ABC_DIGEST + "0",                     // one long
        ABC_DIGEST.substr(0, 63) + "c",       // last digit differs
        "ca" + ABC_DIGEST.substr(2),          // first byte's nibbles swapped
        std::string(ABC_DIGEST.size(), ' '),  // nothing in common
    };
    for (const std::string& manifest_text : near_misses)
        EXPECT_FALSE(verify_download(SOURCE, 3, ABC_DIGEST, 3, manifest_text).ok())
            << manifest_text;
    // Lowering touches only A-Z: the computed digest is never changed to match.
    EXPECT_FALSE(verify_download(SOURCE, 3, upper(ABC_DIGEST), 3, ABC_DIGEST).ok());
}

}  // namespace
}  // namespace vantile
