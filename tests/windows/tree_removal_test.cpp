// remove_staging_folder: nested trees, read-only entries, files held open, and links that
// point outside, which are never followed.
#include "windows/tree_removal.h"

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "staging_test_support.h"
#include "windows/error_text.h"
#include "windows/relative_open.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

using namespace testing_support;

// ERROR_REPARSE_POINT_ENCOUNTERED, which this toolchain's headers do not name: removal stops
// with it before touching an entry that was opened through a link.
constexpr std::int32_t REPARSE_POINT_ENCOUNTERED = 4395;

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
