// unpack_archive with the tar.exe double, and find_app_executable.
#include "windows/unpacking.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "staging_test_support.h"
#include "windows/error_text.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

using namespace testing_support;

class Unpacking : public ::testing::Test {
  protected:
    void SetUp() override {
        archive = staging / "vantile-desktop.zip";
        unpack = staging / "zip";
        moved = join_path(unpack, ".vantile-archive-" + pid_text() + ".zip");
        tar = join_path(doubles_folder(), "tar.exe");
        ASSERT_TRUE(exists(tar)) << tar;
    }

    void write_archive(const std::vector<std::pair<std::string, std::string>>& entries) {
        write_file(archive, stored_zip(entries));
    }

    ScratchFolder staging{"unpack"};
    ScratchFolder records{"records"};
    std::string archive, unpack, moved, tar;
    std::string record_path = records / "tar-record.txt";
    ScopedEnvironment record_variable{L"VANTILE_TEST_TAR_RECORD", to_wide(record_path)};
    ScopedEnvironment exit_variable{L"VANTILE_TEST_TAR_EXIT", std::nullopt};
};

TEST_F(Unpacking, UnpacksIntoTheUnpackFolderWithTheDocumentedCommandLine) {
    write_archive({{"Vantile.exe", "program bytes"},
                   {"resources/app/main.js", "console.log(1)"},
                   {"resources/empty.txt", ""}});

    Status unpacked = unpack_archive(tar, archive, unpack);
    ASSERT_TRUE(unpacked) << unpacked.error();

    EXPECT_EQ(read_file(join_path(unpack, "Vantile.exe")), "program bytes");
    EXPECT_EQ(read_file(join_path(unpack, "resources\\app\\main.js")), "console.log(1)");
    EXPECT_EQ(read_file(join_path(unpack, "resources\\empty.txt")), "");
    EXPECT_FALSE(exists(moved));
    EXPECT_FALSE(exists(archive));

    const std::string record = read_file(record_path).value_or("");
    EXPECT_EQ(record_value(record, "command_line"),
              "\"" + tar + "\" -xf .vantile-archive-" + pid_text() + ".zip");
    EXPECT_EQ(record_value(record, "working_folder"), unpack);
}

TEST_F(Unpacking, QuotesATarPathWithASpace) {
    ScratchFolder tools("tools with space");
    const std::string spaced_tar = tools / "tar.exe";
    copy_file(tar, spaced_tar);
    write_archive({{"Vantile.exe", "x"}});

    Status unpacked = unpack_archive(spaced_tar, archive, unpack);
    ASSERT_TRUE(unpacked) << unpacked.error();
    EXPECT_EQ(record_value(read_file(record_path).value_or(""), "command_line"),
              "\"" + spaced_tar + "\" -xf .vantile-archive-" + pid_text() + ".zip");
}

struct TarExitCase {
    const char* label;
    const wchar_t* exit_text;
    const char* shown;
};

class UnpackingExitCodes : public Unpacking, public ::testing::WithParamInterface<TarExitCase> {};

TEST_P(UnpackingExitCodes, NonZeroExitNamesTheDownloadedArchiveAndTheSignedCode) {
    write_archive({{"Vantile.exe", "x"}});
    ScopedEnvironment forced(L"VANTILE_TEST_TAR_EXIT", std::wstring(GetParam().exit_text));

    Status unpacked = unpack_archive(tar, archive, unpack);
    ASSERT_FALSE(unpacked);
    EXPECT_EQ(unpacked.error(),
              "Could not unpack " + archive + " (tar.exe exit code " + GetParam().shown + ").");
    EXPECT_FALSE(exists(moved)) << "the moved archive is deleted after a failed unpack too";
}

INSTANTIATE_TEST_SUITE_P(Codes, UnpackingExitCodes,
                         ::testing::Values(TarExitCase{"One", L"1", "1"},
                                           TarExitCase{"AccessViolation", L"-1073741819",
                                                       "-1073741819"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(Unpacking, ArchiveWithUnsafeNamesLeavesNothingOutsideAndFails) {
    write_archive({{"../escaped.txt", "no"}, {"Vantile.exe", "x"}});

    Status unpacked = unpack_archive(tar, archive, unpack);
    ASSERT_FALSE(unpacked);
    EXPECT_EQ(unpacked.error(), "Could not unpack " + archive + " (tar.exe exit code 1).");
    EXPECT_FALSE(exists(staging / "escaped.txt"));
    EXPECT_TRUE(exists(join_path(unpack, "Vantile.exe")));
}

TEST_F(Unpacking, ReplacesAStaleMovedArchive) {
    make_folder(unpack);
    write_file(moved, "stale");
    SetFileAttributesW(to_wide(moved).c_str(), FILE_ATTRIBUTE_READONLY);
    write_archive({{"Vantile.exe", "fresh"}});

    Status unpacked = unpack_archive(tar, archive, unpack);
    ASSERT_TRUE(unpacked) << unpacked.error();
    EXPECT_EQ(read_file(join_path(unpack, "Vantile.exe")), "fresh");
    EXPECT_FALSE(exists(moved));
}

// Failures before tar.exe unpacks anything: what stands in the way, the step that fails on it
// and the path it names, and what is left behind. tar.exe never runs.
enum class Fault { MissingTar, MissingArchive, FolderAtTheMovedPath, FileAtTheUnpackFolder };
enum class Named { Tar, Archive, UnpackFolder };

struct UnpackFailure {
    const char* label;
    Fault fault;
    const char* step;  // "Could not {step} {path}: {error}"
    Named named;
    DWORD error;
    bool archive_kept;  // the downloaded archive is still where it was, unchanged
};

class UnpackingFailures : public Unpacking, public ::testing::WithParamInterface<UnpackFailure> {};

TEST_P(UnpackingFailures, NameTheStepAndThePathAndLeaveNoMovedArchive) {
    const UnpackFailure& c = GetParam();
    const auto written = std::vector<std::pair<std::string, std::string>>{{"Vantile.exe", "x"}};
    if (c.fault != Fault::MissingArchive) write_archive(written);
    if (c.fault == Fault::FolderAtTheMovedPath) {
        make_folder(unpack);
        make_folder(moved);
    }
    if (c.fault == Fault::FileAtTheUnpackFolder)
        write_file(unpack, "a file where the folder should be");
    const std::string run_tar = c.fault == Fault::MissingTar ? staging / "no-such-tar.exe" : tar;

    Status unpacked = unpack_archive(run_tar, archive, unpack);
    ASSERT_FALSE(unpacked);
    const std::string& path = c.named == Named::Tar       ? run_tar
                              : c.named == Named::Archive ? archive
                                                          : unpack;
    EXPECT_EQ(unpacked.error(),
              "Could not " + std::string(c.step) + " " + path + ": " + os_error_text(c.error));
    EXPECT_FALSE(record_value(read_file(record_path).value_or(""), "command_line").has_value())
        << "tar.exe must not run";
    if (c.archive_kept)
        EXPECT_EQ(read_file(archive), stored_zip(written));
    else
        EXPECT_FALSE(exists(archive));
    // The moved archive is deleted after a failure too; only a folder in its way stays.
    const DWORD moved_attributes = GetFileAttributesW(to_wide(moved).c_str());
    if (c.fault == Fault::FolderAtTheMovedPath)
        EXPECT_NE(moved_attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    else
        EXPECT_EQ(moved_attributes, INVALID_FILE_ATTRIBUTES);
}

INSTANTIATE_TEST_SUITE_P(
    BeforeTar, UnpackingFailures,
    ::testing::Values(UnpackFailure{"MissingTar", Fault::MissingTar, "run", Named::Tar,
                                    ERROR_FILE_NOT_FOUND, false},
                      UnpackFailure{"MissingArchive", Fault::MissingArchive, "move", Named::Archive,
                                    ERROR_FILE_NOT_FOUND, false},
                      UnpackFailure{"FolderInTheWayOfTheMovedArchive", Fault::FolderAtTheMovedPath,
                                    "move", Named::Archive, ERROR_ACCESS_DENIED, true},
                      UnpackFailure{"UnpackFolderThatCannotBeCreated", Fault::FileAtTheUnpackFolder,
                                    "create", Named::UnpackFolder, ERROR_ALREADY_EXISTS, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FindAppExecutable, OnlyAFileAtTheTopCounts) {
    const std::string not_an_app =
        "The download has no Vantile.exe, so it is not a Vantile desktop app.";
    ScratchFolder with_file("app-file");
    write_file(with_file / "Vantile.exe", "x");
    ScratchFolder with_folder("app-folder");
    make_folder(with_folder / "Vantile.exe");
    ScratchFolder nested("app-nested");
    make_folder(nested / "Vantile");
    write_file(join_path(nested / "Vantile", "Vantile.exe"), "x");
    ScratchFolder empty("app-empty");

    Result<std::string> found = find_app_executable(with_file.path());
    ASSERT_TRUE(found) << found.error();
    EXPECT_EQ(found.value(), with_file.path() + "\\Vantile.exe");
    for (const ScratchFolder* folder : {&with_folder, &nested, &empty}) {
        SCOPED_TRACE(folder->path());
        Result<std::string> missing = find_app_executable(folder->path());
        ASSERT_FALSE(missing);
        EXPECT_EQ(missing.error(), not_an_app);
    }
}

}  // namespace
}  // namespace vantile
