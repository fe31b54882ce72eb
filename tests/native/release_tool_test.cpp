// vantile-release, run in-process as its main runs it: each case gives the arguments and the
// files (zip archives made here with libarchive's writer), and asserts the exit code and the
// exact lines it prints. Expected verdicts are written from the installer's rules.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "flow/computer_facts.h"
#include "flow/json_reader.h"
#include "flow/json_writer.h"
#include "flow/sha256.h"
#include "flow/unpack_messages.h"
#include "base/version.h"
#include "release_tool/archive_rules.h"
#include "release_tool/manifest_check.h"
#include "release_tool/release_tool.h"
#include "release_tool/terminal_text.h"

namespace vantile {
namespace {

// SHA-256 of "abc" and of the empty input.
const std::string ABC = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string EMPTY = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
// Where archives are published: the CMake-configured storage and CDN locations.
const std::string STORAGE =
    "https://" VANTILE_STORAGE_HOST "/s3-mirrowfold-upgrade-3/vantile/desktop/";
const std::string CDN = "https://" VANTILE_CDN_HOST "/vantile/desktop/";
const std::string UNTRUSTED = "https://downloads.example.com/vantile/desktop/";

std::string no_app(const std::string& platform) {
    return "The desktop manifest has no Vantile desktop app for this computer (" + platform +
           ") yet.";
}

// A build entry as a publisher would write it.
// A build entry as a publisher would write it; a Windows path's backslashes escaped for JSON.
std::string entry(const std::string& version, const std::string& url, const std::string& size = "3",
                  const std::string& sha256 = ABC, const std::string& extra = "") {
    std::string escaped_url;
    for (char c : url) escaped_url += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return R"({"version": ")" + version + R"(", "url": ")" + escaped_url + R"(", "size": )" + size +
           R"(, "sha256": ")" + sha256 + "\"" + extra + "}";
}

// One entry of a zip made for a test.
struct ZipEntry {
    std::string name;
    std::string content;  // a file's bytes, or a link's target
    mode_t type = AE_IFREG;
};

struct ArchiveWriteFree {
    void operator()(archive* writer) const { archive_write_free(writer); }
};

enum class ZipKind { Deflated, Stored, Encrypted };

// Writes a zip with these entries: compressed, stored as they are, or each file protected by
// a password.
void write_zip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries,
               ZipKind kind = ZipKind::Deflated) {
    std::filesystem::create_directories(path.parent_path());
    std::unique_ptr<archive, ArchiveWriteFree> writer(archive_write_new());
    ASSERT_EQ(archive_write_set_format_zip(writer.get()), ARCHIVE_OK);
    if (kind == ZipKind::Stored) {
        ASSERT_EQ(archive_write_set_options(writer.get(), "zip:compression=store"), ARCHIVE_OK);
    }
    if (kind == ZipKind::Encrypted) {
        ASSERT_EQ(archive_write_set_options(writer.get(), "zip:encryption=zipcrypt"), ARCHIVE_OK)
            << archive_error_string(writer.get());
        ASSERT_EQ(archive_write_set_passphrase(writer.get(), "secret"), ARCHIVE_OK);
    }
    ASSERT_EQ(archive_write_open_filename(writer.get(), path.c_str()), ARCHIVE_OK);
    for (const ZipEntry& item : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.name.c_str());
        archive_entry_set_filetype(entry, item.type);
        archive_entry_set_perm(entry, 0644);
        if (item.type == AE_IFLNK) archive_entry_set_symlink(entry, item.content.c_str());
        if (item.type == AE_IFREG) archive_entry_set_size(entry, item.content.size());
        ASSERT_EQ(archive_write_header(writer.get(), entry), ARCHIVE_OK)
            << archive_error_string(writer.get());
        if (item.type == AE_IFREG)
            archive_write_data(writer.get(), item.content.data(), item.content.size());
        archive_entry_free(entry);
    }
    ASSERT_EQ(archive_write_close(writer.get()), ARCHIVE_OK);
}

// What a build makes: Vantile.exe at the top and a file of its own.
const std::vector<ZipEntry> APP = {{"Vantile.exe", "MZ stand-in"}, {"resources/a.txt", "a"}};

// The size and SHA-256 of a file, worked out apart from the tool.
std::pair<std::string, std::string> size_and_digest(const std::string& path) {
    Result<FileDigest> digest = sha256_of_file(path);
    if (!digest) return {"?", digest.error()};
    return {std::to_string(digest.value().byte_count), digest.value().digest};
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

// The document every outcome gives with --json: the same members each time.
JsonValue outcome_json(const ToolRun& run) {
    std::string text;
    for (const std::string& line : run.lines) text += line + "\n";
    Result<JsonValue> document = parse_json(text);
    EXPECT_TRUE(document.ok()) << document.error();
    if (!document) return JsonValue{JsonNull{}};
    std::vector<std::string> members;
    for (const JsonMember& member : *document.value().as_object()) members.push_back(member.first);
    EXPECT_EQ(members, (std::vector<std::string>{"schema_version", "command", "exit_code",
                                                 "summary", "error", "usage", "wrote", "verdict"}));
    EXPECT_EQ(std::get<std::uint64_t>(document.value().find("schema_version")->data), 1u);
    EXPECT_EQ(std::get<std::uint64_t>(document.value().find("exit_code")->data),
              static_cast<std::uint64_t>(run.code));
    return document.value();
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

    // A zip under `name` and its entry for a manifest with this url.
    std::string zip_entry(const std::string& name, const std::vector<ZipEntry>& entries,
                          const std::string& url, const std::string& version = "1.4.0") {
        std::filesystem::create_directories((dir_ / name).parent_path());
        write_zip(dir_ / name, entries);
        const auto [size, sha256] = size_and_digest(path(name));
        return entry(version, url, size, sha256);
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
    // No archive is read without --files: nothing would fail, as far as checked.
    const std::string both_install =
        "No computer would fail as far as checked, but not every archive could be checked.";
    const auto not_checked = [](const std::string& computer, const std::string& url) {
        return computer + ": not checked: give the folder that holds " +
               url.substr(url.rfind('/') + 1) + " with --files to check it";
    };
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
             entry("1.4.0", arm64, "3", EMPTY) + "}",
         3,
         {"x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")", not_checked("x64", x64),
          "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
          "strictly newer",
          "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + EMPTY + ")",
          not_checked("arm64", arm64), both_install}},
        {"bad version",
         R"({"desktop-windows-x64": )" + entry("1.4", x64) + "}",
         1,
         {"x64: would fail: " + no_app("win32-x64"), "x64: " + bad_version,
          "arm64: would fail: " + no_app("win32-arm64"), "arm64: there is no desktop-windows-arm64",
          "arm64: " + bad_version, neither}},
        {"float size",
         R"({"desktop-windows-x64": )" + entry("1.4.0", x64, "3.0") +
             R"(, "desktop-windows-arm64": )" + entry("1.4.0", arm64, "3", EMPTY) + "}",
         1,
         {"x64: would fail: " + no_app("win32-x64"), "x64: " + float_size,
          "arm64: chooses desktop-windows-arm64 1.4.0, because " + float_size,
          "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + EMPTY + ")",
          not_checked("arm64", arm64),
          "x64 computers would not install, and not every archive could be checked."}},
        {"version as a number",
         R"({"desktop-windows-arm64": {"version": 140, "url": ")" + arm64 +
             R"(", "size": 3, "sha256": ")" + ABC + R"("}, "desktop-windows-x64": )" +
             entry("1.4.0", x64) + "}",
         3,
         {"x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")", not_checked("x64", x64),
          "arm64: chooses desktop-windows-x64 1.4.0, because desktop-windows-arm64 is passed "
          "over: its \"version\" is not a string",
          "arm64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")", not_checked("arm64", x64),
          both_install}},
        {"wrong-case keys",
         R"({"desktop-windows-x64": {"version": "1.4.0", "url": ")" + x64 +
             R"(", "size": 3, "SHA256": ")" + ABC + R"("}, "Desktop-Windows-Arm64": )" +
             entry("1.4.0", arm64, "3", EMPTY) + "}",
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
             entry("1.4.0", spaced, "3", EMPTY) + "}",
         1,
         {"x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")", not_checked("x64", x64),
          "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
          "strictly newer",
          "arm64: would fail: The manifest names " + spaced +
              ", which is not one of Vantile's downloads.",
          "arm64 computers would not install, and not every archive could be checked."}},
        {"short digest",
         R"({"desktop-windows-x64": )" + entry("1.4.0", CDN + "app.zip", "3", ABC.substr(1)) + "}",
         1,
         {"x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
          "x64: would fail: The manifest gives no valid SHA-256 for " + CDN + "app.zip.",
          "arm64: chooses desktop-windows-x64 1.4.0, because there is no desktop-windows-arm64",
          "arm64: would fail: The manifest gives no valid SHA-256 for " + CDN + "app.zip.",
          neither}},
        {"arm64 older than x64",
         R"({"desktop-windows-arm64": )" + entry("4.1.9", arm64, "3", EMPTY) +
             R"(, "desktop-windows-x64": )" + entry("4.2.0", x64) + "}",
         3,
         {"x64: chooses desktop-windows-x64 4.2.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")", not_checked("x64", x64),
          "arm64: chooses desktop-windows-x64 4.2.0, because it is strictly newer than "
          "desktop-windows-arm64 4.1.9",
          "arm64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")", not_checked("arm64", x64),
          "warning: desktop-windows-arm64 4.1.9 is older than desktop-windows-x64 4.2.0: arm64 "
          "computers take the x64 build instead, emulated",
          both_install}},
        {"arm64 newer than x64",
         R"({"desktop-windows-x64": )" + entry("4.2.0", x64) + R"(, "desktop-windows-arm64": )" +
             entry("4.2.1", arm64, "3", EMPTY) + "}",
         3,
         {"x64: chooses desktop-windows-x64 4.2.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")", not_checked("x64", x64),
          "arm64: chooses desktop-windows-arm64 4.2.1, because desktop-windows-x64 4.2.0 is older",
          "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + EMPTY + ")",
          not_checked("arm64", arm64), both_install}},
        {"arm64 equal to x64 but for its pre-release part",
         R"({"desktop-windows-x64": )" + entry("2.0.0", x64) + R"(, "desktop-windows-arm64": )" +
             entry("2.0.0-beta", arm64, "3", EMPTY) + "}",
         3,
         {"x64: chooses desktop-windows-x64 2.0.0, the only entry x64 computers read",
          "x64: downloads " + x64 + " (3 bytes, SHA-256 " + ABC + ")", not_checked("x64", x64),
          "arm64: chooses desktop-windows-arm64 2.0.0-beta, because desktop-windows-x64 2.0.0 is "
          "not strictly newer (only the numbers are compared)",
          "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + EMPTY + ")",
          not_checked("arm64", arm64), both_install}},
        {"duplicated keys: the last one counts",
         R"({"desktop-windows-arm64": )" + entry("1.4", arm64, "3", EMPTY) +
             R"(, "desktop-windows-x64": )" +
             entry("1.4.0", x64, "3", ABC, R"(, "url": ")" + foreign + "\"") +
             R"(, "desktop-windows-arm64": )" + entry("1.4.0", arm64, "3", EMPTY) + "}",
         1,
         {"x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
          "x64: would fail: " + not_ours,
          "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
          "strictly newer",
          "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + EMPTY + ")",
          not_checked("arm64", arm64),
          "x64 computers would not install, and not every archive could be checked."}},
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
    const std::string large = write("large.json", std::string(1048577, ' '));
    const std::string too_large = "The manifest " + large + " is larger than a manifest can be.";
    struct Case {
        std::string manifest;
        std::string message;
    };
    // The limit itself is a manifest still: it is judged.
    const std::string entry_text =
        R"({"desktop-windows-x64": )" + entry("1.4", STORAGE + "a.zip") + "}";
    const std::string at_limit =
        write("limit.json", entry_text + std::string(1048576 - entry_text.size(), ' '));
    const ToolRun judged = run({"check", at_limit});
    EXPECT_EQ(judged.code, 1);
    ASSERT_FALSE(judged.lines.empty());
    EXPECT_EQ(judged.lines[1],
              "x64: desktop-windows-x64 is passed over: its \"version\" \"1.4\" is "
              "not major.minor.patch with an optional -prerelease part");
    for (const Case& c : {Case{bad_json, invalid}, Case{large, too_large}}) {
        SCOPED_TRACE(c.manifest);
        const ToolRun result = run({"check", c.manifest});
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.lines,
                  (std::vector<std::string>{"x64: would fail: " + c.message,
                                            "arm64: would fail: " + c.message,
                                            "Neither kind of computer would install."}));
    }
}

TEST_F(ReleaseToolTest, AManifestOrFolderThatIsNotThereIsThePublishersMistake) {
    const std::string manifest = write("metadata.json", "{}");
    const std::string missing = path("metadta.json");
    ASSERT_EQ(mkfifo(path("fifo.json").c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string message;
    };
    const Case cases[] = {
        {"a misspelt manifest", {"check", missing}, "The manifest " + missing + " does not exist."},
        {"a folder for a manifest",
         {"check", dir_.string()},
         "The manifest " + dir_.string() + " does not exist."},
        {"a pipe for a manifest",
         {"check", path("fifo.json")},
         "The manifest " + path("fifo.json") + " does not exist."},
        {"a missing --files folder",
         {"check", manifest, "--files", path("nope")},
         "The folder " + path("nope") + " given with --files does not exist."},
        {"a file given as the --files folder",
         {"check", manifest, "--files", manifest},
         "The folder " + manifest + " given with --files is not a folder."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun result = run(c.arguments);
        EXPECT_EQ(result.code, 2);
        EXPECT_EQ(result.err, "vantile-release: " + c.message + "\n");
        EXPECT_EQ(result.lines, std::vector<std::string>{});
    }
}

TEST_F(ReleaseToolTest, CheckFilesComparesEachChosenArchiveWithTheInstallersVerification) {
    const std::string x64 = STORAGE + "1.4.0/app-x64.zip";
    const std::string arm64 = CDN + "app-arm64.zip";
    const std::string files = path("files");
    const std::string x64_file = files + "/app-x64.zip";
    write_zip(x64_file, APP);
    const std::string published = read("files/app-x64.zip");
    const auto [size, sha256] = size_and_digest(x64_file);
    write("metadata.json", R"({"desktop-windows-x64": )" + entry("1.4.0", x64, size, sha256) +
                               R"(, "desktop-windows-arm64": )" +
                               entry("1.4.0", arm64, "3", EMPTY) + "}");
    const std::string x64_lines[] = {
        "x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
        "x64: downloads " + x64 + " (" + size + " bytes, SHA-256 " + sha256 + ")"};
    const std::string arm64_lines[] = {
        "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
        "strictly newer",
        "arm64: downloads " + arm64 + " (3 bytes, SHA-256 " + EMPTY + ")",
        "arm64: would fail: " + arm64 + " failed its checksum (expected " + EMPTY + ", got " + ABC +
            "): it is not the published file.",
        "arm64: " + files +
            "/app-arm64.zip no longer matches the manifest: if the archive was "
            "rebuilt, make the manifest again"};
    struct Case {
        const char* name;
        const char* x64_content;  // nullptr: no such file
        std::vector<std::string> x64_verdict;
        std::string summary;
    };
    const std::string longer = std::to_string(std::stoll(size) + 1);
    const Case cases[] = {
        {"the published archive",
         "",
         {"x64: " + x64_file + " has that size and SHA-256",
          "x64: " + x64_file + " unpacks with Vantile.exe at its top"},
         "Only x64 computers would install."},
        {"a size that differs",
         "+",
         {"x64: would fail: " + x64 + " is " + longer + " bytes, but the manifest says " + size +
              ": the download is incomplete, or is not the published file.",
          "x64: " + x64_file +
              " no longer matches the manifest: if the archive was rebuilt, make the manifest "
              "again"},
         "Neither kind of computer would install."},
        {"a folder under the archive's name",
         nullptr,
         {"x64: would fail: Could not read " + x64_file + ": it is a folder, not a file"},
         "Neither kind of computer would install."},
    };
    write("files/app-arm64.zip", "abc");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(x64_file);
        if (c.x64_content) {
            write("files/app-x64.zip", published + c.x64_content);
        } else {
            std::filesystem::create_directory(x64_file);
        }
        const ToolRun result = run({"check", path("metadata.json"), "--files", files});
        EXPECT_EQ(result.code, 1);
        std::vector<std::string> expected(std::begin(x64_lines), std::end(x64_lines));
        expected.insert(expected.end(), c.x64_verdict.begin(), c.x64_verdict.end());
        expected.insert(expected.end(), std::begin(arm64_lines), std::end(arm64_lines));
        expected.push_back(c.summary);
        EXPECT_EQ(result.lines, expected);
    }
}

// The verdict never goes beyond what the tool read: make reads its archives as check --files
// does, an archive nobody gave is named as not checked, and a folder lacking it is the
// publisher's mistake.
TEST_F(ReleaseToolTest, EveryVerdictRestsOnWhatWasRead) {
    struct Refused {
        const char* name;
        std::vector<ZipEntry> entries;  // empty: random bytes, no archive at all
        std::string failure;            // the installer's own message
    };
    const std::string x64 = path("build/vantile-x64.zip");
    const Refused refused[] = {
        {"Vantile.exe one folder down",
         {{"app/Vantile.exe", "MZ"}},
         std::string(NO_APP_EXECUTABLE_MESSAGE)},
        {"a folder named Vantile.exe",
         {{"Vantile.exe/", "", AE_IFDIR}, {"Vantile.exe/a.txt", "a"}},
         std::string(NO_APP_EXECUTABLE_MESSAGE)},
        {"no zip at all", {}, unpack_failed_message(x64, TAR_FAILURE_EXIT_CODE)},
    };
    const std::string out = path("out/metadata.json");
    std::filesystem::create_directories(path("out"));
    for (const Refused& c : refused) {
        SCOPED_TRACE(c.name);
        if (c.entries.empty())
            write("build/vantile-x64.zip", "\x8f\x03random bytes\xff\x00\x17");
        else
            write_zip(x64, c.entries);
        const ToolRun result = run(
            {"make", "--version", "1.4.0", "--x64", x64, "--base", CDN + "1.4.0/", "--out", out});
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.lines, std::vector<std::string>{});
        EXPECT_TRUE(result.err.starts_with("vantile-release: The installer would not install " +
                                           x64 + " on x64 computers: " + c.failure))
            << result.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }

    // Published archives that nobody gave: nothing would fail as far as read, no more.
    write_zip(x64, APP);
    const auto [size, sha256] = size_and_digest(x64);
    const std::string url = CDN + "1.4.0/vantile-x64.zip";
    write("metadata.json", R"({"desktop-windows-x64": )" + entry("1.4.0", url, size, sha256) + "}");
    const std::string not_checked =
        ": not checked: give the folder that holds vantile-x64.zip with --files to check it";
    const std::string partly =
        "No computer would fail as far as checked, but not every archive could be checked.";
    const ToolRun unread = run({"check", path("metadata.json")});
    EXPECT_EQ(unread.code, 3);
    EXPECT_EQ(unread.lines,
              (std::vector<std::string>{
                  "x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
                  "x64: downloads " + url + " (" + size + " bytes, SHA-256 " + sha256 + ")",
                  "x64" + not_checked,
                  "arm64: chooses desktop-windows-x64 1.4.0, because there is no "
                  "desktop-windows-arm64",
                  "arm64: downloads " + url + " (" + size + " bytes, SHA-256 " + sha256 + ")",
                  "arm64" + not_checked, partly}));
    const ToolRun unread_json = run({"check", path("metadata.json"), "--json"});
    EXPECT_EQ(unread_json.code, 3);
    EXPECT_EQ(unread_json.err, "vantile-release: " + partly + "\n");
    const JsonValue verdict = *outcome_json(unread_json).find("verdict");
    EXPECT_EQ(std::get<bool>(verdict.find("checked_everything")->data), false);
    EXPECT_EQ(std::get<bool>(verdict.find("installs_everywhere")->data), false);

    // A --files folder without the archive says nothing of users: the publisher's mistake.
    std::filesystem::create_directories(path("empty"));
    const ToolRun lacking = run({"check", path("metadata.json"), "--files", path("empty")});
    EXPECT_EQ(lacking.code, 2);
    EXPECT_EQ(lacking.lines, std::vector<std::string>{});
    EXPECT_EQ(lacking.err, "vantile-release: The folder " + path("empty") +
                               " given with --files holds no vantile-x64.zip, the archive of " +
                               url + ".\n");

    // An archive rebuilt after the manifest was made: the installer's line, then the
    // publisher's.
    write_zip(x64, {{"Vantile.exe", "MZ rebuilt"}});
    const auto [new_size, new_sha256] = size_and_digest(x64);
    const ToolRun stale = run({"check", path("metadata.json"), "--files", path("build")});
    EXPECT_EQ(stale.code, 1);
    const std::string installer_line =
        new_size == size ? url + " failed its checksum (expected " + sha256 + ", got " +
                               new_sha256 + "): it is not the published file."
                         : url + " is " + new_size + " bytes, but the manifest says " + size +
                               ": the download is incomplete, or is not the published file.";
    const std::vector<std::string> expected_stale = {
        "x64: would fail: " + installer_line,
        "x64: " + x64 +
            " no longer matches the manifest: if the archive was rebuilt, make the "
            "manifest again"};
    EXPECT_NE(std::search(stale.lines.begin(), stale.lines.end(), expected_stale.begin(),
                          expected_stale.end()),
              stale.lines.end())
        << testing::PrintToString(stale.lines);
}

// What tar.exe and the installer's look for Vantile.exe make of an archive: each row is a zip
// with its entries, and what the installer would say of it.
TEST_F(ReleaseToolTest, CheckFollowsTheArchiveThroughUnpacking) {
    struct Case {
        const char* name;
        std::vector<ZipEntry> entries;
        std::vector<std::string> verdict;  // the lines after "has that size and SHA-256"
        ZipKind kind = ZipKind::Deflated;
    };
    const std::string archive = path("offline") + "\\app.zip";
    const std::string unpacks = "x64: " + archive + " unpacks with Vantile.exe at its top";
    const std::string no_app =
        "x64: would fail: The download has no Vantile.exe, so it is not a Vantile desktop app.";
    const std::string tar_fails =
        "x64: would fail: Could not unpack " + archive + " (tar.exe exit code 1).";
    const Case cases[] = {
        {"Vantile.exe at the top", APP, {unpacks}},
        {"in another letter case, as Windows finds it", {{"vantile.EXE", "MZ"}}, {unpacks}},
        {"behind ./", {{"./Vantile.exe", "MZ"}}, {unpacks}},
        {"behind a leading slash, which tar.exe drops", {{"/Vantile.exe", "MZ"}}, {unpacks}},
        {"only in a sub-folder",
         {{"app/Vantile.exe", "MZ"}, {"app/b.txt", "b"}},
         {no_app, "x64: the archive holds app/Vantile.exe, but only its top is looked at"}},
        {"a folder named Vantile.exe",
         {{"Vantile.exe/", "", AE_IFDIR}, {"Vantile.exe/x.txt", "x"}},
         {no_app, "x64: Vantile.exe at the top of the archive is a folder"}},
        {"no Vantile.exe at all",
         {{"readme.txt", "r"}},
         {no_app, "x64: the archive holds no Vantile.exe at all"}},
        {"nothing at all", {}, {no_app, "x64: the archive holds no Vantile.exe at all"}},
        {"an entry that climbs out with ..",
         {{"Vantile.exe", "MZ"}, {"../evil.txt", "e"}},
         {tar_fails,
          "x64: tar.exe refuses ../evil.txt: its name climbs out of the folder with \"..\""}},
        {"a symbolic link",
         {{"Vantile.exe", "MZ"}, {"link", "/etc/passwd", AE_IFLNK}},
         {tar_fails, "x64: tar.exe refuses link: it is a symbolic link"}},
        {"encrypted entries",
         {{"Vantile.exe", "MZ"}},
         {tar_fails, "x64: tar.exe refuses Vantile.exe: it is encrypted"},
         ZipKind::Encrypted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(path("offline"));
        std::filesystem::create_directories(path("offline"));
        write_zip(path("offline/app.zip"), c.entries, c.kind);
        const auto [size, sha256] = size_and_digest(path("offline/app.zip"));
        write("offline/metadata.json",
              R"({"desktop-windows-x64": )" + entry("1.4.0", "app.zip", size, sha256) + "}");
        // No --files: a local manifest's archive is read where the installer reads it.
        const ToolRun result = run({"check", path("offline/metadata.json")});
        ASSERT_EQ(result.lines.size(), 7 + c.verdict.size() * 2)
            << testing::PrintToString(result.lines);
        EXPECT_EQ(result.lines[2], "x64: " + archive + " has that size and SHA-256");
        EXPECT_EQ(std::vector<std::string>(result.lines.begin() + 3,
                                           result.lines.begin() + 3 + c.verdict.size()),
                  c.verdict);
        const bool installs = c.verdict.front() == unpacks;
        EXPECT_EQ(result.code, installs ? 0 : 1);
        EXPECT_EQ(result.lines.back(), installs ? "Both kinds of computer would install."
                                                : "Neither kind of computer would install.");
    }
}

TEST_F(ReleaseToolTest, CheckSaysWhenTarExeCannotReadTheArchive) {
    write_zip(path("offline/stored.zip"), {{"Vantile.exe", "MZ stand-in"}}, ZipKind::Stored);
    const std::string stored = read("offline/stored.zip");
    std::string changed_data = stored;
    // The file's data no longer matches its CRC.
    changed_data[changed_data.find("stand-in")] ^= 0x20;
    write_zip(path("offline/deflated.zip"), APP);
    const std::string deflated = read("offline/deflated.zip");
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"data that fails its CRC", changed_data},
        {"cut short", deflated.substr(0, deflated.size() / 2)},
        {"not an archive", "just text\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string zip = write("offline/app.zip", c.bytes);
        const auto [size, sha256] = size_and_digest(zip);
        write("offline/metadata.json",
              R"({"desktop-windows-x64": )" + entry("1.4.0", "app.zip", size, sha256) + "}");
        const ToolRun result = run({"check", path("offline/metadata.json")});
        EXPECT_EQ(result.code, 1);
        ASSERT_GE(result.lines.size(), 5u);
        EXPECT_EQ(result.lines[3], "x64: would fail: Could not unpack " + path("offline") +
                                       "\\app.zip (tar.exe exit code 1).");
        EXPECT_TRUE(result.lines[4].starts_with("x64: tar.exe cannot read the archive: "))
            << result.lines[4];
    }
}

// An offline manifest written on Windows is read as the installer on Windows reads it.
TEST_F(ReleaseToolTest, CheckReadsOfflinePathsWithWindowsRules) {
    const std::string offline = path("offline");
    write_zip(offline + "/builds/app.zip", APP);
    write_zip(path("outside.zip"), APP);
    const auto [size, sha256] = size_and_digest(offline + "/builds/app.zip");
    const auto [outside_size, outside_sha256] = size_and_digest(path("outside.zip"));
    struct Case {
        const char* name;
        std::string url;
        std::string size;
        std::string sha256;
        std::vector<std::string> lines;  // after "chooses"
        int code;
    };
    const std::string at = offline + "\\builds\\app.zip";
    const Case cases[] = {
        {"backslashes",
         "builds\\app.zip",
         size,
         sha256,
         {"copies the local file " + at + " (" + size + " bytes, SHA-256 " + sha256 + ")",
          at + " has that size and SHA-256", at + " unpacks with Vantile.exe at its top"},
         0},
        {"mixed separators and a dot",
         ".\\builds/app.zip",
         size,
         sha256,
         {"copies the local file " + offline + "\\.\\builds/app.zip (" + size + " bytes, SHA-256 " +
              sha256 + ")",
          offline + "\\.\\builds/app.zip has that size and SHA-256",
          offline + "\\.\\builds/app.zip unpacks with Vantile.exe at its top"},
         0},
        {"outside the folder",
         "..\\outside.zip",
         outside_size,
         outside_sha256,
         {"copies the local file " + offline + "\\..\\outside.zip (" + outside_size +
              " bytes, SHA-256 " + outside_sha256 + ")",
          "warning: ..\\outside.zip lies outside the manifest's folder: an offline folder is "
          "copied whole, and this archive would be left behind",
          offline + "\\..\\outside.zip has that size and SHA-256",
          offline + "\\..\\outside.zip unpacks with Vantile.exe at its top"},
         0},
        {"a missing archive",
         "builds\\missing.zip",
         size,
         sha256,
         {"copies the local file " + offline + "\\builds\\missing.zip (" + size +
              " bytes, SHA-256 " + sha256 + ")",
          "would fail: Could not read " + offline +
              "\\builds\\missing.zip: No such file or directory (os error 2)"},
         1},
        {"a drive",
         "D:\\releases\\app.zip",
         size,
         sha256,
         {"copies the local file D:\\releases\\app.zip (" + size + " bytes, SHA-256 " + sha256 +
              ")",
          "warning: D:\\releases\\app.zip lies outside the manifest's folder: an offline folder "
          "is copied whole, and this archive would be left behind",
          "D:\\releases\\app.zip cannot be checked on this computer: only Windows reaches a "
          "drive or a network share, so check it with vantile-release.exe on Windows"},
         3},
        {"a network share, so check it with vantile-release.exe on Windows",
         "\\\\server\\share\\app.zip",
         size,
         sha256,
         {"copies the local file \\\\server\\share\\app.zip (" + size + " bytes, SHA-256 " +
              sha256 + ")",
          "warning: \\\\server\\share\\app.zip lies outside the manifest's folder: an offline "
          "folder is copied whole, and this archive would be left behind",
          "\\\\server\\share\\app.zip cannot be checked on this computer: only Windows "
          "reaches a drive or a network share, so check it with vantile-release.exe on Windows"},
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string manifest =
            write("offline/metadata.json",
                  R"({"desktop-windows-x64": )" + entry("1.4.0", c.url, c.size, c.sha256) + "}");
        const ToolRun result = run({"check", manifest});
        EXPECT_EQ(result.code, c.code);
        std::vector<std::string> expected;
        for (const char* computer : {"x64: ", "arm64: "}) {
            expected.push_back(std::string(computer) + "chooses desktop-windows-x64 1.4.0, " +
                               (computer[0] == 'x' ? "the only entry x64 computers read"
                                                   : "because there is no desktop-windows-arm64"));
            for (const std::string& line : c.lines) expected.push_back(computer + line);
        }
        expected.push_back(c.code == 0   ? "Both kinds of computer would install."
                           : c.code == 3 ? "No computer would fail as far as checked, but not "
                                           "every archive could be checked."
                                         : "Neither kind of computer would install.");
        EXPECT_EQ(result.lines, expected);
    }
}

// Relative paths are named as given: the installer's path for a local archive, the name for
// one found with "--files .", never with a "./" of the tool's own.
TEST_F(ReleaseToolTest, RelativePathsAreNamedAsTheInstallerWouldOpenThem) {
    write_zip(path("offline/builds/app.zip"), APP);
    write_zip(path("app-x64.zip"), APP);
    const auto [size, sha256] = size_and_digest(path("app-x64.zip"));
    write("offline/metadata.json",
          R"({"desktop-windows-x64": )" + entry("1.4.0", "builds\\app.zip", size, sha256) + "}");
    write("metadata.json", R"({"desktop-windows-x64": )" +
                               entry("1.4.0", STORAGE + "app-x64.zip", size, sha256) + "}");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    const ToolRun local = run({"check", "offline/metadata.json"});
    const ToolRun published = run({"check", "metadata.json", "--files", "."});
    std::filesystem::current_path(previous);
    ASSERT_GE(local.lines.size(), 4u);
    EXPECT_EQ(local.lines[2], "x64: offline\\builds\\app.zip has that size and SHA-256");
    EXPECT_EQ(local.lines[3], "x64: offline\\builds\\app.zip unpacks with Vantile.exe at its top");
    ASSERT_GE(published.lines.size(), 4u);
    EXPECT_EQ(published.lines[2], "x64: app-x64.zip has that size and SHA-256");
    EXPECT_EQ(published.code, 0);
}

// Pipes and devices are never read: a manifest naming one ends at once. Run in a child
// process that an alarm ends, so that a hang fails the test instead of stopping it.
TEST_F(ReleaseToolTest, SpecialFilesNeverHang) {
    std::filesystem::create_directories(path("offline"));
    ASSERT_EQ(mkfifo(path("offline/pipe.zip").c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::string url;
        std::string named;
    };
    const Case cases[] = {
        {"an endless device", "/dev/zero", "/dev/zero"},
        {"a pipe nobody writes to", "pipe.zip", path("offline") + "\\pipe.zip"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string manifest =
            write("offline/metadata.json",
                  R"({"desktop-windows-x64": )" + entry("1.4.0", c.url, "3", ABC) + "}");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(20);
            std::ostringstream out, err;
            _exit(run_release_tool({"check", manifest}, out, err));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the check was stopped by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 1);
        const ToolRun result = run({"check", manifest});
        const std::string refused =
            "x64: would fail: Could not read " + c.named + ": it is not a regular file";
        EXPECT_NE(std::find(result.lines.begin(), result.lines.end(), refused), result.lines.end())
            << testing::PrintToString(result.lines);
    }
}

TEST_F(ReleaseToolTest, ControlCharactersReachTheTerminalEscaped) {
    const std::string version = "1.4.0\x1b]0;retitled\x07\x1b[2J\xc2\x9b";
    write("metadata.json",
          R"({"desktop-windows-x64": )" + entry(R"(1.4.0-\u001b[2J)", STORAGE + "app.zip") +
              R"(, "desktop-windows-arm64": )" +
              entry(R"(1.4.0\u001b]0;retitled\u0007\u001b[2J\u009b)", STORAGE + "app.zip") + "}");
    const ToolRun result = run({"check", path("metadata.json")});
    std::string all;
    for (const std::string& line : result.lines) all += line + "\n";
    EXPECT_EQ(all.find('\x1b'), std::string::npos) << all;
    EXPECT_EQ(all.find('\x07'), std::string::npos) << all;
    EXPECT_NE(all.find("\"1.4.0\\x1b]0;retitled\\x07\\x1b[2J\\u009b\" is not major.minor.patch"),
              std::string::npos)
        << all;
    // The prerelease part holds ESC, so x64's entry is passed over too.
    EXPECT_NE(all.find("\"1.4.0-\\x1b[2J\""), std::string::npos) << all;
    EXPECT_EQ(printable(version), "1.4.0\\x1b]0;retitled\\x07\\x1b[2J\\u009b");
    EXPECT_EQ(printable("tab\there, DEL\x7f, \xc3\xa9 stays"),
              "tab\\x09here, DEL\\x7f, \xc3\xa9 stays");

    // The last C1 control, raw in the manifest, and a byte that is no UTF-8 at all.
    write("c1.json",
          R"({"desktop-windows-x64": )" + entry("1.4.0-\xC2\x9F", STORAGE + "app.zip") + "}");
    const ToolRun c1 = run({"check", path("c1.json")});
    std::string c1_all;
    for (const std::string& line : c1.lines) c1_all += line + "\n";
    EXPECT_EQ(c1_all.find("\xC2\x9F"), std::string::npos) << c1_all;
    EXPECT_NE(c1_all.find("\"1.4.0-\\u009f\""), std::string::npos) << c1_all;
    EXPECT_EQ(printable("CSI \x9b, cut \xe2\x82, \xe2\x82\xac"),
              "CSI \\x9b, cut \\xe2\\x82, \xe2\x82\xac");
    EXPECT_EQ(printable("\xc2\xa0 stays, \xed\xa0\x80 is a surrogate"),
              "\xc2\xa0 stays, \\xed\\xa0\\x80 is a surrogate");

    // In JSON a control character is escaped as JSON escapes it, and the document parses.
    write("c0.json",
          R"({"desktop-windows-x64": )" + entry(R"(1.4.0-\u001f)", STORAGE + "app.zip") + "}");
    const ToolRun c0 = run({"check", path("c0.json"), "--json"});
    EXPECT_EQ(c0.code, 1);
    const JsonValue c0_document = outcome_json(c0);
    EXPECT_NE(c0_document.find("verdict")->find("computers"), nullptr);
}

TEST_F(ReleaseToolTest, MakeWritesTheManifestAndWhatEachComputerWouldInstall) {
    const std::string x64 = path("build/vantile-1.4.0-x64.zip");
    const std::string arm64 = path("build/vantile-1.4.0-arm64.zip");
    std::filesystem::create_directories(path("build"));
    write_zip(x64, APP);
    write_zip(arm64, {{"Vantile.exe", "arm64 MZ"}});
    const auto [x64_size, x64_sha256] = size_and_digest(x64);
    const auto [arm64_size, arm64_sha256] = size_and_digest(arm64);
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
                  "    \"size\": " +
                  x64_size +
                  ",\n"
                  "    \"sha256\": \"" +
                  x64_sha256 +
                  "\"\n"
                  "  },\n"
                  "  \"desktop-windows-arm64\": {\n"
                  "    \"version\": \"1.4.0\",\n"
                  "    \"url\": \"" +
                  arm64_url +
                  "\",\n"
                  "    \"size\": " +
                  arm64_size +
                  ",\n"
                  "    \"sha256\": \"" +
                  arm64_sha256 +
                  "\"\n"
                  "  }\n"
                  "}\n");
    const std::vector<std::string> verdict = {
        "x64: chooses desktop-windows-x64 1.4.0, the only entry x64 computers read",
        "x64: downloads " + x64_url + " (" + x64_size + " bytes, SHA-256 " + x64_sha256 + ")",
        "x64: " + x64 + " has that size and SHA-256",
        "x64: " + x64 + " unpacks with Vantile.exe at its top",
        "arm64: chooses desktop-windows-arm64 1.4.0, because desktop-windows-x64 1.4.0 is not "
        "strictly newer",
        "arm64: downloads " + arm64_url + " (" + arm64_size + " bytes, SHA-256 " + arm64_sha256 +
            ")",
        "arm64: " + arm64 + " has that size and SHA-256",
        "arm64: " + arm64 + " unpacks with Vantile.exe at its top",
        "Both kinds of computer would install."};
    std::vector<std::string> expected = {"Wrote " + out};
    expected.insert(expected.end(), verdict.begin(), verdict.end());
    EXPECT_EQ(made.lines, expected);

    // The round trip: the archives as built pass the installer's verification.
    const ToolRun checked = run({"check", out, "--files", path("build")});
    EXPECT_EQ(checked.code, 0) << checked.lines.back();
    ASSERT_EQ(checked.lines.size(), 9u);
    EXPECT_EQ(checked.lines[2], "x64: " + x64 + " has that size and SHA-256");
    EXPECT_EQ(checked.lines[3], "x64: " + x64 + " unpacks with Vantile.exe at its top");
    EXPECT_EQ(checked.lines[6], "arm64: " + arm64 + " has that size and SHA-256");
    EXPECT_EQ(checked.lines[7], "arm64: " + arm64 + " unpacks with Vantile.exe at its top");
}

TEST_F(ReleaseToolTest, MakeLocalNamesEachArchiveBesideTheManifest) {
    std::filesystem::create_directories(path("offline/arm64"));
    write_zip(path("offline/vantile-x64.zip"), APP);
    write_zip(path("offline/arm64/vantile.zip"), APP);
    const auto [size, sha256] = size_and_digest(path("offline/vantile-x64.zip"));
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
    EXPECT_EQ(made.lines[2], "x64: copies the local file " + folder + "\\vantile-x64.zip (" + size +
                                 " bytes, SHA-256 " + sha256 + ")");
    EXPECT_EQ(made.lines[6], "arm64: copies the local file " + folder + "\\arm64/vantile.zip (" +
                                 size + " bytes, SHA-256 " + sha256 + ")");

    const ToolRun checked = run({"check", out});
    EXPECT_EQ(checked.code, 0);
    EXPECT_EQ(checked.lines.back(), "Both kinds of computer would install.");
}

// A name that is one file on Linux may be a path, a device or nothing on Windows.
TEST_F(ReleaseToolTest, MakeLocalRefusesNamesWindowsReadsOtherwise) {
    const std::string out = path("offline/metadata.json");
    struct Case {
        std::string name;
        std::string part;  // as the terminal shows it
        std::string fault;
        std::string shown = {};  // the name as the terminal shows it, when it differs
    };
    const Case cases[] = {
        {"..\\..\\x.zip", "..\\..\\x.zip", "it holds \\, which Windows does not allow in a name"},
        {"a:b.zip", "a:b.zip", "it holds :, which Windows does not allow in a name"},
        {"CON.zip", "CON.zip", "CON is a device name on Windows"},
        {"lpt1", "lpt1", "lpt1 is a device name on Windows"},
        {"app.zip.", "app.zip.", "Windows drops the full stop or space it ends in"},
        {"aux/app.zip", "aux", "aux is a device name on Windows"},
        {"tab\tname.zip", "tab\\x09name.zip", "it holds a control character", "tab\\x09name.zip"},
        {"a|b.zip", "a|b.zip", "it holds |, which Windows does not allow in a name"},
        {"builds/CON.zip", "CON.zip", "CON is a device name on Windows"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(path("offline"));
        const std::string archive = write("offline/" + c.name, "abc");
        const ToolRun result =
            run({"make", "--local", "--version", "1.4.0", "--x64", archive, "--out", out});
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.err, "vantile-release: The manifest would name " +
                                  (c.shown.empty() ? c.name : c.shown) +
                                  ", which Windows cannot read as it is meant: in " + c.part +
                                  ", " + c.fault + ". Rename it.\n");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST_F(ReleaseToolTest, MakeNeverWritesOverItsArchives) {
    const std::string archive = write("m/app.zip", std::string(1000, 'z'));
    std::filesystem::create_symlink(archive, path("m/link.json"));
    struct Case {
        const char* name;
        std::string out;
    };
    const Case cases[] = {
        {"the same path", archive},
        {"another spelling", path("m/./../m/app.zip")},
        {"a link to it", path("m/link.json")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* mode : {"--local", "--base"}) {
            std::vector<std::string> arguments = {"make",  "--version", "1.4.0", "--x64",
                                                  archive, "--out",     c.out,   mode};
            if (std::string(mode) == "--base") arguments.push_back(STORAGE);
            const ToolRun result = run(arguments);
            EXPECT_EQ(result.code, 2);
            EXPECT_EQ(result.err, "vantile-release: --out " + c.out + " is the archive " + archive +
                                      ": the manifest would replace it.\n");
            EXPECT_EQ(read("m/app.zip"), std::string(1000, 'z'));
        }
    }
}

// The manifest goes through a temporary file beside it: a failed write leaves the old one.
TEST_F(ReleaseToolTest, MakeReplacesTheManifestOnlyWhenTheNewOneIsComplete) {
    std::filesystem::create_directories(path("m"));
    write_zip(path("m/app.zip"), APP);
    const std::string out = write("m/metadata.json", "the old manifest");
    const std::vector<std::string> make = {"make",  "--local",         "--version", "1.4.0",
                                           "--x64", path("m/app.zip"), "--out",     out};
    const ToolRun made = run(make);
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_TRUE(read("m/metadata.json").starts_with("{\n  \"desktop-windows-x64\""));

    // A folder in the way: the rename fails, and nothing is left beside it.
    std::filesystem::create_directories(path("m/taken.json/inside"));
    const ToolRun refused = run({"make", "--local", "--version", "1.4.0", "--x64",
                                 path("m/app.zip"), "--out", path("m/taken.json")});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(
        refused.err.starts_with("vantile-release: Could not write " + path("m/taken.json") + ": "))
        << refused.err;
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(path("m")))
        names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"app.zip", "metadata.json", "taken.json"}));
}

TEST_F(ReleaseToolTest, MakeRefusesWhatTheInstallerWouldRefuseAndWritesNothing) {
    write_zip(dir_ / "vantile-x64.zip", APP);
    const std::string x64 = path("vantile-x64.zip");
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
         {"--version", "1.4.0", "--x64", x64, "--base", "https://" VANTILE_CDN_HOST "/vantile"},
         "The manifest names https://" VANTILE_CDN_HOST
         "/vantile/vantile-x64.zip, which is not one of Vantile's downloads." +
             locations},
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
        {{"check", "m.json", "-f", "out"}, "Unknown option -f. Did you mean --files?"},
        {{"check", "m.json", "--file=out"}, "Unknown option --file=out. Did you mean --files?"},
        {{"make", "--amr64", x64}, "Unknown option --amr64. Did you mean --arm64?"},
        {{"make", "--zzz"}, "Unknown option --zzz."},
        {{"mkae"}, "Unknown command mkae: use make or check. Did you mean make?"},
        {{"-x", "check"}, "Unknown option -x: say what to do first, make or check."},
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
    // One line on what is wrong, then only the lines that show how the tool is called.
    const std::string synopsis =
        "Usage: vantile-release make --version VERSION --x64 ARCHIVE [--arm64 ARCHIVE]\n"
        "                            (--base https://... | --local) [--out metadata.json] "
        "[--strict] [--json]\n"
        "       vantile-release check MANIFEST [--files FOLDER] [--strict] [--json]\n"
        "       vantile-release check (https://.../metadata.json | MANIFEST --online\n"
        "                             [--manifest-address URL]) [--ca-file FILE] [--strict] "
        "[--json]\n"
        "       vantile-release help [make | check]\n"
        "       vantile-release --version\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const ToolRun result = run(c.arguments);
        EXPECT_EQ(result.code, 2);
        EXPECT_EQ(result.err, "vantile-release: " + c.message + "\n" + synopsis);
        EXPECT_EQ(result.lines, std::vector<std::string>{});

        // With --json the same mistake is a JSON document on standard output.
        std::vector<std::string> with_json = c.arguments;
        with_json.push_back("--json");
        const ToolRun json = run(with_json);
        EXPECT_EQ(json.code, 2);
        EXPECT_EQ(json.err, "vantile-release: " + c.message + "\n");
        std::string text;
        for (const std::string& line : json.lines) text += line + "\n";
        Result<JsonValue> document = parse_json(text);
        ASSERT_TRUE(document.ok()) << document.error();
        EXPECT_EQ(*document.value().find("error")->as_string(), c.message);
        EXPECT_EQ(std::get<std::uint64_t>(document.value().find("exit_code")->data), 2u);
        EXPECT_EQ(*document.value().find("usage")->as_string(), synopsis);
    }

    // --json is only the bare word: with a value it is a mistake, answered for people.
    const ToolRun valued = run({"check", "m.json", "--json=1"});
    EXPECT_EQ(valued.code, 2);
    EXPECT_EQ(valued.lines, std::vector<std::string>{});
    EXPECT_EQ(valued.err,
              "vantile-release: Unknown option --json=1. Did you mean --json?\n" + synopsis);
}

TEST_F(ReleaseToolTest, VersionAndEachCommandsHelp) {
    const ToolRun version = run({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.lines, std::vector<std::string>{"vantile-release " VANTILE_VERSION_TEXT});

    struct Case {
        std::vector<std::string> arguments;
        std::string usage;    // the first line
        std::string option;   // one of its options' lines
        std::string foreign;  // the other command's option, which must not be listed
    };
    const Case cases[] = {
        {{"help", "make"},
         "Usage: vantile-release make --version VERSION --x64 ARCHIVE [--arm64 ARCHIVE]",
         "  --out FILE          where the manifest is written (metadata.json)",
         "--files"},
        {{"make", "--help"},
         "Usage: vantile-release make --version VERSION --x64 ARCHIVE [--arm64 ARCHIVE]",
         "  --local             name each archive by its path beside the manifest (an offline "
         "folder)",
         "--files"},
        {{"check", "-h"},
         "Usage: vantile-release check MANIFEST [--files FOLDER] [--strict] [--json]",
         "  --files FOLDER          the folder that holds the published archives under their "
         "file names",
         "--x64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const ToolRun help = run(c.arguments);
        EXPECT_EQ(help.code, 0);
        EXPECT_EQ(help.err, "");
        ASSERT_FALSE(help.lines.empty());
        EXPECT_EQ(help.lines.front(), c.usage);
        EXPECT_NE(std::find(help.lines.begin(), help.lines.end(), c.option), help.lines.end());
        for (const std::string& line : help.lines)
            EXPECT_EQ(line.find(c.foreign), std::string::npos) << line;
    }
}

// make's archive options are the rows of ARCHITECTURES: each kind of computer has one, in the
// synopsis and the help, and its archive is written under that kind's own key.
TEST_F(ReleaseToolTest, MakeTakesAnArchiveForEachKindOfComputer) {
    const ToolRun help = run({"help", "make"});
    ASSERT_FALSE(help.lines.empty());
    std::vector<std::string> arguments = {
        "make", "--version", "1.4.0", "--base", STORAGE + "1.4.0", "--out", path("metadata.json")};
    for (const ArchitectureFacts& facts : ARCHITECTURES) {
        const std::string option = "--" + std::string(facts.name) + " ARCHIVE";
        SCOPED_TRACE(option);
        EXPECT_NE(help.lines.front().find(option), std::string::npos) << help.lines.front();
        EXPECT_EQ(std::count_if(help.lines.begin(), help.lines.end(),
                                [&](const std::string& line) {
                                    return line.starts_with("  " + option + " ");
                                }),
                  1);
        const std::string archive = path(std::string(facts.name) + ".zip");
        write_zip(archive, {{"Vantile.exe", std::string(facts.name)}});
        arguments.insert(arguments.end(), {"--" + std::string(facts.name), archive});
    }
    const ToolRun made = run(arguments);
    ASSERT_EQ(made.code, 0) << made.err;
    Result<JsonValue> manifest = parse_json(read("metadata.json"));
    ASSERT_TRUE(manifest.ok()) << manifest.error();
    EXPECT_EQ(manifest.value().as_object()->size(), std::size(ARCHITECTURES));
    for (const ArchitectureFacts& facts : ARCHITECTURES) {
        const JsonValue* entry = manifest.value().find(facts.asset_key);
        ASSERT_NE(entry, nullptr) << facts.asset_key;
        EXPECT_EQ(*entry->find("url")->as_string(),
                  STORAGE + "1.4.0/" + std::string(facts.name) + ".zip");
    }
}

// A stream that takes nothing, as standard output on a full disk or a closed pipe.
class RefusingBuffer : public std::streambuf {
  protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST_F(ReleaseToolTest, OutputThatCannotBeWrittenIsAFailure) {
    const std::string manifest = write(
        "metadata.json", R"({"desktop-windows-x64": )" + entry("1.4.0", STORAGE + "a.zip") + "}");
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"check", manifest}, {"check", manifest, "--json"}, {"--help"}}) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        RefusingBuffer refusing;
        std::ostream out(&refusing);
        std::ostringstream err;
        EXPECT_NE(run_release_tool(arguments, out, err), 0);
        EXPECT_NE(err.str().find("vantile-release: Could not write the output to standard output."),
                  std::string::npos);
    }
}

TEST_F(ReleaseToolTest, HelpAnywherePrintsTheUsage) {
    const std::vector<std::vector<std::string>> asks = {{"--help"},
                                                        {"-h"},
                                                        {"help"},
                                                        {"check", "metadata.json", "--help"},
                                                        {"make", "-h", "--version"},
                                                        {"publish", "--help"},
                                                        {"check", "--files", "-h"}};
    for (const std::vector<std::string>& arguments : asks) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const ToolRun help = run(arguments);
        EXPECT_EQ(help.code, 0);
        EXPECT_EQ(help.err, "");
        ASSERT_FALSE(help.lines.empty());
        EXPECT_TRUE(help.lines.front().starts_with("Usage: vantile-release "));
        EXPECT_NE(std::find(help.lines.begin(), help.lines.end(),
                            "Exit codes: 0 done (check: both kinds of computer would install), 1 "
                            "refused or"),
                  help.lines.end());
    }
}

TEST_F(ReleaseToolTest, JsonGivesTheSameVerdictsForScripts) {
    write_zip(dir_ / "app-x64.zip", APP);
    const std::string x64 = path("app-x64.zip");
    const std::string out = path("metadata.json");
    const ToolRun made = run(
        {"make", "--json", "--version", "1.4.0", "--x64", x64, "--base", STORAGE, "--out", out});
    ASSERT_EQ(made.code, 0);
    EXPECT_EQ(made.err, "");
    const JsonValue made_document = outcome_json(made);
    EXPECT_EQ(*made_document.find("command")->as_string(), "make");
    EXPECT_EQ(*made_document.find("wrote")->as_string(), out);
    EXPECT_TRUE(std::holds_alternative<JsonNull>(made_document.find("error")->data));

    write("bad/app-x64.zip", "abcd");
    const ToolRun checked = run({"check", out, "--files", path("bad"), "--json"});
    EXPECT_EQ(checked.code, 1);
    const JsonValue checked_document = outcome_json(checked);
    EXPECT_EQ(*checked_document.find("command")->as_string(), "check");
    const JsonValue& verdict = *checked_document.find("verdict");
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
    const auto [size, sha256] = size_and_digest(x64);
    const std::string failure = STORAGE + "app-x64.zip is 4 bytes, but the manifest says " + size +
                                ": the download is incomplete, or is not the published file.";
    EXPECT_EQ(*arm64.find("failure")->as_string(), failure);
    const auto& lines = std::get<JsonArray>(arm64.find("lines")->data);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [&](const JsonValue& line) {
                               return *line.as_string() == "arm64: would fail: " + failure;
                           }),
              lines.end());
    // The failure's summary on standard error too, for a CI log.
    EXPECT_EQ(checked.err,
              "vantile-release: Neither kind of computer would install. x64: " + failure + "\n");
    EXPECT_EQ(*checked_document.find("summary")->as_string(),
              "Neither kind of computer would install. x64: " + failure);

    // A refusal is the same document, its summary on standard error.
    const ToolRun refused =
        run({"make", "--json", "--version", "1.4", "--x64", x64, "--base", STORAGE, "--out", out});
    EXPECT_EQ(refused.code, 1);
    const JsonValue refusal = outcome_json(refused);
    const std::string refusal_text = *refusal.find("error")->as_string();
    EXPECT_TRUE(refusal_text.starts_with("The version 1.4 is not"));
    EXPECT_EQ(refused.err, "vantile-release: " + refusal_text + "\n");
    EXPECT_TRUE(std::holds_alternative<JsonNull>(refusal.find("verdict")->data));
    EXPECT_TRUE(std::holds_alternative<JsonNull>(refusal.find("usage")->data));

    // An archive only Windows reaches, and one outside the offline folder.
    write("offline/metadata.json", R"({"desktop-windows-x64": )" + entry("1.4.0", "D:\\app.zip") +
                                       R"(, "desktop-windows-arm64": )" +
                                       entry("1.4.0", "..\\app-x64.zip", size, sha256) + "}");
    const ToolRun unchecked = run({"check", path("offline/metadata.json"), "--json"});
    EXPECT_EQ(unchecked.code, 3);
    const JsonValue partial = *outcome_json(unchecked).find("verdict");
    EXPECT_EQ(std::get<bool>(partial.find("checked_everything")->data), false);
    const auto& judged = std::get<JsonArray>(partial.find("computers")->data);
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(*judged[0].find("unchecked")->as_string(),
              "D:\\app.zip cannot be checked on this computer: only Windows reaches a drive or a "
              "network share, so check it with vantile-release.exe on Windows");
    EXPECT_TRUE(std::holds_alternative<JsonNull>(judged[1].find("unchecked")->data));
    EXPECT_TRUE(std::holds_alternative<JsonNull>(judged[1].find("failure")->data));
    const auto& warnings = std::get<JsonArray>(judged[1].find("warnings")->data);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].as_string()->starts_with("..\\app-x64.zip lies outside"));
}

// Slips the installer lets pass are warnings: the exit code stays, but with --strict.
TEST_F(ReleaseToolTest, WarningsChangeTheExitCodeOnlyWithStrict) {
    write_zip(dir_ / "files/x64.zip", APP);
    write_zip(dir_ / "files/arm64.zip", {{"Vantile.exe", "arm64 MZ"}});
    const auto [x64_size, x64_sha256] = size_and_digest(path("files/x64.zip"));
    const auto [arm64_size, arm64_sha256] = size_and_digest(path("files/arm64.zip"));
    const auto x64 = [&](const std::string& version, const std::string& folder = "") {
        return R"("desktop-windows-x64": )" +
               entry(version, STORAGE + folder + "x64.zip", x64_size, x64_sha256);
    };
    const auto arm64 = [&](const std::string& key, const std::string& version,
                           const std::string& file = "arm64.zip") {
        const bool same = file == "x64.zip";
        return "\"" + key + "\": " +
               entry(version, CDN + file, same ? x64_size : arm64_size,
                     same ? x64_sha256 : arm64_sha256);
    };
    struct Case {
        const char* name;
        std::string manifest;
        std::string warning;
    };
    const Case cases[] = {
        {"a key a letter from arm64's",
         "{" + x64("1.4.0") + ", " + arm64("desktop-windows-amr64", "1.4.0") + "}",
         "the installer reads no desktop-windows-amr64: is it a misspelling of "
         "desktop-windows-arm64?"},
        {"arm64 older than x64",
         "{" + x64("1.4.1") + ", " + arm64("desktop-windows-arm64", "1.4.0") + "}",
         "desktop-windows-arm64 1.4.0 is older than desktop-windows-x64 1.4.1: arm64 computers "
         "take the x64 build instead, emulated"},
        {"one archive for both",
         "{" + x64("1.4.0") + ", " + arm64("desktop-windows-arm64", "1.4.0", "x64.zip") + "}",
         "desktop-windows-x64 and desktop-windows-arm64 have the same size and SHA-256: both "
         "are one archive, and arm64 computers get no build of their own"},
        {"another version's folder",
         "{" + x64("1.4.0", "1.3.9/") + ", " + arm64("desktop-windows-arm64", "1.4.0") + "}",
         "desktop-windows-x64 is version 1.4.0, but its address lies in the folder 1.3.9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string manifest = write("metadata.json", c.manifest);
        const ToolRun plain = run({"check", manifest, "--files", path("files")});
        EXPECT_EQ(plain.code, 0) << testing::PrintToString(plain.lines);
        ASSERT_GE(plain.lines.size(), 2u);
        EXPECT_EQ(plain.lines[plain.lines.size() - 2], "warning: " + c.warning);
        EXPECT_EQ(plain.lines.back(), "Both kinds of computer would install.");
        EXPECT_EQ(plain.err, "");

        const ToolRun strict = run({"check", manifest, "--files", path("files"), "--strict"});
        EXPECT_EQ(strict.code, 1);
        EXPECT_EQ(strict.lines, plain.lines);
        EXPECT_EQ(strict.err,
                  "vantile-release: With --strict a warning fails: " + c.warning + ".\n");

        const ToolRun json = run({"check", manifest, "--files", path("files"), "--json"});
        const JsonValue document = outcome_json(json);
        const auto& warnings =
            std::get<JsonArray>(document.find("verdict")->find("warnings")->data);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(*warnings[0].as_string(), c.warning);
    }

    // make warns alike, and with --strict writes nothing.
    const std::string out = path("out/metadata.json");
    std::filesystem::create_directories(path("out"));
    const std::vector<std::string> same_archive = {"make",
                                                   "--version",
                                                   "1.4.0",
                                                   "--x64",
                                                   path("files/x64.zip"),
                                                   "--arm64",
                                                   path("files/x64-copy.zip"),
                                                   "--base",
                                                   CDN + "1.4.0/",
                                                   "--out",
                                                   out};
    std::filesystem::copy_file(path("files/x64.zip"), path("files/x64-copy.zip"));
    std::vector<std::string> strict_make = same_archive;
    strict_make.push_back("--strict");
    const ToolRun refused = run(strict_make);
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(
        refused.err.starts_with("vantile-release: With --strict a warning fails: "
                                "desktop-windows-x64 and desktop-windows-arm64 have the "
                                "same size and SHA-256"))
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    const ToolRun made = run(same_archive);
    EXPECT_EQ(made.code, 0) << made.err;
    EXPECT_TRUE(std::filesystem::exists(out));
}

// A hostile archive costs bounded memory: refusals past the first few are counted, not kept;
// a name that is no UTF-8 is shown byte by byte, on the terminal and in JSON alike.
TEST_F(ReleaseToolTest, HostileArchivesCostBoundedMemory) {
    std::vector<ZipEntry> entries = {{"Vantile.exe", "MZ"}, {"csi\x9bname", "t", AE_IFLNK}};
    const std::size_t links = REFUSALS_NAMED + 5;
    for (std::size_t i = 1; i < links; ++i)
        entries.push_back({"link" + std::to_string(i), "t", AE_IFLNK});
    const std::string archive = path("files/app.zip");
    write_zip(archive, entries);
    const auto [size, sha256] = size_and_digest(archive);
    write("metadata.json",
          R"({"desktop-windows-x64": )" + entry("1.4.0", STORAGE + "app.zip", size, sha256) + "}");
    std::vector<std::string> expected = {
        "x64: would fail: " + unpack_failed_message(archive, TAR_FAILURE_EXIT_CODE),
        "x64: tar.exe refuses csi\\x9bname: it is a symbolic link"};
    for (std::size_t i = 1; i < REFUSALS_NAMED; ++i)
        expected.push_back("x64: tar.exe refuses link" + std::to_string(i) +
                           ": it is a symbolic link");
    expected.push_back("x64: tar.exe refuses 5 more entries");
    const ToolRun result = run({"check", path("metadata.json"), "--files", path("files")});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(
        std::search(result.lines.begin(), result.lines.end(), expected.begin(), expected.end()),
        result.lines.end())
        << testing::PrintToString(result.lines);

    const ToolRun json = run({"check", path("metadata.json"), "--files", path("files"), "--json"});
    const JsonValue document = outcome_json(json);
    const JsonValue* computers = document.find("verdict")->find("computers");
    ASSERT_NE(computers, nullptr);
    const auto& lines =
        std::get<JsonArray>(std::get<JsonArray>(computers->data)[0].find("lines")->data);
    EXPECT_EQ(*lines[lines.size() - 1 - REFUSALS_NAMED].as_string(),
              "x64: tar.exe refuses csi\\x9bname: it is a symbolic link");
}

// Both computers choosing one archive read it once: its digest and its unpacking.
TEST_F(ReleaseToolTest, AnArchiveBothComputersChooseIsReadOnce) {
    int hashed = 0;
    int unpacked = 0;
    const ArchiveAccess access{
        path("files"),
        {},
        [](std::string_view path) { return std::optional<std::string>(path); },
        [&](const std::string&, std::string_view, std::int64_t) {
            ++hashed;
            return Result<FileDigest>(FileDigest{3, ABC});
        },
        [&](const std::string&, std::string_view) {
            ++unpacked;
            return UnpackVerdict{};
        }};
    std::filesystem::create_directories(path("files"));
    write("files/app.zip", "abc");
    const std::string manifest =
        R"({"desktop-windows-x64": )" + entry("1.4.0", STORAGE + "app.zip") + "}";
    const ManifestVerdict verdict = check_manifest(manifest, LocalFile{path("m.json")}, access);
    EXPECT_TRUE(verdict.installs_everywhere());
    EXPECT_EQ(hashed, 1);
    EXPECT_EQ(unpacked, 1);
}

// The rules on entries as tar.exe on Windows reads their names: "\" separates as "/" does.
TEST(JudgeArchive, ReadsEntryNamesWithWindowsSeparators) {
    const std::string refused = "Could not unpack a.zip (tar.exe exit code 1).";
    const std::string no_app =
        "The download has no Vantile.exe, so it is not a Vantile desktop app.";
    struct Case {
        const char* name;
        std::vector<ArchiveEntry> entries;
        std::optional<std::string> failure;
        std::vector<std::string> reasons;
    };
    const Case cases[] = {
        {"a climb with backslashes",
         {{"Vantile.exe"}, {"a\\..\\..\\x.txt"}},
         refused,
         {"tar.exe refuses a\\..\\..\\x.txt: its name climbs out of the folder with \"..\""}},
        {"a sub-folder with a backslash",
         {{"app\\Vantile.exe"}},
         no_app,
         {"the archive holds app\\Vantile.exe, but only its top is looked at"}},
        {"a drive-rooted name, which tar.exe strips", {{"C:\\Vantile.exe"}}, std::nullopt, {}},
        {"a folder below a file of that name",
         {{"Vantile.exe"}, {"VANTILE.EXE\\x"}},
         no_app,
         {"Vantile.exe at the top of the archive is a folder"}},
        {"a hard link",
         {{"Vantile.exe"}, {"b", EntryKind::HardLink}},
         refused,
         {"tar.exe refuses b: it is a hard link"}},
        {"a device",
         {{"Vantile.exe"}, {"dev", EntryKind::Other}},
         refused,
         {"tar.exe refuses dev: it is neither a file nor a folder"}},
        {"a name with two dots that is no climb",
         {{"Vantile.exe"}, {"a..b/c..txt"}},
         std::nullopt,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UnpackVerdict verdict =
            judge_archive("a.zip", ArchiveListing{c.entries, std::nullopt});
        EXPECT_EQ(verdict.failure, c.failure);
        EXPECT_EQ(verdict.reasons, c.reasons);
    }
}

TEST(JsonText, EscapesControlCharactersUpToU001FAndNothingAbove) {
    struct Case {
        std::string text;
        std::string json;
    };
    const Case cases[] = {
        {"\x01", R"("\u0001")"},
        {"version\x1f", R"("version\u001f")"},
        {" ", R"(" ")"},
        {"\x7f", "\"\x7f\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(json_text(JsonValue{c.text}), c.json);
    }
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
