#include "windows/tree_removal.h"

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "windows/file_system.h"
#include "windows/relative_open.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// "The object manager encountered a reparse point while retrieving an object."
constexpr DWORD REPARSE_POINT_ENCOUNTERED = 4395;
constexpr int REMOVAL_TRIES = 50;
constexpr size_t LISTING_BUFFER_BYTES = 16 * 1024;

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
