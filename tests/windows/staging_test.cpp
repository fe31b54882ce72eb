// The staging folder: its name, unpacking with the tar.exe double, finding Vantile.exe, and
// removal (nested trees, read-only entries, files held open, links pointing outside).
#include "windows/staging_folder.h"
#include "windows/tree_removal.h"
#include "windows/unpacking.h"

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "staging_test_support.h"
#include "windows/environment.h"
#include "windows/error_text.h"
#include "windows/relative_open.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// ERROR_REPARSE_POINT_ENCOUNTERED, which this toolchain's headers do not name: removal stops
// with it before touching an entry that was opened through a link.
constexpr std::int32_t REPARSE_POINT_ENCOUNTERED = 4395;

using namespace testing_support;

std::string pid_text() {
    return std::to_string(GetCurrentProcessId());
}

// ---- A small zip writer (stored entries) for the tar.exe double ----

std::uint32_t crc32_of(const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put16(std::string& out, std::uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::string stored_zip(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string body, directory;
    for (const auto& [name, content] : entries) {
        const std::uint32_t offset = static_cast<std::uint32_t>(body.size());
        const std::uint32_t crc = crc32_of(content);
        const auto size = static_cast<std::uint32_t>(content.size());
        put32(body, 0x04034b50);
        put16(body, 20);
        put16(body, 0x800);
        put16(body, 0);
        put32(body, 0);
        put32(body, crc);
        put32(body, size);
        put32(body, size);
        put16(body, static_cast<std::uint32_t>(name.size()));
        put16(body, 0);
        body += name + content;
        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, 0x800);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, size);
        put32(directory, size);
        put16(directory, static_cast<std::uint32_t>(name.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, offset);
        directory += name;
    }
    std::string zip = body + directory;
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put32(zip, static_cast<std::uint32_t>(directory.size()));
    put32(zip, static_cast<std::uint32_t>(body.size()));
    put16(zip, 0);
    return zip;
}

// ---- create_staging_folder ----

struct TempCase {
    const char* label;
    const char* tmp_suffix;  // appended to a scratch folder to form TMP
};

class StagingFolderName : public ::testing::TestWithParam<TempCase> {};

TEST_P(StagingFolderName, IsPidAndTicksUnderTheTemporaryFolderWithoutADoubledBackslash) {
    ScratchFolder scratch("temp");
    const std::string tmp = scratch.path() + GetParam().tmp_suffix;
    ScopedEnvironment tmp_variable(L"TMP", to_wide(tmp));
    ScopedEnvironment temp_variable(L"TEMP", to_wide(tmp));
    const std::string temporary = temporary_folder().value();
    ASSERT_EQ(temporary.back(), '\\');

    FILETIME before_time{};
    GetSystemTimePreciseAsFileTime(&before_time);
    Result<std::string> first = create_staging_folder();
    Result<std::string> second = create_staging_folder();
    FILETIME after_time{};
    GetSystemTimePreciseAsFileTime(&after_time);
    ASSERT_TRUE(first) << first.error();
    ASSERT_TRUE(second) << second.error();

    for (const std::string& staging : {first.value(), second.value()}) {
        EXPECT_EQ(staging.find("\\\\"), std::string::npos) << staging;
        ASSERT_EQ(staging.rfind(temporary, 0), 0u) << staging;
        const std::string name = staging.substr(temporary.size());
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(name, parts,
                                     std::regex(R"(\.vantile-desktop-staging-(\d+)-([1-9]\d*))")))
            << name;
        EXPECT_EQ(parts[1].str(), pid_text());
        auto unix_ticks = [](FILETIME time) {
            return ((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) -
                   116444736000000000ULL;
        };
        const std::uint64_t ticks = std::stoull(parts[2].str());
        EXPECT_GE(ticks, unix_ticks(before_time));
        EXPECT_LE(ticks, unix_ticks(after_time));
        const DWORD attributes = GetFileAttributesW(to_wide(staging).c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << staging;
        EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
    EXPECT_NE(first.value(), second.value());
}

INSTANTIATE_TEST_SUITE_P(TemporaryFolders, StagingFolderName,
                         ::testing::Values(TempCase{"TrailingBackslash", "\\"},
                                           TempCase{"NoTrailingBackslash", ""},
                                           TempCase{"MissingParents", "\\not\\yet\\there\\"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(StagingFolder, UnderAFileFailsWithTheFolderAndTheReason) {
    ScratchFolder scratch("temp");
    write_file(scratch / "blocker", "not a folder");
    const std::string tmp = join_path(scratch / "blocker", "sub\\");
    ScopedEnvironment tmp_variable(L"TMP", to_wide(tmp));
    ScopedEnvironment temp_variable(L"TEMP", to_wide(tmp));

    Result<std::string> staging = create_staging_folder();
    ASSERT_FALSE(staging);
    const std::string prefix = "Could not create " + tmp + ".vantile-desktop-staging-" + pid_text();
    const std::string suffix = ": " + os_error_text(ERROR_ALREADY_EXISTS);
    EXPECT_EQ(staging.error().rfind(prefix, 0), 0u) << staging.error();
    ASSERT_GE(staging.error().size(), suffix.size());
    EXPECT_EQ(staging.error().substr(staging.error().size() - suffix.size()), suffix);
}

// Wine exports this; a Windows build does not.
bool running_under_wine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A temporary folder whose name is not valid UTF-16 is still that very folder: the staging
// folder goes inside it, and no look-alike folder with U+FFFD is made anywhere.
TEST(StagingFolder, UnderATemporaryFolderWithAnUnpairedSurrogateIsInThatFolder) {
    ScratchFolder scratch("temp");
    const std::wstring tmp = to_wide(scratch.path()) + L"\\lone\xD800surrogate\\";
    ScopedEnvironment tmp_variable(L"TMP", tmp);
    ScopedEnvironment temp_variable(L"TEMP", tmp);
    const std::optional<std::string> temporary = temporary_folder();
    ASSERT_TRUE(temporary);
    EXPECT_EQ(to_wide(*temporary), tmp);

    Result<std::string> staging = create_staging_folder();
    if (running_under_wine()) {
        // Wine has no Unix name for such a folder; the message shows the surrogate as U+FFFD.
        ASSERT_FALSE(staging);
        EXPECT_EQ(staging.error().rfind("Could not create " + scratch.path() +
                                            "\\lone\uFFFDsurrogate\\.vantile-desktop-staging-",
                                        0),
                  0u)
            << staging.error();
    } else {
        ASSERT_TRUE(staging) << staging.error();
        EXPECT_EQ(to_wide(staging.value()).rfind(tmp, 0), 0u);
        EXPECT_NE(GetFileAttributesW(to_wide(staging.value()).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(GetFileAttributesW(to_wide(scratch / "lone\uFFFDsurrogate").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << "no look-alike folder is made";
}

TEST(StagingFolder, WithoutATemporaryFolderTheAttemptFailsPlainly) {
    // A TMP longer than a path may be leaves Windows without a temporary folder to report.
    const std::wstring too_long = L"C:\\" + std::wstring(300, L'a') + L"\\";
    ScopedEnvironment tmp_variable(L"TMP", too_long);
    ScopedEnvironment temp_variable(L"TEMP", too_long);
    ASSERT_FALSE(temporary_folder().has_value());

    Result<std::string> staging = create_staging_folder();
    ASSERT_FALSE(staging);
    EXPECT_EQ(staging.error(),
              "Could not create a staging folder: Windows reports no temporary folder.");
}

// ---- unpack_archive and find_app_executable ----

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

TEST_F(Unpacking, MissingTarIsReportedAndTheMovedArchiveIsStillDeleted) {
    write_archive({{"Vantile.exe", "x"}});
    const std::string missing_tar = staging / "no-such-tar.exe";

    Status unpacked = unpack_archive(missing_tar, archive, unpack);
    ASSERT_FALSE(unpacked);
    EXPECT_EQ(unpacked.error(),
              "Could not run " + missing_tar + ": " + os_error_text(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(exists(moved));
}

TEST_F(Unpacking, MissingArchiveCannotBeMoved) {
    Status unpacked = unpack_archive(tar, archive, unpack);
    ASSERT_FALSE(unpacked);
    EXPECT_EQ(unpacked.error(),
              "Could not move " + archive + ": " + os_error_text(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(record_value(read_file(record_path).value_or(""), "command_line").has_value())
        << "tar.exe must not run without an archive";
}

TEST_F(Unpacking, AFolderInTheWayOfTheMovedArchiveGivesTheFirstRefusal) {
    write_archive({{"Vantile.exe", "x"}});
    make_folder(unpack);
    make_folder(moved);

    Status unpacked = unpack_archive(tar, archive, unpack);
    ASSERT_FALSE(unpacked);
    EXPECT_EQ(unpacked.error(),
              "Could not move " + archive + ": " + os_error_text(ERROR_ACCESS_DENIED));
    EXPECT_EQ(read_file(archive), stored_zip({{"Vantile.exe", "x"}}));
    EXPECT_NE(GetFileAttributesW(to_wide(moved).c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(Unpacking, UnpackFolderThatCannotBeCreated) {
    write_archive({{"Vantile.exe", "x"}});
    write_file(unpack, "a file where the folder should be");

    Status unpacked = unpack_archive(tar, archive, unpack);
    ASSERT_FALSE(unpacked);
    EXPECT_EQ(unpacked.error(),
              "Could not create " + unpack + ": " + os_error_text(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(exists(archive));
}

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
        Result<std::string> missing = find_app_executable(folder->path());
        ASSERT_FALSE(missing) << folder->path();
        EXPECT_EQ(missing.error(), not_an_app);
    }
}

// ---- remove_staging_folder ----

// Counts opens per name and can stand in for the system's NtOpenFile.
struct OpenSpy {
    static inline relative_open_testing::OpenFunction real = nullptr;
    static inline std::vector<std::pair<std::wstring, ULONG>> calls;
    static inline bool refuse_dont_reparse = false;
    // When set, an open of `redirected_name` opens `redirect_target` (a full NT path) instead,
    // the way Wine opens what a Unix link points to.
    static inline std::wstring redirected_name;
    static inline std::wstring redirect_target;

    static NTSTATUS NTAPI open(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                               PIO_STATUS_BLOCK io, ULONG share, ULONG options) {
        std::wstring name(object->ObjectName->Buffer, object->ObjectName->Length / sizeof(wchar_t));
        calls.emplace_back(name, object->Attributes);
        if (refuse_dont_reparse && (object->Attributes & OBJ_DONT_REPARSE) != 0)
            return static_cast<NTSTATUS>(0xC000000DL);  // STATUS_INVALID_PARAMETER
        if (!redirected_name.empty() && name == redirected_name) {
            UNICODE_STRING target;
            target.Buffer = redirect_target.data();
            target.Length = static_cast<USHORT>(redirect_target.size() * sizeof(wchar_t));
            target.MaximumLength = target.Length;
            OBJECT_ATTRIBUTES absolute = *object;
            absolute.RootDirectory = nullptr;
            absolute.ObjectName = &target;
            absolute.Attributes = 0;
            return real(handle, access, &absolute, io, share, options);
        }
        return real(handle, access, object, io, share, options);
    }

    static int count(const std::wstring& name) {
        int total = 0;
        for (const auto& call : calls) total += call.first == name ? 1 : 0;
        return total;
    }
};

class Removal : public ::testing::Test {
  protected:
    void SetUp() override {
        OpenSpy::calls.clear();
        OpenSpy::refuse_dont_reparse = false;
        OpenSpy::redirected_name.clear();
        OpenSpy::real = relative_open_testing::replace_open_function(&OpenSpy::open);
    }
    void TearDown() override {
        relative_open_testing::replace_open_function(nullptr);
        relative_open_testing::restore_dont_reparse();
    }

    // Builds a staging-like tree; returns the staging folder.
    std::string build_tree() {
        const std::string staging = scratch / ".vantile-desktop-staging-1-2";
        make_folder(staging);
        write_file(join_path(staging, "vantile-desktop.zip"), "archive");
        const std::string unpack = join_path(staging, "zip");
        make_folder(unpack);
        write_file(join_path(unpack, "Vantile.exe"), "program");
        std::string deep = unpack;
        for (const char* part : {"resources", "app", "node_modules", "empty-leaf"}) {
            deep = join_path(deep, part);
            make_folder(deep);
        }
        const std::string app = join_path(unpack, "resources\\app");
        write_file(join_path(app, "main.js"), "code");
        const std::string read_only = join_path(app, "locked.dat");
        write_file(read_only, "read only");
        EXPECT_TRUE(SetFileAttributesW(to_wide(read_only).c_str(), FILE_ATTRIBUTE_READONLY));
        const std::string read_only_folder = join_path(unpack, "read-only-folder");
        make_folder(read_only_folder);
        write_file(join_path(read_only_folder, "inside.txt"), "x");
        EXPECT_TRUE(SetFileAttributesW(to_wide(read_only_folder).c_str(),
                                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
        // More entries than one listing batch holds.
        const std::string many = join_path(unpack, "many");
        make_folder(many);
        for (int index = 0; index < 300; ++index)
            write_file(join_path(many, "a-rather-long-file-name-to-fill-the-listing-buffer-" +
                                           std::to_string(index) + ".txt"),
                       "");
        return staging;
    }

    ScratchFolder scratch{"removal"};
};

TEST_F(Removal, RemovesANestedTreeWithReadOnlyEntries) {
    const std::string staging = build_tree();
    Status removed = remove_staging_folder(staging);
    ASSERT_TRUE(removed) << removed.error();
    EXPECT_FALSE(exists(staging));
    EXPECT_TRUE(exists(scratch.path())) << "nothing above the staging folder is touched";
}

TEST_F(Removal, DropsOnlyARefusedDontReparseAttributeAndStillRemoves) {
    const std::string staging = build_tree();
    OpenSpy::refuse_dont_reparse = true;

    Status removed = remove_staging_folder(staging);
    ASSERT_TRUE(removed) << removed.error();
    EXPECT_FALSE(exists(staging));
    EXPECT_FALSE(relative_open_testing::dont_reparse_in_use());
    int with_attribute = 0;
    for (const auto& call : OpenSpy::calls)
        with_attribute += (call.second & OBJ_DONT_REPARSE) != 0 ? 1 : 0;
    EXPECT_EQ(with_attribute, 1) << "left out of every open after the first refusal";
    EXPECT_GT(OpenSpy::calls.size(), 300u);
}

TEST_F(Removal, KeepsDontReparseWhereTheSystemAcceptsIt) {
    const std::string staging = build_tree();
    Status removed = remove_staging_folder(staging);
    ASSERT_TRUE(removed) << removed.error();
    ASSERT_FALSE(OpenSpy::calls.empty());
    for (const auto& call : OpenSpy::calls)
        EXPECT_NE(call.second & OBJ_DONT_REPARSE, 0u) << std::string(from_wide(call.first));
}

// Counts the folder listings by information class; can refuse the file-id listing, as a
// file system without it does.
struct ListingSpy {
    static inline tree_removal_testing::ListingFunction real = nullptr;
    static inline std::vector<FILE_INFO_BY_HANDLE_CLASS> calls;
    static inline bool refuse_file_id = false;

    static BOOL WINAPI list(HANDLE folder, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID buffer,
                            DWORD size) {
        calls.push_back(kind);
        if (refuse_file_id &&
            (kind == FileIdBothDirectoryInfo || kind == FileIdBothDirectoryRestartInfo)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return real(folder, kind, buffer, size);
    }
    static int count(FILE_INFO_BY_HANDLE_CLASS kind) {
        return static_cast<int>(std::count(calls.begin(), calls.end(), kind));
    }
};

// The file-id listing where the system has it; where it is refused, each folder is listed in
// full from the start of its first pass on. Either way a folder of many entries takes several
// batches and the whole tree goes.
TEST_F(Removal, ListsWithFileIdsOrElseInFull) {
    constexpr int FOLDERS_IN_TREE = 8;
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "file-id listing refused" : "file-id listing accepted");
        const std::string staging = build_tree();
        ListingSpy::calls.clear();
        ListingSpy::refuse_file_id = refuse;
        ListingSpy::real = tree_removal_testing::replace_listing_function(&ListingSpy::list);
        Status removed = remove_staging_folder(staging);
        tree_removal_testing::replace_listing_function(nullptr);

        ASSERT_TRUE(removed) << removed.error();
        EXPECT_FALSE(exists(staging));
        if (refuse) {
            EXPECT_EQ(ListingSpy::count(FileIdBothDirectoryRestartInfo), FOLDERS_IN_TREE);
            EXPECT_EQ(ListingSpy::count(FileIdBothDirectoryInfo), 0);
            EXPECT_GT(ListingSpy::count(FileFullDirectoryInfo), 0);
        } else {
            EXPECT_GT(ListingSpy::count(FileIdBothDirectoryInfo), 0);
            EXPECT_EQ(ListingSpy::count(FileFullDirectoryRestartInfo) +
                          ListingSpy::count(FileFullDirectoryInfo),
                      0);
        }
    }
}

TEST_F(Removal, AFileHeldWithoutDeleteSharingIsTriedFiftyTimesThenReported) {
    const std::string staging = build_tree();
    const std::string held_path = join_path(staging, "zip\\resources\\app\\main.js");
    UniqueFile held(CreateFileW(to_wide(held_path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    Status removed = remove_staging_folder(staging);
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error(), os_error_text(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(OpenSpy::count(L"main.js"), 50);
    EXPECT_EQ(read_file(held_path), "code") << "the held file is untouched";
    EXPECT_TRUE(exists(staging));

    held.reset();
    Status again = remove_staging_folder(staging);
    ASSERT_TRUE(again) << again.error();
    EXPECT_FALSE(exists(staging));
}

TEST_F(Removal, MissingFolderGivesItsError) {
    Status removed = remove_staging_folder(scratch / "never-created");
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error(), os_error_text(ERROR_FILE_NOT_FOUND));
}

TEST_F(Removal, AFileInsteadOfAFolderIsNotAFolderAndStays) {
    const std::string file = scratch / "plain-file";
    write_file(file, "stays");
    Status removed = remove_staging_folder(file);
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error(), os_error_text(ERROR_DIRECTORY));
    EXPECT_EQ(read_file(file), "stays");
}

// What the system reports for a path, as used by NtOpenFile ("\??\C:\...").
std::wstring nt_path(const std::string& path) {
    return L"\\??\\" + to_wide(path);
}

TEST_F(Removal, AnEntryTheSystemOpensThroughALinkIsNeverDeletedOrChanged) {
    ScratchFolder outside("outside");
    const std::string target = outside / "precious.txt";
    write_file(target, "keep me");
    SetFileAttributesW(to_wide(target).c_str(), FILE_ATTRIBUTE_READONLY);
    const std::string staging = build_tree();
    write_file(join_path(staging, "link-to-precious"), "stand-in for the link");
    OpenSpy::redirected_name = L"link-to-precious";
    OpenSpy::redirect_target = nt_path(target);
    std::wstring target_wide = to_wide(target);

    Status removed = remove_staging_folder(staging);
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error(), os_error_text(REPARSE_POINT_ENCOUNTERED));
    EXPECT_EQ(read_file(target), "keep me");
    EXPECT_EQ(GetFileAttributesW(target_wide.c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))
        << "the target's attributes are not touched either";
    SetFileAttributesW(target_wide.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Removal, AFolderTheSystemOpensThroughALinkIsNeverWalked) {
    ScratchFolder outside("outside");
    write_file(outside / "precious.txt", "keep me");
    make_folder(outside / "nested");
    write_file(outside / "nested\\deeper.txt", "keep me too");
    const std::string staging = build_tree();
    make_folder(join_path(staging, "folder-link"));
    OpenSpy::redirected_name = L"folder-link";
    OpenSpy::redirect_target = nt_path(outside.path());

    Status removed = remove_staging_folder(staging);
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error(), os_error_text(REPARSE_POINT_ENCOUNTERED));
    EXPECT_EQ(read_file(outside / "precious.txt"), "keep me");
    EXPECT_EQ(read_file(outside / "nested\\deeper.txt"), "keep me too");
}

// ---- Real links ----

std::optional<std::string> unix_path(const std::string& path) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto get = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!get) return std::nullopt;
    char* name = get(to_wide(path).c_str());
    if (!name) return std::nullopt;
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

template <class Condition>
bool eventually(Condition condition) {
    for (int wait = 0; wait < 100 && !condition(); ++wait) Sleep(50);
    return condition();
}

// Runs a Linux program from under Wine and waits for it. Wine hands the arguments over split
// at spaces, without a shell, so they must not need quoting.
// Wine does not wait for a Linux program through its process handle, so the caller polls for
// the result.
bool run_unix(const std::string& program, const std::string& arguments) {
    std::wstring command = to_wide(program + " " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(to_wide("Z:" + program).c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &started))
        return false;
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    WaitForSingleObject(process.get(), 10000);
    return true;
}

// Makes `link` a link to `target`: a Unix symbolic link under Wine (through /bin/ln), which
// must work, or a Windows symbolic link, which needs developer mode or the privilege.
bool make_link(const std::string& target, const std::string& link, bool folder) {
    if (running_under_wine()) {
        std::optional<std::string> unix_target = unix_path(target);
        std::optional<std::string> unix_link = unix_path(link);
        return unix_target && unix_link &&
               run_unix("/bin/ln", "-s " + *unix_target + " " + *unix_link) &&
               eventually([&] { return exists(link); });
    }
    DWORD flags =
        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
    return CreateSymbolicLinkW(to_wide(link).c_str(), to_wide(target).c_str(), flags) &&
           exists(link);
}

// Takes a link away without going near its target. Under Wine a Windows delete of a Unix
// link reaches the target, so the link goes from the Linux side.
void remove_link(const std::string& link) {
    if (running_under_wine()) {
        std::optional<std::string> unix_link = unix_path(link);
        ASSERT_TRUE(unix_link);
        ASSERT_TRUE(run_unix("/bin/rm", "-f " + *unix_link));
        ASSERT_TRUE(eventually([&] { return !exists(link); })) << link;
    } else {
        if (!DeleteFileW(to_wide(link).c_str())) RemoveDirectoryW(to_wide(link).c_str());
    }
}

TEST_F(Removal, RealLinksToOutsideNeverReachTheirTargets) {
    ScratchFolder outside("outside");
    write_file(outside / "precious.txt", "keep me");
    SetFileAttributesW(to_wide(outside / "precious.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    make_folder(outside / "tree");
    write_file(outside / "tree\\deeper.txt", "keep me too");
    make_folder(outside / "empty");

    struct LinkCase {
        const char* name;
        std::string target;
        bool folder;
    };
    const std::vector<LinkCase> cases = {{"file-link", outside / "precious.txt", false},
                                         {"folder-link", outside / "tree", true},
                                         {"empty-folder-link", outside / "empty", true}};
    for (const LinkCase& link : cases) {
        SCOPED_TRACE(link.name);
        const std::string staging = build_tree();
        if (!make_link(link.target, join_path(staging, std::string("zip\\") + link.name),
                       link.folder)) {
            ASSERT_FALSE(running_under_wine()) << "Unix links must work under Wine";
            GTEST_SKIP() << "this Windows cannot make symbolic links for this user";
        }
        Status removed = remove_staging_folder(staging);
        // Windows removes the link itself; Wine opens what a Unix link points to, so the
        // removal has to stop at it instead.
        if (running_under_wine()) {
            EXPECT_FALSE(removed);
            EXPECT_EQ(removed.error(), os_error_text(REPARSE_POINT_ENCOUNTERED));
        } else {
            EXPECT_TRUE(removed) << removed.error();
        }

        EXPECT_EQ(read_file(outside / "precious.txt"), "keep me");
        EXPECT_NE(
            GetFileAttributesW(to_wide(outside / "precious.txt").c_str()) & FILE_ATTRIBUTE_READONLY,
            0u);
        EXPECT_EQ(read_file(outside / "tree\\deeper.txt"), "keep me too");
        EXPECT_TRUE(exists(outside / "empty"));
        if (exists(staging)) {
            remove_link(join_path(staging, std::string("zip\\") + link.name));
            remove_tree_plainly(staging);
        }
        ASSERT_FALSE(exists(staging));
    }
}

TEST_F(Removal, AStagingFolderThatIsItselfALinkIsNotWalked) {
    ScratchFolder outside("outside");
    write_file(outside / "precious.txt", "keep me");
    const std::string staging = scratch / ".vantile-desktop-staging-3-4";
    if (!make_link(outside.path(), staging, true)) {
        ASSERT_FALSE(running_under_wine()) << "Unix links must work under Wine";
        GTEST_SKIP() << "this Windows cannot make symbolic links for this user";
    }

    Status removed = remove_staging_folder(staging);
    if (running_under_wine()) {
        ASSERT_FALSE(removed);
        EXPECT_EQ(removed.error(), os_error_text(REPARSE_POINT_ENCOUNTERED));
    } else {
        EXPECT_TRUE(removed) << removed.error();
    }
    EXPECT_EQ(read_file(outside / "precious.txt"), "keep me");
    if (exists(staging)) remove_link(staging);
}

// ---- Hard links ----

// Attributes belong to the file, not to its name: a hard link in the staging folder to a file
// outside never changes that file. Its name goes where that needs no attribute change.
TEST_F(Removal, AHardLinkToAFileOutsideNeverChangesIt) {
    struct HardLinkCase {
        const char* name;
        bool read_only;
    };
    for (const HardLinkCase& test :
         {HardLinkCase{"read-only", true}, HardLinkCase{"writable", false}}) {
        SCOPED_TRACE(test.name);
        ScratchFolder outside("outside");
        const std::string file = outside / "precious.txt";
        write_file(file, "keep me");
        if (test.read_only) {
            ASSERT_TRUE(SetFileAttributesW(to_wide(file).c_str(), FILE_ATTRIBUTE_READONLY));
        }
        const DWORD attributes_before = GetFileAttributesW(to_wide(file).c_str());
        const std::string staging = build_tree();
        const std::string link = join_path(staging, "zip\\hard-link.txt");
        ASSERT_TRUE(CreateHardLinkW(to_wide(link).c_str(), to_wide(file).c_str(), nullptr))
            << GetLastError();

        Status removed = remove_staging_folder(staging);
        // Without POSIX deletion (as under Wine) a read-only name cannot go without clearing
        // the attribute, so it stays and the folder is reported.
        if (test.read_only && running_under_wine()) {
            ASSERT_FALSE(removed);
            EXPECT_EQ(removed.error(), os_error_text(ERROR_ACCESS_DENIED));
            EXPECT_TRUE(exists(link));
        } else {
            EXPECT_TRUE(removed) << removed.error();
            EXPECT_FALSE(exists(staging));
        }
        EXPECT_EQ(GetFileAttributesW(to_wide(file).c_str()), attributes_before);
        EXPECT_EQ(read_file(file), "keep me");
        if (exists(staging)) remove_tree_plainly(staging);
        SetFileAttributesW(to_wide(file).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

}  // namespace
}  // namespace vantile
