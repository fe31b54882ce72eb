// vantile-release, run in-process as its main runs it: each case gives the arguments and the
// files, and asserts the exit code and the exact lines it prints.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "flow/json_reader.h"
#include "flow/trust_rules.h"
#include "flow/json_writer.h"
#include "release_tool/release_tool.h"

namespace vantile {
namespace {

// SHA-256 of "abc" and of the empty input.
const std::string ABC = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string EMPTY = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
// Where archives are published: the CMake-configured storage and CDN locations.
const std::string STORAGE =
    std::string(STORAGE_DOWNLOAD_PREFIX) + std::string(DOWNLOAD_PATH_PREFIX);
const std::string CDN = std::string(CDN_DOWNLOAD_PREFIX) + std::string(DOWNLOAD_PATH_PREFIX);
const std::string UNTRUSTED = "https://downloads.example.com/vantile/desktop/";

std::string no_app(const std::string& platform) {
    return "The desktop manifest has no Vantile desktop app for this computer (" + platform +
           ") yet.";
}

// A build entry as a publisher would write it.
std::string entry(const std::string& version, const std::string& url, const std::string& size = "3",
                  const std::string& sha256 = ABC, const std::string& extra = "") {
    return R"({"version": ")" + version + R"(", "url": ")" + url + R"(", "size": )" + size +
           R"(, "sha256": ")" + sha256 + "\"" + extra + "}";
}

struct ToolRun {
    int code;
    std::vector<std::string> lines;  // standard output
    std::string err;
};

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class ReleaseToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vantile-release-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::string write(const std::string& name, const std::string& content) const {
        std::filesystem::create_directories((dir_ / name).parent_path());
        std::ofstream(dir_ / name, std::ios::binary) << content;
        return path(name);
    }

    std::string read(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static ToolRun run(const std::vector<std::string>& arguments) {
        std::ostringstream out, err;
        const int code = run_release_tool(arguments, out, err);
        return {code, split_lines(out.str()), err.str()};
    }

    std::filesystem::path dir_;
};

TEST_F(ReleaseToolTest, CheckSaysWhatEachComputerInstallsAndWhy) {
    const std::string x64 = STORAGE + "app-x64.zip";
    const std::string arm64 = STORAGE + "app-arm64.zip";
    const std::string both_install = "Both kinds of computer would install.";
    const std::string neither = "Neither kind of computer would install.";
    const std::string bad_version =
        "desktop-windows-x64 is passed over: its \"version\" \"1.4\" is not "
        "major.minor.patch with an optional -prerelease part";
    const std::string float_size =
        "desktop-windows-x64 is passed over: its \"size\" is not written as an integer in the "
        "signed 64-bit range";
    const std::string no_sha256 =
        "desktop-windows-x64 is passed over: it has no \"sha256\" (there is \"SHA256\", but keys "
        "are matched exactly, letter case and all)";
    const std::string foreign = "https://downloads.example.com/vantile/desktop/app-x64.zip";
    const std::string not_ours =
        "The manifest names " + foreign + ", which is not one of Vantile's downloads.";
    const std::string spaced = STORAGE + "app x64.zip";
    struct Case {
        const char* name;
        std::string manifest;
        int code;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"good",
         R"({"desktop-windows-x64": )" + entry("1.4.0", x64) + R"(, "desktop-windows-arm64": )" +
             entry("1.4.0", arm64) + "}",
         0,
         {"x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")",
          "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
          "strictly newer",
          "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + ABC + ")", both_install}},
        {"bad version",
         R"({"desktop-windows-x64": )" + entry("1.4", x64) + "}",
         1,
         {"x64: would fail: " + no_app("win32-x64"), "x64: " + bad_version,
          "arm64: would fail: " + no_app("win32-arm64"), "arm64: there is no desktop-windows-arm64",
          "arm64: " + bad_version, neither}},
        {"float size",
         R"({"desktop-windows-x64": )" + entry("1.4.0", x64, "3.0") +
             R"(, "desktop-windows-arm64": )" + entry("1.4.0", arm64) + "}",
         1,
         {"x64: would fail: " + no_app("win32-x64"), "x64: " + float_size,
          "arm64: chooses desktop-windows-arm64 1.4.0, because " + float_size,
          "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + ABC + ")",
          "Only arm64 computers would install."}},
        {"wrong-case keys",
         R"({"desktop-windows-x64": {"version": "1.4.0", "url": ")" + x64 +
             R"(", "size": 3, "SHA256": ")" + ABC + R"("}, "Desktop-Windows-Arm64": )" +
             entry("1.4.0", arm64) + "}",
         1,
         {"x64: would fail: " + no_app("win32-x64"), "x64: " + no_sha256,
          "arm64: would fail: " + no_app("win32-arm64"),
          "arm64: there is no desktop-windows-arm64 (there is \"Desktop-Windows-Arm64\", but keys "
          "are matched exactly, letter case and all)",
          "arm64: " + no_sha256, neither}},
        {"untrusted host",
         R"({"desktop-windows-x64": )" + entry("1.4.0", foreign) + "}",
         1,
         {"x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
          "x64: would fail: " + not_ours,
          "arm64: chooses desktop-windows-x64 1.4.0, because there is no desktop-windows-arm64",
          "arm64: would fail: " + not_ours, neither}},
        {"refused path character",
         R"({"desktop-windows-x64": )" + entry("1.4.0", x64) + R"(, "desktop-windows-arm64": )" +
             entry("1.4.0", spaced) + "}",
         1,
         {"x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")",
          "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
          "strictly newer",
          "arm64: would fail: The manifest names " + spaced +
              ", which is not one of Vantile's downloads.",
          "Only x64 computers would install."}},
        {"short digest",
         R"({"desktop-windows-x64": )" + entry("1.4.0", CDN + "app.zip", "3", ABC.substr(1)) + "}",
         1,
         {"x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
          "x64: would fail: The manifest gives no valid SHA-256 for " + CDN + "app.zip.",
          "arm64: chooses desktop-windows-x64 1.4.0, because there is no desktop-windows-arm64",
          "arm64: would fail: The manifest gives no valid SHA-256 for " + CDN + "app.zip.",
          neither}},
        {"arm64 older than x64",
         R"({"desktop-windows-arm64": )" + entry("4.1.9", arm64) + R"(, "desktop-windows-x64": )" +
             entry("4.2.0", x64) + "}",
         0,
         {"x64: chooses desktop-windows-x64 4.2.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")",
          "arm64: chooses desktop-windows-x64 4.2.0, because it is strictly newer than "
          "desktop-windows-arm64 4.1.9",
          "arm64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")", both_install}},
        {"arm64 newer than x64",
         R"({"desktop-windows-x64": )" + entry("4.2.0", x64) + R"(, "desktop-windows-arm64": )" +
             entry("4.2.1", arm64) + "}",
         0,
         {"x64: chooses desktop-windows-x64 4.2.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")",
          "arm64: chooses desktop-windows-arm64 4.2.1, because desktop-windows-x64 4.2.0 is older",
          "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + ABC + ")", both_install}},
        {"arm64 equal to x64 but for its pre-release part",
         R"({"desktop-windows-x64": )" + entry("2.0.0", x64) + R"(, "desktop-windows-arm64": )" +
             entry("2.0.0-beta", arm64) + "}",
         0,
         {"x64: chooses desktop-windows-x64 2.0.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")",
          "arm64: chooses desktop-windows-arm64 2.0.0-beta, because desktop-windows-x64 2.0.0 is "
          "not strictly newer (only the numbers are compared)",
          "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + ABC + ")", both_install}},
        {"duplicated keys: the last one counts",
         R"({"desktop-windows-arm64": )" + entry("1.4", arm64) + R"(, "desktop-windows-x64": )" +
             entry("1.4.0", x64, "3", ABC, R"(, "url": ")" + foreign + "\"") +
             R"(, "desktop-windows-arm64": )" + entry("1.4.0", arm64) + "}",
         1,
         {"x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
          "x64: would fail: " + not_ours,
          "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
          "strictly newer",
          "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + ABC + ")",
          "Only arm64 computers would install."}},
        {"not an object",
         "[" + entry("1.4.0", x64) + "]",
         1,
         {"x64: would fail: " + no_app("win32-x64"), "x64: the manifest is not a JSON object",
          "arm64: would fail: " + no_app("win32-arm64"), "arm64: the manifest is not a JSON object",
          neither}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string manifest = write("metadata.json", c.manifest);
        const ToolRun result = run({"check", manifest});
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(result.lines, c.lines);
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(ReleaseToolTest, CheckGivesTheInstallersMessageForAManifestItCannotRead) {
    const std::string bad_json =
        write("bad.json", "{\n  \"desktop-windows-x64\": {\"version\": \"1.4.0\",},\n}");
    const std::string invalid =
        "The manifest " + bad_json + " is not valid JSON: trailing comma at line 2 column 46";
    const std::string missing = path("missing.json");
    const std::string absent = "The manifest " + missing + " does not exist.";
    const std::string large = write("large.json", std::string(1048577, ' '));
    const std::string too_large = "The manifest " + large + " is larger than a manifest can be.";
    struct Case {
        std::string manifest;
        std::string message;
    };
    for (const Case& c : {Case{bad_json, invalid}, Case{missing, absent},
                          Case{dir_.string(), "The manifest " + dir_.string() + " does not exist."},
                          Case{large, too_large}}) {
        SCOPED_TRACE(c.manifest);
        const ToolRun result = run({"check", c.manifest});
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.lines,
                  (std::vector<std::string>{"x64: would fail: " + c.message,
                                            "arm64: would fail: " + c.message,
                                            "Neither kind of computer would install."}));
    }
}

TEST_F(ReleaseToolTest, CheckFilesComparesEachChosenArchiveWithTheInstallersVerification) {
    const std::string x64 = STORAGE + "1.4.0/app-x64.zip";
    const std::string arm64 = CDN + "app-arm64.zip";
    write("metadata.json", R"({"desktop-windows-x64": )" + entry("1.4.0", x64) +
                               R"(, "desktop-windows-arm64": )" +
                               entry("1.4.0", arm64, "3", EMPTY) + "}");
    const std::string files = path("files");
    const std::string x64_file = files + "/app-x64.zip";
    const std::string arm64_file = files + "/app-arm64.zip";
    const std::string x64_lines[] = {
        "x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
        "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")"};
    const std::string arm64_lines[] = {
        "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
        "strictly newer",
        "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + EMPTY + ")"};
    struct Case {
        const char* name;
        const char* x64_content;  // nullptr: no such file
        std::string x64_verdict;
        std::string arm64_verdict;
        std::string summary;
    };
    const Case cases[] = {
        {"matching, and a digest that differs", "abc",
         "x64: " + x64_file + " has that size and SHA-256",
         "arm64: would fail: " + arm64 + " failed its checksum (expected " + EMPTY + ", got " +
             ABC + "): it is not the published file.",
         "Only x64 computers would install."},
        {"a size that differs", "abcd",
         "x64: would fail: " + x64 +
             " is 4 bytes, but the manifest says 3: the download is incomplete, or is not the "
             "published file.",
         "arm64: would fail: " + arm64 + " failed its checksum (expected " + EMPTY + ", got " +
             ABC + "): it is not the published file.",
         "Neither kind of computer would install."},
        {"a missing archive", nullptr,
         "x64: would fail: Could not read " + x64_file + ": No such file or directory (os error 2)",
         "arm64: would fail: " + arm64 + " failed its checksum (expected " + EMPTY + ", got " +
             ABC + "): it is not the published file.",
         "Neither kind of computer would install."},
    };
    write("files/app-arm64.zip", "abc");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(x64_file);
        if (c.x64_content) write("files/app-x64.zip", c.x64_content);
        const ToolRun result = run({"check", path("metadata.json"), "--files", files});
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.lines, (std::vector<std::string>{x64_lines[0], x64_lines[1], c.x64_verdict,
                                                          arm64_lines[0], arm64_lines[1],
                                                          c.arm64_verdict, c.summary}));
    }
}

TEST_F(ReleaseToolTest, MakeWritesTheManifestAndWhatEachComputerWouldInstall) {
    const std::string x64 = write("build/vantile-1.4.0-x64.zip", "abc");
    const std::string arm64 = write("build/vantile-1.4.0-arm64.zip", "");
    const std::string out = path("metadata.json");
    const ToolRun made = run({"make", "--version", "1.4.0", "--x64", x64, "--arm64", arm64,
                              "--base", STORAGE + "1.4.0", "--out", out});
    EXPECT_EQ(made.err, "");
    ASSERT_EQ(made.code, 0);
    const std::string x64_url = STORAGE + "1.4.0/vantile-1.4.0-x64.zip";
    const std::string arm64_url = STORAGE + "1.4.0/vantile-1.4.0-arm64.zip";
    EXPECT_EQ(read("metadata.json"),
              "{\n"
              "  \"desktop-windows-x64\": {\n"
              "    \"version\": \"1.4.0\",\n"
              "    \"url\": \"" +
                  x64_url +
                  "\",\n"
                  "    \"size\": 3,\n"
                  "    \"sha256\": \"" +
                  ABC +
                  "\"\n"
                  "  },\n"
                  "  \"desktop-windows-arm64\": {\n"
                  "    \"version\": \"1.4.0\",\n"
                  "    \"url\": \"" +
                  arm64_url +
                  "\",\n"
                  "    \"size\": 0,\n"
                  "    \"sha256\": \"" +
                  EMPTY +
                  "\"\n"
                  "  }\n"
                  "}\n");
    const std::vector<std::string> verdict = {
        "x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
        "x64: downloads " + x64_url + " (3 bytes, SHA-256 " + ABC + ")",
        "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
        "strictly newer",
        "arm64: downloads " + arm64_url + " (0 bytes, SHA-256 " + EMPTY + ")",
        "Both kinds of computer would install."};
    std::vector<std::string> expected = {"Wrote " + out};
    expected.insert(expected.end(), verdict.begin(), verdict.end());
    EXPECT_EQ(made.lines, expected);

    // The round trip: the archives as built pass the installer's verification.
    const ToolRun checked = run({"check", out, "--files", path("build")});
    EXPECT_EQ(checked.code, 0) << checked.lines.back();
    EXPECT_EQ(checked.lines.size(), 7u);
    EXPECT_EQ(checked.lines[2],
              "x64: " + path("build") + "/vantile-1.4.0-x64.zip has that size and SHA-256");
    EXPECT_EQ(checked.lines[5],
              "arm64: " + path("build") + "/vantile-1.4.0-arm64.zip has that size and SHA-256");
}

TEST_F(ReleaseToolTest, MakeLocalNamesEachArchiveBesideTheManifest) {
    write("offline/vantile-x64.zip", "abc");
    write("offline/arm64/vantile.zip", "abc");
    const std::string out = path("offline/metadata.json");
    const ToolRun made =
        run({"make", "--local", "--version", "1.4.0-rc.1", "--x64", path("offline/vantile-x64.zip"),
             "--arm64", path("offline/arm64/vantile.zip"), "--out", out});
    EXPECT_EQ(made.err, "");
    ASSERT_EQ(made.code, 0);
    Result<JsonValue> document = parse_json(read("offline/metadata.json"));
    ASSERT_TRUE(document.ok()) << document.error();
    EXPECT_EQ(*document.value().find("desktop-windows-x64")->find("url")->as_string(),
              "vantile-x64.zip");
    EXPECT_EQ(*document.value().find("desktop-windows-arm64")->find("url")->as_string(),
              "arm64/vantile.zip");
    // The installer joins a local name onto the manifest's folder with a backslash.
    const std::string folder = path("offline");
    EXPECT_EQ(made.lines[2], "x64: copies the local file " + folder +
                                 "\\vantile-x64.zip (3 bytes, SHA-256 " + ABC + ")");
    EXPECT_EQ(made.lines[4], "arm64: copies the local file " + folder +
                                 "\\arm64/vantile.zip (3 bytes, SHA-256 " + ABC + ")");

    const ToolRun checked = run({"check", out, "--files", folder});
    EXPECT_EQ(checked.code, 0);
    EXPECT_EQ(checked.lines.back(), "Both kinds of computer would install.");
}

TEST_F(ReleaseToolTest, MakeRefusesWhatTheInstallerWouldRefuseAndWritesNothing) {
    const std::string x64 = write("vantile-x64.zip", "abc");
    const std::string arm64_same_name = write("arm64/vantile-x64.zip", "abc");
    const std::string spaced = write("vantile x64.zip", "abc");
    const std::string outside = write("elsewhere/vantile-arm64.zip", "abc");
    const std::string out = path("offline/metadata.json");
    std::filesystem::create_directories(path("offline"));
    const std::string locations = " Archives are published under " + STORAGE + " or " + CDN + ".";
    const std::string grammar =
        " is not one the installer reads: it must be major.minor.patch, three numbers of at most "
        "2147483647, optionally followed by a hyphen and dot-separated letters and digits (1.4.0, "
        "1.4.0-rc.1).";
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string message;
    };
    const Case cases[] = {
        {"two numbers",
         {"--version", "1.4", "--x64", x64, "--base", STORAGE},
         "The version 1.4" + grammar},
        {"build metadata",
         {"--version", "1.4.0+7", "--x64", x64, "--base", STORAGE},
         "The version 1.4.0+7" + grammar},
        {"a number too large",
         {"--version", "2147483648.0.0", "--x64", x64, "--base", STORAGE},
         "The version 2147483648.0.0" + grammar},
        {"untrusted host",
         {"--version", "1.4.0", "--x64", x64, "--base", UNTRUSTED},
         "The manifest names " + UNTRUSTED +
             "vantile-x64.zip, which is not one of Vantile's downloads." + locations},
        {"trusted host, other folder",
         {"--version", "1.4.0", "--x64", x64, "--base",
          std::string(CDN_DOWNLOAD_PREFIX) + "vantile"},
         "The manifest names " + std::string(CDN_DOWNLOAD_PREFIX) +
             "vantile/vantile-x64.zip, which is not one of Vantile's downloads." + locations},
        {"host in capitals",
         {"--version", "1.4.0", "--x64", x64, "--base", "HTTPS://" + STORAGE.substr(8)},
         "The manifest names HTTPS://" + STORAGE.substr(8) +
             "vantile-x64.zip, which is not one of Vantile's downloads." + locations},
        {"plain http",
         {"--version", "1.4.0", "--x64", x64, "--base", "http://" + STORAGE.substr(8)},
         "Only https:// addresses are trusted, and http://" + STORAGE.substr(8) +
             "vantile-x64.zip is not one." + locations},
        {"no scheme",
         {"--version", "1.4.0", "--x64", x64, "--base", STORAGE.substr(8)},
         "The base " + STORAGE.substr(8) +
             " is not an https:// address. Give the address the "
             "archives are published under (" +
             STORAGE + " or " + CDN +
             "), or --local for an "
             "offline folder."},
        {"refused file name character",
         {"--version", "1.4.0", "--x64", spaced, "--base", STORAGE},
         "The manifest names " + STORAGE +
             "vantile x64.zip, which is not one of Vantile's downloads. The file name vantile "
             "x64.zip is at fault: a download's path holds only ASCII letters, digits, hyphens, "
             "full stops and underscores. Rename the archive."},
        {"one name for both builds",
         {"--version", "1.4.0", "--x64", x64, "--arm64", arm64_same_name, "--base", STORAGE},
         "The x64 and arm64 archives would both be published as " + STORAGE +
             "vantile-x64.zip: each build needs a file of its own."},
        {"a missing archive",
         {"--version", "1.4.0", "--x64", path("missing.zip"), "--base", STORAGE},
         "Could not read " + path("missing.zip") + ": No such file or directory (os error 2)"},
        {"an offline archive outside the folder",
         {"--local", "--version", "1.4.0", "--x64", outside},
         outside + " is not in the folder that holds " + out +
             ": an offline folder must hold its archives, so that it can be copied whole."},
        {"an output folder that does not exist",
         {"--version", "1.4.0", "--x64", x64, "--base", STORAGE, "--out", path("none/m.json")},
         "Could not write " + path("none/m.json") + ": No such file or directory (os error 2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> arguments = {"make", "--out", out};
        if (std::find(c.arguments.begin(), c.arguments.end(), "--out") != c.arguments.end())
            arguments = {"make"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ToolRun result = run(arguments);
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.err, "vantile-release: " + c.message + "\n");
        EXPECT_EQ(result.lines, std::vector<std::string>{});
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST_F(ReleaseToolTest, WrongArgumentsExitWithTwoAndTheUsage) {
    const std::string x64 = write("app.zip", "abc");
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const Case cases[] = {
        {{}, "Say what to do: make or check."},
        {{"publish"}, "Unknown command publish: use make or check."},
        {{"check"}, "check takes exactly one manifest."},
        {{"check", "a.json", "b.json"}, "check takes exactly one manifest."},
        {{"check", "a.json", "--files"}, "--files needs a value."},
        {{"check", "a.json", "--files="}, "--files needs a value."},
        {{"check", "a.json", "--base", "x"}, "Unknown option --base."},
        {{"make", "--x64", x64, "--base", STORAGE}, "make needs --version."},
        {{"make", "--version", "1.4.0", "--base", STORAGE},
         "make needs --x64 with the x64 archive."},
        {{"make", "--version", "1.4.0", "--x64", x64},
         "make needs --base with the address the archives are published under, or --local for a "
         "folder that holds the manifest and its archives."},
        {{"make", "--version", "1.4.0", "--x64", x64, "--local", "--base", STORAGE},
         "make takes either --base or --local, not both."},
        {{"make", "--version", "1.4.0", "--version", "1.4.1"}, "--version is given twice."},
        {{"make", "--local=yes"}, "--local takes no value."},
        {{"make", "app.zip"}, "make takes no argument app.zip."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const ToolRun result = run(c.arguments);
        EXPECT_EQ(result.code, 2);
        EXPECT_TRUE(result.err.starts_with("vantile-release: " + c.message + "\n\nUsage:\n"))
            << result.err;
        EXPECT_EQ(result.lines, std::vector<std::string>{});
    }
    const ToolRun help = run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.lines.front(), "Usage:");
}

TEST_F(ReleaseToolTest, JsonGivesTheSameVerdictsForScripts) {
    const std::string x64 = write("app-x64.zip", "abc");
    const std::string out = path("metadata.json");
    const ToolRun made = run(
        {"make", "--json", "--version", "1.4.0", "--x64", x64, "--base", STORAGE, "--out", out});
    ASSERT_EQ(made.code, 0);
    std::string made_text;
    for (const std::string& line : made.lines) made_text += line + "\n";
    Result<JsonValue> made_document = parse_json(made_text);
    ASSERT_TRUE(made_document.ok()) << made_document.error();
    EXPECT_EQ(*made_document.value().find("wrote")->as_string(), out);

    write("bad/app-x64.zip", "abcd");
    const ToolRun checked = run({"check", out, "--files", path("bad"), "--json"});
    EXPECT_EQ(checked.code, 1);
    std::string text;
    for (const std::string& line : checked.lines) text += line + "\n";
    Result<JsonValue> document = parse_json(text);
    ASSERT_TRUE(document.ok()) << document.error();
    const JsonValue& verdict = document.value();
    EXPECT_EQ(std::get<bool>(verdict.find("installs_everywhere")->data), false);
    EXPECT_EQ(*verdict.find("summary")->as_string(), "Neither kind of computer would install.");
    const auto& computers = std::get<JsonArray>(verdict.find("computers")->data);
    ASSERT_EQ(computers.size(), 2u);
    const JsonValue& arm64 = computers[1];
    EXPECT_EQ(*arm64.find("computer")->as_string(), "arm64");
    EXPECT_EQ(*arm64.find("platform_key")->as_string(), "win32-arm64");
    EXPECT_EQ(*arm64.find("chosen")->find("asset")->as_string(), "desktop-windows-x64");
    EXPECT_EQ(*arm64.find("download")->as_string(), STORAGE + "app-x64.zip");
    EXPECT_EQ(*arm64.find("archive")->as_string(), path("bad") + "/app-x64.zip");
    const std::string failure = STORAGE +
                                "app-x64.zip is 4 bytes, but the manifest says 3: the download is "
                                "incomplete, or is not the published file.";
    EXPECT_EQ(*arm64.find("failure")->as_string(), failure);
    const auto& lines = std::get<JsonArray>(arm64.find("lines")->data);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(*lines.back().as_string(), "arm64: would fail: " + failure);

    // A refusal is JSON too, on standard output.
    const ToolRun refused =
        run({"make", "--json", "--version", "1.4", "--x64", x64, "--base", STORAGE, "--out", out});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "");
    ASSERT_FALSE(refused.lines.empty());
    std::string refused_text;
    for (const std::string& line : refused.lines) refused_text += line + "\n";
    Result<JsonValue> refusal = parse_json(refused_text);
    ASSERT_TRUE(refusal.ok()) << refusal.error();
    EXPECT_TRUE(refusal.value().find("error")->as_string()->starts_with("The version 1.4 is not"));
}

TEST(JsonText, ReadsBackThroughTheInstallersReader) {
    const std::string tricky =
        std::string("quote \" backslash \\ tab\t line\n return\r bell\x07 nul") +
        std::string(1, '\0') + " \xC3\xA9 \xF0\x9F\x98\x80";
    const JsonValue value{JsonObject{
        {tricky, JsonValue{tricky}},
        {"numbers", JsonValue{JsonArray{JsonValue{std::uint64_t{18446744073709551615u}},
                                        JsonValue{std::int64_t{-5}}, JsonValue{0.5},
                                        JsonValue{true}, JsonValue{JsonNull{}}}}},
        {"empty", JsonValue{JsonObject{}}},
        {"none", JsonValue{JsonArray{}}},
    }};
    Result<JsonValue> read = parse_json(json_text(value));
    ASSERT_TRUE(read.ok()) << read.error();
    const JsonObject& members = *read.value().as_object();
    ASSERT_EQ(members.size(), 4u);
    EXPECT_EQ(members[0].first, tricky);
    EXPECT_EQ(*members[0].second.as_string(), tricky);
    const auto& numbers = std::get<JsonArray>(members[1].second.data);
    ASSERT_EQ(numbers.size(), 5u);
    EXPECT_EQ(std::get<std::uint64_t>(numbers[0].data), 18446744073709551615u);
    EXPECT_EQ(std::get<std::int64_t>(numbers[1].data), -5);
    EXPECT_EQ(std::get<double>(numbers[2].data), 0.5);
    EXPECT_EQ(std::get<bool>(numbers[3].data), true);
    EXPECT_TRUE(std::holds_alternative<JsonNull>(numbers[4].data));
    EXPECT_TRUE(std::get<JsonObject>(members[2].second.data).empty());
    EXPECT_TRUE(std::get<JsonArray>(members[3].second.data).empty());
}

}  // namespace
}  // namespace vantile
