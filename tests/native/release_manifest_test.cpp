#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "flow/json_reader.h"
#include "flow/release_manifest.h"

namespace vantile {
namespace {

const std::string SHA = std::string(64, 'a');

JsonValue text(std::string value) {
    return JsonValue{std::move(value)};
}
JsonValue object(JsonObject members) {
    return JsonValue{std::move(members)};
}

// A usable build entry; tests change or remove one member at a time.
JsonObject entry_members(std::string version, std::string url = "https://x/app.zip",
                         std::int64_t size = 1024) {
    JsonValue size_value = size < 0 ? JsonValue{size} : JsonValue{static_cast<std::uint64_t>(size)};
    return {{"version", text(std::move(version))},
            {"url", text(std::move(url))},
            {"size", size_value},
            {"sha256", text(SHA)}};
}
JsonValue entry(std::string version, std::string url = "https://x/app.zip",
                std::int64_t size = 1024) {
    return object(entry_members(std::move(version), std::move(url), size));
}

JsonObject with_member(JsonObject members, const std::string& key, JsonValue value) {
    for (auto& member : members)
        if (member.first == key) {
            member.second = std::move(value);
            return members;
        }
    members.emplace_back(key, std::move(value));
    return members;
}
JsonObject without_member(JsonObject members, const std::string& key) {
    std::erase_if(members, [&](const auto& member) { return member.first == key; });
    return members;
}

std::string no_app(std::string_view platform) {
    return "The desktop manifest has no Vantile desktop app for this computer (" +
           std::string(platform) + ") yet.";
}

TEST(SelectBuild, ReturnsTheChosenEntryWithItsKey) {
    JsonValue document = object({
        {"notes", text("ignored")},
        {"desktop-windows-x64",
         object(with_member(entry_members("1.4.0-rc.1", "https://x/v.zip", 5000), "sha256",
                            text(std::string(64, 'F'))))},
        {"desktop-linux-x64", entry("9.9.9")},
    });
    Result<BuildEntry> build = select_build(document, Architecture::X64);
    ASSERT_TRUE(build.ok()) << build.error();
    EXPECT_EQ(build.value().version, "1.4.0-rc.1");
    EXPECT_EQ(build.value().url, "https://x/v.zip");
    EXPECT_EQ(build.value().sha256, std::string(64, 'F'));
    EXPECT_EQ(build.value().asset, "desktop-windows-x64");
    EXPECT_EQ(build.value().size, 5000);
}

TEST(SelectBuild, CandidatesByArchitecture) {
    struct Case {
        const char* name;
        Architecture architecture;
        std::vector<std::pair<std::string, std::string>> entries;  // key, version
        const char* chosen;  // asset, or nullptr for the no-app message
    };
    const Case cases[] = {
        {"x64 never takes the arm64 build",
         Architecture::X64,
         {{"desktop-windows-arm64", "1.0.0"}},
         nullptr},
        {"x64 takes its own",
         Architecture::X64,
         {{"desktop-windows-arm64", "3.0.0"}, {"desktop-windows-x64", "1.0.0"}},
         "desktop-windows-x64"},
        {"arm64 falls back to x64",
         Architecture::Arm64,
         {{"desktop-windows-x64", "1.0.0"}},
         "desktop-windows-x64"},
        {"arm64 takes a strictly newer x64",
         Architecture::Arm64,
         {{"desktop-windows-arm64", "2.0.0"}, {"desktop-windows-x64", "2.0.1"}},
         "desktop-windows-x64"},
        {"arm64 keeps its own on equal numbers",
         Architecture::Arm64,
         {{"desktop-windows-arm64", "2.0.0"}, {"desktop-windows-x64", "2.0.0"}},
         "desktop-windows-arm64"},
        {"pre-release takes no part in the order",
         Architecture::Arm64,
         {{"desktop-windows-arm64", "2.0.0-beta"}, {"desktop-windows-x64", "2.0.0"}},
         "desktop-windows-arm64"},
        {"leading zeros compare as numbers",
         Architecture::Arm64,
         {{"desktop-windows-arm64", "01.02.03"}, {"desktop-windows-x64", "1.2.3"}},
         "desktop-windows-arm64"},
        {"numbers, not text",
         Architecture::Arm64,
         {{"desktop-windows-arm64", "9.0.0"}, {"desktop-windows-x64", "10.0.0"}},
         "desktop-windows-x64"},
        {"minor before patch",
         Architecture::Arm64,
         {{"desktop-windows-arm64", "1.10.0"}, {"desktop-windows-x64", "1.9.99"}},
         "desktop-windows-arm64"},
        {"major before minor",
         Architecture::Arm64,
         {{"desktop-windows-arm64", "1.99.99"}, {"desktop-windows-x64", "2.0.0"}},
         "desktop-windows-x64"},
        {"an older x64 is not taken",
         Architecture::Arm64,
         {{"desktop-windows-arm64", "2.0.1"}, {"desktop-windows-x64", "2.0.0"}},
         "desktop-windows-arm64"},
        {"nothing for either", Architecture::Arm64, {{"desktop-windows-X64", "1.0.0"}}, nullptr},
        {"key case matters", Architecture::X64, {{"Desktop-windows-x64", "1.0.0"}}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JsonObject members;
        for (const auto& [key, version] : c.entries) members.emplace_back(key, entry(version));
        Result<BuildEntry> build = select_build(object(members), c.architecture);
        if (c.chosen) {
            ASSERT_TRUE(build.ok()) << build.error();
            EXPECT_EQ(build.value().asset, c.chosen);
        } else {
            ASSERT_FALSE(build.ok());
            EXPECT_EQ(build.error(),
                      no_app(c.architecture == Architecture::X64 ? "win32-x64" : "win32-arm64"));
        }
    }
}

TEST(SelectBuild, VersionGrammar) {
    const char* usable[] = {"1.2.3",      "0.0.0",
                            "01.02.03",   "2147483647.0.0",
                            "1.2.3-rc.1", "1.2.3-beta2",
                            "1.2.3-RC.1", "0.0.2147483647",
                            "1.2.3-0",    "000000000000000000001.0.0"};
    const char* unusable[] = {"1.2",
                              "1.2.3.4",
                              "01.2.3.4",
                              "1.2.3+build",
                              "v1.2.3",
                              "1.2.3-",
                              "1.2.3-rc..1",
                              "1.2.3-rc.",
                              "1.2.3-.rc",
                              "1.2.3-rc-1",
                              "1.2.3-rc_1",
                              "2147483648.0.0",
                              "0.0.2147483648",
                              "4294967296.0.0",
                              "99999999999999999999.0.0",
                              "",
                              "1..3",
                              ".1.2.3",
                              "1.2.3.",
                              "+1.2.3",
                              "-1.2.3",
                              " 1.2.3",
                              "1.2.3 ",
                              "1.2.x",
                              "1.2.3-r\xc3\xa9",
                              "\xef\xbc\x91.2.3",
                              "1.2.-3"};
    for (const char* version : usable) {
        SCOPED_TRACE(version);
        Result<BuildEntry> build =
            select_build(object({{"desktop-windows-x64", entry(version)}}), Architecture::X64);
        ASSERT_TRUE(build.ok());
        EXPECT_EQ(build.value().version, version);
    }
    for (const char* version : unusable) {
        SCOPED_TRACE(version);
        EXPECT_FALSE(
            select_build(object({{"desktop-windows-x64", entry(version)}}), Architecture::X64)
                .ok());
    }
}

TEST(SelectBuild, SizeMustBeASignedIntegerLiteral) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    struct Case {
        const char* name;
        JsonValue size;
        std::optional<std::int64_t> expected;
    };
    const Case cases[] = {
        {"zero", JsonValue{std::uint64_t{0}}, 0},
        {"largest signed", JsonValue{static_cast<std::uint64_t>(max)}, max},
        {"negative", JsonValue{std::int64_t{-5}}, -5},
        {"smallest signed", JsonValue{min}, min},
        {"one past the signed range", JsonValue{static_cast<std::uint64_t>(max) + 1}, std::nullopt},
        {"largest unsigned", JsonValue{std::numeric_limits<std::uint64_t>::max()}, std::nullopt},
        {"fraction", JsonValue{1.0}, std::nullopt},
        {"minus zero as a double", JsonValue{-0.0}, std::nullopt},
        {"minus zero as a signed integer", JsonValue{std::int64_t{0}}, std::nullopt},
        {"string", text("1024"), std::nullopt},
        {"null", JsonValue{JsonNull{}}, std::nullopt},
        {"boolean", JsonValue{true}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JsonValue document = object(
            {{"desktop-windows-x64", object(with_member(entry_members("1.0.0"), "size", c.size))}});
        Result<BuildEntry> build = select_build(document, Architecture::X64);
        if (c.expected) {
            ASSERT_TRUE(build.ok());
            EXPECT_EQ(build.value().size, *c.expected);
        } else {
            EXPECT_FALSE(build.ok());
        }
    }
}

TEST(SelectBuild, UnusableEntriesArePassedOverSilently) {
    const JsonObject good = entry_members("5.0.0");
    const std::vector<std::pair<const char*, JsonValue>> unusable = {
        {"entry is a string", text("1.0.0")},
        {"entry is an array", JsonValue{JsonArray{entry("5.0.0")}}},
        {"no size", object(without_member(good, "size"))},
        {"no version", object(without_member(good, "version"))},
        {"no url", object(without_member(good, "url"))},
        {"no sha256", object(without_member(good, "sha256"))},
        {"version is a number", object(with_member(good, "version", JsonValue{std::uint64_t{5}}))},
        {"url is null", object(with_member(good, "url", JsonValue{JsonNull{}}))},
        {"sha256 is an array", object(with_member(good, "sha256", JsonValue{JsonArray{}}))},
        {"size given as 1.0", object(with_member(good, "size", JsonValue{1.0}))},
        {"member key in capitals",
         object(with_member(without_member(good, "url"), "URL", text("https://x/app.zip")))},
    };
    for (const auto& [name, bad] : unusable) {
        SCOPED_TRACE(name);
        // On arm64 the bad native entry gives way to the x64 one, with no message.
        Result<BuildEntry> build = select_build(
            object({{"desktop-windows-arm64", bad}, {"desktop-windows-x64", entry("1.0.0")}}),
            Architecture::Arm64);
        ASSERT_TRUE(build.ok());
        EXPECT_EQ(build.value().asset, "desktop-windows-x64");
        EXPECT_EQ(build.value().version, "1.0.0");

        EXPECT_EQ(select_build(object({{"desktop-windows-x64", bad}}), Architecture::X64).error(),
                  no_app("win32-x64"));
    }
}

TEST(SelectBuild, AnyStringQualifiesAsUrlAndDigest) {
    JsonObject members = with_member(entry_members("1.0.0", ""), "sha256", text("not hex"));
    Result<BuildEntry> build =
        select_build(object({{"desktop-windows-x64", object(members)}}), Architecture::X64);
    ASSERT_TRUE(build.ok());
    EXPECT_EQ(build.value().url, "");
    EXPECT_EQ(build.value().sha256, "not hex");
}

TEST(SelectBuild, RepeatedKeysKeepTheLastOccurrence) {
    JsonObject members = entry_members("1.0.0", "https://first/app.zip");
    members.emplace_back("url", text("https://last/app.zip"));
    JsonValue document =
        object({{"desktop-windows-x64", entry("0.0.1")}, {"desktop-windows-x64", object(members)}});
    Result<BuildEntry> build = select_build(document, Architecture::X64);
    ASSERT_TRUE(build.ok());
    EXPECT_EQ(build.value().url, "https://last/app.zip");
    EXPECT_EQ(build.value().version, "1.0.0");
}

TEST(SelectBuild, ADocumentThatIsNotAnObjectHasNoApp) {
    for (const JsonValue& document :
         {JsonValue{JsonArray{object({{"desktop-windows-x64", entry("1.0.0")}})}},
          text("desktop-windows-x64"), JsonValue{std::uint64_t{1}}, JsonValue{JsonNull{}},
          JsonValue{false}, object({})}) {
        EXPECT_EQ(select_build(document, Architecture::Arm64).error(), no_app("win32-arm64"));
        EXPECT_EQ(select_build(document, Architecture::X64).error(), no_app("win32-x64"));
    }
}

// The choice as tools explain it: each candidate with the reason it is passed over, and the
// build it falls back to.
TEST(ChooseBuild, NamesWhyEachCandidateIsPassedOver) {
    const JsonObject good = entry_members("5.0.0");
    struct Case {
        const char* name;
        JsonValue arm64_entry;
        EntryFault fault;
        const char* member;
    };
    const Case cases[] = {
        {"not an object", text("5.0.0"), EntryFault::NotAnObject, ""},
        {"no size", object(without_member(good, "size")), EntryFault::MissingMember, "size"},
        {"no sha256", object(without_member(good, "sha256")), EntryFault::MissingMember, "sha256"},
        {"url is null", object(with_member(good, "url", JsonValue{JsonNull{}})),
         EntryFault::NotAString, "url"},
        {"version is the number 140",
         object(with_member(good, "version", JsonValue{std::uint64_t{140}})),
         EntryFault::NotAString, "version"},
        {"size given as 1.0", object(with_member(good, "size", JsonValue{1.0})),
         EntryFault::SizeNotInteger, "size"},
        {"version 1.2", object(with_member(good, "version", text("1.2"))),
         EntryFault::VersionUnusable, "version"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const JsonValue document = object(
            {{"desktop-windows-arm64", c.arm64_entry}, {"desktop-windows-x64", entry("1.0.0")}});
        const BuildChoice choice = choose_build(document, Architecture::Arm64);
        ASSERT_EQ(choice.candidates.size(), 2u);
        EXPECT_EQ(choice.candidates[0].key, "desktop-windows-arm64");
        EXPECT_EQ(choice.candidates[0].fault, c.fault);
        EXPECT_EQ(choice.candidates[0].member, c.member);
        EXPECT_FALSE(choice.candidates[0].build.has_value());
        EXPECT_EQ(choice.candidates[1].fault, EntryFault::None);
        EXPECT_EQ(choice.chosen, std::optional<std::size_t>(1));
        EXPECT_EQ(choice.candidates[1].key, "desktop-windows-x64");
        EXPECT_EQ(choice.candidates[1].build->asset, "desktop-windows-x64");
        EXPECT_EQ(choice.candidates[1].build->version, "1.0.0");
        EXPECT_EQ(choice.candidates[1].numbers, (VersionNumbers{1, 0, 0}));
    }

    const BuildChoice none = choose_build(object({}), Architecture::X64);
    ASSERT_EQ(none.candidates.size(), 1u);
    EXPECT_EQ(none.candidates[0].fault, EntryFault::Absent);
    EXPECT_FALSE(none.chosen.has_value());
    EXPECT_EQ(no_build_message(Architecture::X64), no_app("win32-x64"));

    const BuildChoice both = choose_build(object({{"desktop-windows-arm64", entry("2.0.0-beta")},
                                                  {"desktop-windows-x64", entry("2.0.0")}}),
                                          Architecture::Arm64);
    EXPECT_EQ(both.chosen, std::optional<std::size_t>(0));
    EXPECT_EQ(both.candidates[0].numbers, both.candidates[1].numbers);
    EXPECT_EQ(parse_version("01.2.3-rc.1"), (VersionNumbers{1, 2, 3}));
    EXPECT_EQ(parse_version("1.2.3+build"), std::nullopt);
}

TEST(ParseManifestDocument, WrapsTheReaderErrorWithTheSource) {
    struct Case {
        std::string_view bytes;
        std::string reader_error;
    };
    const Case cases[] = {
        {"", "EOF while parsing a value at line 1 column 0"},
        {"\xef\xbb\xbf{}", "expected value at line 1 column 1"},
        {"{\"a\":1,}", "trailing comma at line 1 column 8"},
        {"[1] x", "trailing characters at line 1 column 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        Result<JsonValue> document = parse_manifest_document(c.bytes, "C:\\m\\metadata.json");
        ASSERT_FALSE(document.ok());
        EXPECT_EQ(document.error(),
                  "The manifest C:\\m\\metadata.json is not valid JSON: " + c.reader_error);
    }
}

TEST(ParseManifestDocument, EmptyOrMarkedManifestsAreNotJson) {
    EXPECT_EQ(
        parse_manifest_document("", "m.json").error(),
        "The manifest m.json is not valid JSON: EOF while parsing a value at line 1 column 0");
    EXPECT_EQ(parse_manifest_document("\xef\xbb\xbf{}", "m.json").error(),
              "The manifest m.json is not valid JSON: expected value at line 1 column 1");
}

// The size rule on numbers as the reader produces them from manifest text.
TEST(ParseAndSelect, SizeLiteralsFromManifestText) {
    struct Case {
        const char* literal;
        std::optional<std::int64_t> expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"-5", -5},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"-0", std::nullopt},
        {"1.0", std::nullopt},
        {"-0.0", std::nullopt},
        {"1e3", std::nullopt},
        {"1E0", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.literal);
        const std::string text = std::string("{\"desktop-windows-x64\":{\"version\":\"1.0.0\",") +
                                 "\"url\":\"u\",\"sha256\":\"s\",\"size\":" + c.literal + "}}";
        Result<JsonValue> document = parse_manifest_document(text, "m.json");
        ASSERT_TRUE(document.ok()) << document.error();
        Result<BuildEntry> build = select_build(document.value(), Architecture::X64);
        if (c.expected) {
            ASSERT_TRUE(build.ok());
            EXPECT_EQ(build.value().size, *c.expected);
        } else {
            EXPECT_EQ(build.error(), no_app("win32-x64"));
        }
    }
}

TEST(ParseAndSelect, ArmComputerWithAnOlderNativeBuildAndDuplicatedUrl) {
    const std::string text = R"({
        "desktop-windows-arm64": {"version": "2.0.0", "url": "https://a/arm.zip",
                                  "size": 10, "sha256": "aa"},
        "desktop-windows-x64": {"url": "https://a/first.zip", "version": "2.0.1",
                                "sha256": "BB", "size": 20, "notes": [1, {"x": null}],
                                "url": "https://a/x64.zip"},
        "release-notes": "ignored"
    })";
    Result<JsonValue> document = parse_manifest_document(text, "m.json");
    ASSERT_TRUE(document.ok()) << document.error();
    Result<BuildEntry> build = select_build(document.value(), Architecture::Arm64);
    ASSERT_TRUE(build.ok()) << build.error();
    EXPECT_EQ(build.value().asset, "desktop-windows-x64");
    EXPECT_EQ(build.value().version, "2.0.1");
    EXPECT_EQ(build.value().url, "https://a/x64.zip");
    EXPECT_EQ(build.value().sha256, "BB");
    EXPECT_EQ(build.value().size, 20);
}

}  // namespace
}  // namespace vantile
