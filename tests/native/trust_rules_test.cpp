#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "flow/trust_rules.h"

namespace vantile {
namespace {

const std::string STORAGE_HOST = VANTILE_STORAGE_HOST;
const std::string CDN_HOST = VANTILE_CDN_HOST;
const std::string STORAGE = std::string(STORAGE_DOWNLOAD_PREFIX);
const std::string CDN = std::string(CDN_DOWNLOAD_PREFIX);
const ManifestSource FROM_ADDRESS = Address{std::string(DEFAULT_MANIFEST_ADDRESS)};
const ManifestSource FROM_FILE = LocalFile{"D:\\test\\metadata.json"};

std::string capitalised(std::string text, std::size_t count = std::string::npos) {
    for (std::size_t i = 0; i < text.size() && i < count; ++i)
        if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
    return text;
}

// The host with its last "l" (or, failing that, an added letter) written as a look-alike.
std::string homograph(std::string host) {
    const std::size_t l = host.rfind('l');
    if (l == std::string::npos) return host + "\xc5\x82";
    return host.replace(l, 1, "\xc5\x82");
}

std::string not_ours(const std::string& url) {
    return "The manifest names " + url + ", which is not one of Vantile's downloads.";
}

// The prefixes of the hosts this project's build is configured with.
TEST(TrustRulesConstants, UseTheDeploymentHosts) {
    EXPECT_EQ(STORAGE_DOWNLOAD_PREFIX,
              "https://releases.mirrowfold.example/s3-mirrowfold-upgrade-3/");
    EXPECT_EQ(CDN_DOWNLOAD_PREFIX, "https://cdn.mirrowfold.example/");
    EXPECT_EQ(DOWNLOAD_PATH_PREFIX, "vantile/desktop/");
}

TEST(ResolveDownloadSource, AcceptsPlainPathsUnderBothLocations) {
    const std::string urls[] = {
        STORAGE + "vantile/desktop/1.4.0/app-x64.zip",
        CDN + "vantile/desktop/app_x64-1.4.0.zip",
        CDN + "vantile/desktop/a",
        CDN + "vantile/desktop/...",
        CDN + "vantile/desktop/.hidden/..x/x..",
        STORAGE + "vantile/desktop/A-Z_a-z.0-9/b/c/d.zip",
    };
    for (const std::string& url : urls) {
        for (const ManifestSource& manifest : {FROM_ADDRESS, FROM_FILE}) {
            SCOPED_TRACE(url);
            Result<DownloadSource> source = resolve_download_source(url, manifest);
            ASSERT_TRUE(source.ok()) << source.error();
            EXPECT_EQ(source.value(), DownloadSource{Address{url}});
        }
    }
}

TEST(ResolveDownloadSource, RefusesHostileAddresses) {
    const std::string storage_host = "https://" + STORAGE_HOST;
    const std::string hostile[] = {
        // the location test
        CDN + "vantile/desktop/",
        CDN + "vantile/desktop",
        CDN + "vantile/other/app.zip",
        CDN + "vantile/app.zip",
        STORAGE + "vantile/desktop/../app.zip",
        STORAGE + "vantile/desktop/./app.zip",
        STORAGE + "vantile/desktop/a/../../../../etc/app.zip",
        STORAGE + "vantile/desktop/a/..",
        STORAGE + "vantile/desktop/a//b.zip",
        STORAGE + "vantile/desktop//app.zip",
        STORAGE + "vantile/desktop/app.zip/",
        STORAGE + "vantile//desktop/app.zip",
        STORAGE + "vantile/desktop/%2e%2e/app.zip",
        STORAGE + "vantile/desktop/%2E%2E/app.zip",
        STORAGE + "vantile/desktop/app%2ezip",
        STORAGE + "vantile%2fdesktop/app.zip",
        STORAGE + "vantile/desktop/..\\..\\app.zip",
        STORAGE + "vantile/desktop/a\\b.zip",
        STORAGE + "vantile\\desktop\\app.zip",
        STORAGE + "vantile/desktop/app.zip?x=1",
        STORAGE + "vantile/desktop/app.zip#frag",
        STORAGE + "vantile/desktop/app.zip;x",
        STORAGE + "vantile/desktop/a b.zip",
        STORAGE + "vantile/desktop/~user/app.zip",
        STORAGE + "vantile/desktop/a+b.zip",
        STORAGE + "vantile/desktop/C:app.zip",
        STORAGE + "vantile/desktop/user@app.zip",
        STORAGE + "vantile/desktop/app\xc3\xa9.zip",
        STORAGE + "vantile/desktop/\xef\xbc\x8e\xef\xbc\x8e/app.zip",
        STORAGE + "vantile/desktop/app.zip\n",
        STORAGE + "vantile/desktop/app.zip" + std::string(1, '\0'),
        STORAGE + "vantile/desktop/app.zip\t",
        STORAGE + "Vantile/desktop/app.zip",
        STORAGE + "vantile/Desktop/app.zip",
        // the locations themselves
        storage_host + "/s3-mirrowfold-upgrade-4/vantile/desktop/app.zip",
        storage_host + "/S3-mirrowfold-upgrade-3/vantile/desktop/app.zip",
        storage_host + "//s3-mirrowfold-upgrade-3/vantile/desktop/app.zip",
        storage_host + "/./s3-mirrowfold-upgrade-3/vantile/desktop/app.zip",
        storage_host + "/vantile/desktop/app.zip",
        storage_host + ":443/s3-mirrowfold-upgrade-3/vantile/desktop/app.zip",
        storage_host + ".evil.example/s3-mirrowfold-upgrade-3/vantile/desktop/app.zip",
        storage_host + "@evil.example/s3-mirrowfold-upgrade-3/vantile/desktop/app.zip",
        "https://user@" + STORAGE_HOST + "/s3-mirrowfold-upgrade-3/vantile/desktop/a.zip",
        "https://evil.example/" + STORAGE + "vantile/desktop/app.zip",
        "https://evil.example/?" + CDN + "vantile/desktop/app.zip",
        "https://" + capitalised(STORAGE_HOST) + "/s3-mirrowfold-upgrade-3/vantile/desktop/app.zip",
        "https://" + capitalised(CDN_HOST, 1) + "/vantile/desktop/app.zip",
        "HTTPS://" + CDN_HOST + "/vantile/desktop/app.zip",
        "Https://" + CDN_HOST + "/vantile/desktop/app.zip",
        "https://" + CDN_HOST + ":8443/vantile/desktop/app.zip",
        "https://" + CDN_HOST + "./vantile/desktop/app.zip",
        "https://" + CDN_HOST + "\\vantile/desktop/app.zip",
        "https:///" + CDN_HOST + "/vantile/desktop/app.zip",
        "https://" + homograph(CDN_HOST) + "/vantile/desktop/app.zip",
        "https://xn--" + CDN_HOST + "/vantile/desktop/app.zip",
        "https://" + CDN_HOST + "%2f/vantile/desktop/app.zip",
        "https://",
        "https://x",
    };
    for (const std::string& url : hostile) {
        SCOPED_TRACE(url);
        for (const ManifestSource& manifest : {FROM_ADDRESS, FROM_FILE}) {
            Result<DownloadSource> source = resolve_download_source(url, manifest);
            ASSERT_FALSE(source.ok());
            EXPECT_EQ(source.error(), not_ours(url));
        }
    }
}

TEST(ResolveDownloadSource, OtherSchemesAreNotTrusted) {
    for (const std::string& url :
         {"http://" + CDN_HOST + "/vantile/desktop/app.zip", std::string("ftp://x/app.zip"),
          std::string("file://D:/app.zip"), std::string("file:///etc/passwd"),
          std::string("HTTP://x"), std::string("a://x"), std::string("C://builds/app.zip")}) {
        for (const ManifestSource& manifest : {FROM_ADDRESS, FROM_FILE}) {
            SCOPED_TRACE(url);
            Result<DownloadSource> source = resolve_download_source(url, manifest);
            ASSERT_FALSE(source.ok());
            EXPECT_EQ(source.error(), std::string("Only https:// addresses are trusted, and ") +
                                          url + " is not one.");
        }
    }
}

TEST(ResolveDownloadSource, APathIsRefusedWhenTheManifestCameFromAnAddress) {
    for (const std::string& url :
         {std::string("builds/app.zip"), std::string("app.zip"), std::string("D:\\app.zip"),
          std::string("\\\\server\\share\\a.zip"), std::string(), std::string("1a://x"),
          std::string("://x"), std::string("https:/x"), " " + CDN + "vantile/desktop/app.zip"}) {
        SCOPED_TRACE(url);
        Result<DownloadSource> source =
            resolve_download_source(url, Address{"https://example.test/m.json"});
        ASSERT_FALSE(source.ok());
        EXPECT_EQ(source.error(), std::string("The manifest https://example.test/m.json names ") +
                                      url + ", which is not an https:// address.");
    }
}

TEST(ResolveDownloadSource, APathIsResolvedNextToAManifestFile) {
    struct Case {
        const char* manifest;
        const char* url;
        const char* path;
    };
    const Case cases[] = {
        {"D:\\test\\metadata.json", "app.zip", "D:\\test\\app.zip"},
        {"D:\\test\\metadata.json", "builds\\1.0\\app.zip", "D:\\test\\builds\\1.0\\app.zip"},
        {"D:\\test\\metadata.json", "builds/app.zip", "D:\\test\\builds/app.zip"},
        {"D:\\test\\metadata.json", "..\\app.zip", "D:\\test\\..\\app.zip"},
        {"D:\\test\\metadata.json", "E:\\builds\\app.zip", "E:\\builds\\app.zip"},
        {"D:\\test\\metadata.json", "e:/builds/app.zip", "e:/builds/app.zip"},
        {"D:\\test\\metadata.json", "\\builds\\app.zip", "D:\\builds\\app.zip"},
        {"D:\\test\\metadata.json", "/builds/app.zip", "D:/builds/app.zip"},
        {"D:\\test\\metadata.json", "E:app.zip", "E:app.zip"},
        {"D:\\test\\metadata.json", "\\\\server\\share\\app.zip", "\\\\server\\share\\app.zip"},
        {"D:\\test\\metadata.json", "//server/share/app.zip", "//server/share/app.zip"},
        {"D:\\test\\metadata.json", "\\\\?\\C:\\app.zip", "\\\\?\\C:\\app.zip"},
        {"D:\\test\\metadata.json", "1a://x", "D:\\test\\1a://x"},
        {"D:/test/metadata.json", "app.zip", "D:/test\\app.zip"},
        {"D:\\test\\\\metadata.json", "app.zip", "D:\\test\\app.zip"},
        {"D:\\metadata.json", "app.zip", "D:\\app.zip"},
        {"D:\\\\metadata.json", "app.zip", "D:\\app.zip"},
        {"D:metadata.json", "app.zip", "D:app.zip"},
        {"D:metadata.json", "\\app.zip", "D:\\app.zip"},
        {"D:sub\\metadata.json", "app.zip", "D:sub\\app.zip"},
        {"metadata.json", "app.zip", "app.zip"},
        {"metadata.json", "\\builds\\app.zip", "\\builds\\app.zip"},
        {"test\\metadata.json", "app.zip", "test\\app.zip"},
        {"test/sub/metadata.json", "app.zip", "test/sub\\app.zip"},
        {"\\test\\metadata.json", "app.zip", "\\test\\app.zip"},
        {"\\metadata.json", "app.zip", "\\app.zip"},
        {"\\test\\metadata.json", "\\builds\\app.zip", "\\builds\\app.zip"},
        {"\\\\server\\share\\dir\\m.json", "app.zip", "\\\\server\\share\\dir\\app.zip"},
        {"\\\\server\\share\\m.json", "app.zip", "\\\\server\\share\\app.zip"},
        {"\\\\server\\share\\dir\\m.json", "\\builds\\app.zip",
         "\\\\server\\share\\builds\\app.zip"},
        {"//server/share/dir/m.json", "/builds/app.zip", "//server/share/builds/app.zip"},
        {"\\\\?\\D:\\test\\m.json", "app.zip", "\\\\?\\D:\\test\\app.zip"},
        {"\\\\?\\D:\\test\\m.json", "\\builds\\app.zip", "\\\\?\\D:\\builds\\app.zip"},
        {"\\\\?\\UNC\\server\\share\\d\\m.json", "\\b\\app.zip",
         "\\\\?\\UNC\\server\\share\\b\\app.zip"},
        {"\\\\.\\D:\\test\\m.json", "\\b\\app.zip", "\\\\.\\D:\\b\\app.zip"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.manifest + std::string(" + ") + c.url);
        Result<DownloadSource> source = resolve_download_source(c.url, LocalFile{c.manifest});
        ASSERT_TRUE(source.ok()) << source.error();
        EXPECT_EQ(source.value(), DownloadSource{LocalFile{c.path}});
    }
}

TEST(CheckSha256Text, AcceptsExactly64HexadecimalDigits) {
    const DownloadSource address = Address{CDN + "vantile/desktop/app.zip"};
    const DownloadSource file = LocalFile{"D:\\test\\app.zip"};
    for (const std::string& text :
         {std::string(64, 'a'), std::string(64, 'F'), std::string(64, '0'),
          std::string("0123456789abcdefABCDEF") + std::string(42, '9')}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(check_sha256_text(text, address).ok());
    }
    const std::string refused[] = {
        "",
        std::string(63, 'a'),
        std::string(65, 'a'),
        std::string(63, 'a') + "g",
        std::string(63, 'a') + " ",
        " " + std::string(63, 'a'),
        std::string(62, 'a') + "\xc3\xa9",
        std::string(63, 'a') + std::string(1, '\0'),
        "0x" + std::string(62, 'a'),
        std::string(32, 'a') + "-" + std::string(31, 'a'),
    };
    for (const std::string& text : refused) {
        SCOPED_TRACE(text);
        Status address_check = check_sha256_text(text, address);
        ASSERT_FALSE(address_check.ok());
        EXPECT_EQ(address_check.error(),
                  "The manifest gives no valid SHA-256 for " + CDN + "vantile/desktop/app.zip.");
        EXPECT_EQ(check_sha256_text(text, file).error(),
                  "The manifest gives no valid SHA-256 for D:\\test\\app.zip.");
    }
}

// An independent reading of the location rules: one regular expression for the shape,
// then a look at each segment.
bool plain_download_path(const std::string& path) {
    static const std::regex shape("[A-Za-z0-9._-]+(/[A-Za-z0-9._-]+)*");
    if (!std::regex_match(path, shape)) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('/', start);
        const std::string segment = path.substr(start, end - start);
        if (segment == "." || segment == "..") return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

// Expected verdict for an address: the trusted base, then a plain path.
bool oracle_accepts(const std::string& url) {
    for (const std::string& base : {STORAGE + "vantile/desktop/", CDN + "vantile/desktop/"})
        if (url.size() > base.size() && url.compare(0, base.size(), base) == 0)
            return plain_download_path(url.substr(base.size()));
    return false;
}

// Addresses near the trusted ones: the real prefixes with small damage, followed by
// segments drawn from plain names, dot segments, empties and hostile bytes.
class AddressGenerator {
  public:
    explicit AddressGenerator(std::uint32_t seed) : random_(seed) {}

    std::string next() {
        std::string url = pick({STORAGE, CDN, STORAGE, CDN, std::string("https://"),
                                "HTTPS://" + CDN_HOST + "/", std::string()});
        if (chance(15)) url = damage(url);
        if (chance(85)) url += chance(10) ? damage("vantile/desktop/") : "vantile/desktop/";
        const int segments = static_cast<int>(below(5));
        for (int i = 0; i < segments; ++i) {
            if (i > 0 || chance(10)) url += chance(5) ? "//" : "/";
            url += segment();
        }
        if (chance(5)) url += "/";
        if (chance(5)) url = damage(url);
        return url;
    }

  private:
    std::uint32_t below(std::uint32_t n) {
        return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random_);
    }
    bool chance(std::uint32_t percent) { return below(100) < percent; }
    std::string pick(std::initializer_list<std::string> options) {
        return *(options.begin() + below(static_cast<std::uint32_t>(options.size())));
    }

    std::string segment() {
        switch (below(10)) {
            case 0:
                return ".";
            case 1:
                return "..";
            case 2:
                return "";
            case 3:
                return std::string(1, random_byte());
            default: {
                static constexpr std::string_view plain = "abcXYZ019-._";
                std::string name;
                const std::uint32_t length = 1 + below(6);
                for (std::uint32_t i = 0; i < length; ++i)
                    name += chance(5) ? random_byte() : plain[below(plain.size())];
                return name;
            }
        }
    }

    char random_byte() {
        static constexpr std::string_view tricky = "%?#@:;\\ ~+&=\t\n\r\"'<>|*";
        if (chance(50)) return tricky[below(tricky.size())];
        return static_cast<char>(below(256));
    }

    // Flip a letter's case, drop a byte, insert a byte or change one.
    std::string damage(std::string text) {
        if (text.empty()) return std::string(1, random_byte());
        const std::size_t at = below(static_cast<std::uint32_t>(text.size()));
        switch (below(4)) {
            case 0:
                text[at] = static_cast<char>(text[at] ^ 0x20);
                break;
            case 1:
                text.erase(at, 1);
                break;
            case 2:
                text.insert(at, 1, random_byte());
                break;
            default:
                text[at] = random_byte();
                break;
        }
        return text;
    }

    std::mt19937 random_;
};

TEST(ResolveDownloadSourceProperty, AcceptsExactlyTheAddressesUnderTheTrustedLocations) {
    AddressGenerator generator(20240611);
    int accepted = 0;
    int refused_near = 0;
    for (int i = 0; i < 100000; ++i) {
        const std::string url = generator.next();
        const bool expected = oracle_accepts(url);
        Result<DownloadSource> source = resolve_download_source(url, FROM_FILE);
        if (source.ok() && std::holds_alternative<Address>(source.value())) {
            ++accepted;
            ASSERT_TRUE(url.starts_with(STORAGE + "vantile/desktop/") ||
                        url.starts_with(CDN + "vantile/desktop/"))
                << url;
            ASSERT_TRUE(expected) << "accepted but not plain: " << url;
            ASSERT_EQ(std::get<Address>(source.value()).text, url);
        } else {
            ASSERT_FALSE(expected) << "refused a plain address: " << url;
            if (url.starts_with(STORAGE) || url.starts_with(CDN)) ++refused_near;
        }
        // Whatever begins like https is judged as an address and never becomes a path.
        if (starts_with_https(url)) {
            ASSERT_FALSE(source.ok() && !is_address(source.value())) << url;
        }
    }
    // The generator must exercise both sides of the rules for the test to mean anything.
    EXPECT_GT(accepted, 2000);
    EXPECT_GT(refused_near, 2000);
}

}  // namespace
}  // namespace vantile
