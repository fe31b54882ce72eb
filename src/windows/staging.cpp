#include "staging.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "../text.h"
#include "child_process.h"
#include "error_text.h"
#include "relative_open.h"
#include "unique_handle.h"
#include "wide.h"

namespace vantile {
namespace {

// Newer information classes that this toolchain's headers only name for later targets.
constexpr auto FILE_DISPOSITION_INFO_EX_CLASS = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr auto FILE_RENAME_INFO_EX_CLASS = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD DISPOSITION_DELETE = 0x1;
constexpr DWORD DISPOSITION_POSIX_SEMANTICS = 0x2;
constexpr DWORD DISPOSITION_IGNORE_READONLY_ATTRIBUTE = 0x10;
constexpr DWORD RENAME_REPLACE_IF_EXISTS = 0x1;
constexpr DWORD RENAME_POSIX_SEMANTICS = 0x2;
// "The object manager encountered a reparse point while retrieving an object."
constexpr DWORD REPARSE_POINT_ENCOUNTERED = 4395;

// FILETIME counts from 1601; the folder name counts from 1970.
constexpr std::uint64_t UNIX_EPOCH_AS_FILETIME = 116444736000000000ULL;
constexpr int REMOVAL_TRIES = 50;
constexpr size_t LISTING_BUFFER_BYTES = 16 * 1024;

std::string failure_text(DWORD error) {
    return os_error_text(static_cast<std::int32_t>(error));
}

std::string process_id_text() {
    return std::to_string(GetCurrentProcessId());
}

// Creates the folder and any missing parents; an existing folder is accepted.
DWORD create_folder_with_parents(const std::string& path) {
    if (CreateDirectoryW(to_wide(path).c_str(), nullptr)) return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
        const size_t separator = path.find_last_of("\\/");
        if (separator != std::string::npos && separator > 0) {
            const DWORD parent_error = create_folder_with_parents(path.substr(0, separator));
            if (parent_error != ERROR_SUCCESS) return parent_error;
            if (CreateDirectoryW(to_wide(path).c_str(), nullptr)) return ERROR_SUCCESS;
            error = GetLastError();
        }
    }
    const DWORD attributes = GetFileAttributesW(to_wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return ERROR_SUCCESS;
    return error;
}

// Marks an open entry for deletion: POSIX semantics where the file system has them, else the
// classic flag, for which a read-only attribute has to be cleared first.
DWORD mark_for_deletion(HANDLE entry) {
    FILE_DISPOSITION_INFO_EX modern{DISPOSITION_DELETE | DISPOSITION_POSIX_SEMANTICS |
                                    DISPOSITION_IGNORE_READONLY_ATTRIBUTE};
    if (SetFileInformationByHandle(entry, FILE_DISPOSITION_INFO_EX_CLASS, &modern, sizeof(modern)))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_FUNCTION)
        return error;

    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof(basic)) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        UniqueHandle writable;
        if (open_relative(entry, L"", FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                          FILE_SYNCHRONOUS_IO_NONALERT, writable) == ERROR_SUCCESS) {
            FILE_BASIC_INFO cleared{};  // zero times leave them unchanged
            cleared.FileAttributes =
                basic.FileAttributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
            if (cleared.FileAttributes == 0) cleared.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(writable.get(), FileBasicInfo, &cleared, sizeof(cleared));
        }
    }
    FILE_DISPOSITION_INFO classic{TRUE};
    if (SetFileInformationByHandle(entry, FileDispositionInfo, &classic, sizeof(classic)))
        return ERROR_SUCCESS;
    return GetLastError();
}

// Moves a file, replacing one of the target's name; a refused move is retried as a POSIX
// rename through the file's handle.
DWORD move_replacing(const std::string& from, const std::string& to) {
    const std::wstring wide_from = to_wide(from);
    const std::wstring wide_to = to_wide(to);
    if (MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING))
        return ERROR_SUCCESS;
    const DWORD first_error = GetLastError();
    if (first_error != ERROR_ACCESS_DENIED) return first_error;

    UniqueFile file(CreateFileW(
        wide_from.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return first_error;
    const size_t name_bytes = wide_to.size() * sizeof(wchar_t);
    std::vector<std::uint64_t> storage(
        (offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t) + 7) / 8, 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
    rename->Flags = RENAME_REPLACE_IF_EXISTS | RENAME_POSIX_SEMANTICS;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(wide_to.begin(), wide_to.end(), rename->FileName);
    if (SetFileInformationByHandle(file.get(), FILE_RENAME_INFO_EX_CLASS, rename,
                                   static_cast<DWORD>(storage.size() * 8)))
        return ERROR_SUCCESS;
    return GetLastError() == ERROR_DIR_NOT_EMPTY ? ERROR_DIR_NOT_EMPTY : first_error;
}

// Deletes the moved archive; what happens to it is never reported.
void delete_quietly(const std::string& path) {
    const std::wstring wide = to_wide(path);
    if (DeleteFileW(wide.c_str()) || GetLastError() != ERROR_ACCESS_DENIED) return;
    UniqueFile file(
        CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file) mark_for_deletion(file.get());
}

// ---- Removal of the staging folder ----

// A folder being walked, with the name the system gives it, so that an entry which the system
// opened through a link (as Wine does with Unix links) is recognised before it is touched.
struct OpenFolder {
    UniqueHandle handle;
    std::wstring system_name;
    bool full_listing = false;  // FileFullDirectoryInfo where the file-id listing is refused
};

struct ListedEntry {
    std::wstring name;
    DWORD attributes = 0;
};

// The system's name of an open entry on its volume; empty when it cannot be had.
std::wstring system_name_of(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
        if (length == 0) return {};
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

bool same_name(std::wstring_view left, std::wstring_view right) {
    return CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

// Whether the entry opened as `name` inside `parent` is that entry and not what a link
// points to. Where a name cannot be had, the open itself has to be trusted.
bool opened_in_place(const OpenFolder& parent, std::wstring_view name, HANDLE entry) {
    if (parent.system_name.empty()) return true;
    const std::wstring entry_name = system_name_of(entry);
    if (entry_name.empty()) return true;
    std::wstring expected = parent.system_name;
    if (expected.back() != L'\\') expected.push_back(L'\\');
    expected.append(name);
    return same_name(entry_name, expected);
}

// Deletes one entry of `parent` (or, with an empty name, `parent` itself).
DWORD delete_entry(const OpenFolder& parent, std::wstring_view name) {
    UniqueHandle entry;
    const DWORD error =
        open_relative(parent.handle.get(), name, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                      FILE_SYNCHRONOUS_IO_NONALERT, entry);
    if (is_gone_error(error)) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    if (!name.empty() && !opened_in_place(parent, name, entry.get()))
        return REPARSE_POINT_ENCOUNTERED;
    const DWORD marked = mark_for_deletion(entry.get());
    return is_gone_error(marked) ? ERROR_SUCCESS : marked;
}

template <class Attempt>
DWORD with_retries(DWORD retried_error, Attempt attempt) {
    for (int tries = 1;; ++tries) {
        const DWORD error = attempt();
        if (error != retried_error || tries == REMOVAL_TRIES) return error;
        SwitchToThread();
    }
}

// Outcome of opening a sub-folder for the walk.
enum class FolderOpen { Opened, Gone, NotWalkable, Failed };

// Opens a listed sub-folder for walking. A sub-folder that turns out to be a link, not a
// folder, or not where it was listed is deleted as an entry instead.
FolderOpen open_sub_folder(const OpenFolder& parent, std::wstring_view name, OpenFolder& child,
                           DWORD& error) {
    error = open_relative(parent.handle.get(), name,
                          FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                          FILE_SYNCHRONOUS_IO_NONALERT, child.handle);
    if (is_gone_error(error)) return FolderOpen::Gone;
    if (error != ERROR_SUCCESS) return FolderOpen::Failed;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(child.handle.get(), FileAttributeTagInfo, &tag,
                                      sizeof(tag))) {
        error = GetLastError();
        return FolderOpen::Failed;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        !opened_in_place(parent, name, child.handle.get()))
        return FolderOpen::NotWalkable;
    child.system_name = system_name_of(child.handle.get());
    return FolderOpen::Opened;
}

// Reads the next batch of a folder's entries ("." and ".." left out). `more` tells whether
// the listing may go on.
DWORD list_batch(OpenFolder& folder, bool restart, std::vector<std::uint64_t>& buffer,
                 std::vector<ListedEntry>& entries, bool& more) {
    entries.clear();
    more = false;
    const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    BOOL listed = FALSE;
    if (!folder.full_listing) {
        listed = GetFileInformationByHandleEx(
            folder.handle.get(), restart ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
            buffer.data(), bytes);
        if (!listed && restart) {
            const DWORD error = GetLastError();
            if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
                error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_LEVEL)
                folder.full_listing = true;
        }
    }
    if (folder.full_listing) {
        listed = GetFileInformationByHandleEx(
            folder.handle.get(), restart ? FileFullDirectoryRestartInfo : FileFullDirectoryInfo,
            buffer.data(), bytes);
    }
    if (!listed) {
        const DWORD error = GetLastError();
        return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
    }
    more = true;
    const auto* base = reinterpret_cast<const unsigned char*>(buffer.data());
    for (size_t offset = 0;;) {
        DWORD next = 0;
        DWORD attributes = 0;
        std::wstring_view name;
        if (folder.full_listing) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(base + offset);
            next = entry->NextEntryOffset;
            attributes = entry->FileAttributes;
            name = std::wstring_view(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
        } else {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(base + offset);
            next = entry->NextEntryOffset;
            attributes = entry->FileAttributes;
            name = std::wstring_view(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
        }
        if (name != L"." && name != L"..") entries.push_back({std::wstring(name), attributes});
        if (next == 0) break;
        offset += next;
    }
    return ERROR_SUCCESS;
}

// Depth first with an explicit stack of open folders; links are deleted, never followed.
DWORD remove_tree(OpenFolder root) {
    std::vector<OpenFolder> stack;
    stack.push_back(std::move(root));
    std::vector<std::uint64_t> buffer(LISTING_BUFFER_BYTES / sizeof(std::uint64_t));
    std::vector<ListedEntry> entries;
    bool restart = true;
    while (!stack.empty()) {
        OpenFolder folder = std::move(stack.back());
        stack.pop_back();
        bool more = false;
        if (DWORD error = list_batch(folder, restart, buffer, entries, more)) return error;

        bool descended = false;
        for (const ListedEntry& entry : entries) {
            const bool is_folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const bool is_link = (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (is_folder && !is_link) {
                OpenFolder child;
                DWORD error = ERROR_SUCCESS;
                const FolderOpen opened = open_sub_folder(folder, entry.name, child, error);
                if (opened == FolderOpen::Gone) continue;
                if (opened == FolderOpen::Failed) return error;
                if (opened == FolderOpen::Opened) {
                    // The rest of this folder is listed afresh once the sub-folder is gone.
                    stack.push_back(std::move(folder));
                    stack.push_back(std::move(child));
                    descended = true;
                    break;
                }
            }
            if (DWORD error = with_retries(ERROR_SHARING_VIOLATION,
                                           [&] { return delete_entry(folder, entry.name); }))
                return error;
        }
        if (descended) {
            restart = true;
            continue;
        }
        if (more) {
            stack.push_back(std::move(folder));
            restart = false;
            continue;
        }
        if (DWORD error =
                with_retries(ERROR_DIR_NOT_EMPTY, [&] { return delete_entry(folder, L""); }))
            return error;
        restart = true;
    }
    return ERROR_SUCCESS;
}

std::wstring_view last_component(std::wstring_view path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.remove_suffix(1);
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

}  // namespace

Result<std::string> create_staging_folder() {
    const std::optional<std::string> temporary = temporary_folder();
    if (!temporary) {
        return fail("Could not create a staging folder: Windows reports no temporary folder.");
    }
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const std::uint64_t filetime =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const std::uint64_t ticks =
        filetime < UNIX_EPOCH_AS_FILETIME ? 0 : filetime - UNIX_EPOCH_AS_FILETIME;
    const std::string name =
        fill_template(".vantile-desktop-staging-{}-{}", {process_id_text(), std::to_string(ticks)});
    const std::string staging = join_path(*temporary, name);
    if (DWORD error = create_folder_with_parents(staging)) {
        return fail(fill_template("Could not create {}: {}", {staging, failure_text(error)}));
    }
    return staging;
}

Status unpack_archive(const std::string& tar_path, const std::string& archive_path,
                      const std::string& unpack_folder) {
    if (DWORD error = create_folder_with_parents(unpack_folder)) {
        return fail(fill_template("Could not create {}: {}", {unpack_folder, failure_text(error)}));
    }
    const std::string moved_name = fill_template(".vantile-archive-{}.zip", {process_id_text()});
    const std::string moved_path = join_path(unpack_folder, moved_name);
    if (DWORD error = move_replacing(archive_path, moved_path)) {
        return fail(fill_template("Could not move {}: {}", {archive_path, failure_text(error)}));
    }
    Result<std::int32_t> exit_code =
        run_child_to_end(tar_path, child_command_line(tar_path, {"-xf", moved_name}), unpack_folder,
                         CREATE_NO_WINDOW, "Could not run {}: {}");
    delete_quietly(moved_path);
    if (!exit_code) return fail(exit_code.error());
    if (exit_code.value() != 0) {
        return fail(fill_template("Could not unpack {} (tar.exe exit code {}).",
                                  {archive_path, std::to_string(exit_code.value())}));
    }
    return {};
}

Result<std::string> find_app_executable(const std::string& unpack_folder) {
    std::string program = join_path(unpack_folder, "Vantile.exe");
    if (is_existing_file(program)) return program;
    return fail("The download has no Vantile.exe, so it is not a Vantile desktop app.");
}

Status remove_staging_folder(const std::string& staging_folder) {
    const std::wstring path = to_wide(staging_folder);
    UniqueFile root_file(
        CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!root_file) return fail(failure_text(GetLastError()));
    OpenFolder root;
    root.handle.reset(root_file.release());

    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(root.handle.get(), FileAttributeTagInfo, &tag, sizeof(tag)))
        return fail(failure_text(GetLastError()));
    if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return fail(failure_text(ERROR_DIRECTORY));
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // The folder is itself a link: it goes, what it points to stays.
        if (DWORD error =
                with_retries(ERROR_SHARING_VIOLATION, [&] { return delete_entry(root, L""); }))
            return fail(failure_text(error));
        return {};
    }
    root.system_name = system_name_of(root.handle.get());
    // A system that opened a link in its place names the target, not this folder.
    if (!root.system_name.empty() &&
        !same_name(last_component(root.system_name), last_component(path)))
        return fail(failure_text(REPARSE_POINT_ENCOUNTERED));

    if (DWORD error = remove_tree(std::move(root))) return fail(failure_text(error));
    return {};
}

}  // namespace vantile
