#include "windows/tree_removal.h"

#include <windows.h>
#include <winternl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "windows/error_text.h"
#include "windows/file_system.h"
#include "windows/relative_open.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile {
namespace {

// "The object manager encountered a reparse point while retrieving an object."
constexpr DWORD REPARSE_POINT_ENCOUNTERED = 4395;
// Tries in all (49 yields) of a delete refused by a sharing violation or a folder not yet empty:
// enough for a scanner or indexer that briefly holds a file to let go, short for one held on.
constexpr int REMOVAL_TRIES = 50;
constexpr size_t LISTING_BUFFER_BYTES = 16 * 1024;

std::atomic<tree_removal_testing::ListingFunction> listing_function{&GetFileInformationByHandleEx};

// A folder being walked, with the name the system gives it, so that an entry which the system
// opened through a link (as Wine does with Unix links) is recognised before it is touched.
struct OpenFolder {
    UniqueHandle handle;
    std::wstring system_name;
    bool full_listing = false;  // FileFullDirectoryInfo where the file-id listing is refused
    bool mid_listing = false;   // a pass over its entries is under way: go on, do not restart
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

// One batch of a folder's listing, read into a buffer that every batch reuses.
struct ListingBatch {
    std::vector<std::uint64_t> buffer =
        std::vector<std::uint64_t>(LISTING_BUFFER_BYTES / sizeof(std::uint64_t));
    std::vector<ListedEntry> entries;  // "." and ".." left out
    bool more = false;                 // the listing may go on after this batch
};

// The information class for the folder's next batch.
FILE_INFO_BY_HANDLE_CLASS listing_class(const OpenFolder& folder) {
    if (folder.full_listing)
        return folder.mid_listing ? FileFullDirectoryInfo : FileFullDirectoryRestartInfo;
    return folder.mid_listing ? FileIdBothDirectoryInfo : FileIdBothDirectoryRestartInfo;
}

// Fills the buffer with the folder's next batch. A file system without the file-id listing
// refuses it when a pass begins; the folder is then listed in full from there on.
DWORD read_batch(OpenFolder& folder, std::vector<std::uint64_t>& buffer) {
    const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    if (listing_function.load()(folder.handle.get(), listing_class(folder), buffer.data(), bytes))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    const bool refused = error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
                         error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_LEVEL;
    if (folder.full_listing || folder.mid_listing || !refused) return error;
    folder.full_listing = true;
    return read_batch(folder, buffer);
}

// The entries of a batch of `Record`s, chained by their next-entry offsets.
template <class Record>
void collect_entries(const std::vector<std::uint64_t>& buffer, std::vector<ListedEntry>& entries) {
    const auto* batch = reinterpret_cast<const unsigned char*>(buffer.data());
    for (std::size_t offset = 0;;) {
        const auto* record = reinterpret_cast<const Record*>(batch + offset);
        const std::wstring_view name(record->FileName, record->FileNameLength / sizeof(wchar_t));
        if (name != L"." && name != L"..")
            entries.push_back({std::wstring(name), record->FileAttributes});
        if (record->NextEntryOffset == 0) return;
        offset += record->NextEntryOffset;
    }
}

// Reads the folder's next batch of entries; an empty batch without `more` ends the listing.
DWORD list_batch(OpenFolder& folder, ListingBatch& batch) {
    batch.entries.clear();
    batch.more = false;
    const DWORD error = read_batch(folder, batch.buffer);
    if (error == ERROR_NO_MORE_FILES) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    batch.more = true;
    if (folder.full_listing)
        collect_entries<FILE_FULL_DIR_INFO>(batch.buffer, batch.entries);
    else
        collect_entries<FILE_ID_BOTH_DIR_INFO>(batch.buffer, batch.entries);
    return ERROR_SUCCESS;
}

// What became of a batch's entries: an error, or a sub-folder to walk before the rest.
struct BatchRemoval {
    DWORD error = ERROR_SUCCESS;
    std::optional<OpenFolder> sub_folder;
};

// Deletes the listed entries of `folder` in order. A real sub-folder is not deleted but
// opened and handed back, to be emptied first; the entries after it wait for a new listing.
BatchRemoval remove_entries(const OpenFolder& folder, const std::vector<ListedEntry>& entries) {
    for (const ListedEntry& entry : entries) {
        const bool is_folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool is_link = (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (is_folder && !is_link) {
            OpenFolder child;
            DWORD error = ERROR_SUCCESS;
            switch (open_sub_folder(folder, entry.name, child, error)) {
                case FolderOpen::Gone:
                    continue;
                case FolderOpen::Failed:
                    return {error, std::nullopt};
                case FolderOpen::Opened:
                    return {ERROR_SUCCESS, std::move(child)};
                case FolderOpen::NotWalkable:
                    break;  // deleted as an entry, like a link
            }
        }
        if (DWORD error = with_retries(ERROR_SHARING_VIOLATION,
                                       [&] { return delete_entry(folder, entry.name); }))
            return {error, std::nullopt};
    }
    return {};
}

// Depth first, with the open folders on a stack (each above its parent); links are deleted,
// never followed. The top folder is listed a batch at a time; a batch either leads into a
// sub-folder, or leaves more to list, or was the last, and then the emptied folder goes.
DWORD remove_tree(OpenFolder root) {
    std::vector<OpenFolder> stack;
    stack.push_back(std::move(root));
    ListingBatch batch;
    while (!stack.empty()) {
        OpenFolder& folder = stack.back();
        if (DWORD error = list_batch(folder, batch)) return error;
        BatchRemoval removal = remove_entries(folder, batch.entries);
        if (removal.error != ERROR_SUCCESS) return removal.error;

        if (removal.sub_folder) {
            // The rest of this folder is listed afresh once the sub-folder is gone.
            folder.mid_listing = false;
            stack.push_back(std::move(*removal.sub_folder));
        } else if (batch.more) {
            folder.mid_listing = true;
        } else {
            if (DWORD error =
                    with_retries(ERROR_DIR_NOT_EMPTY, [&] { return delete_entry(folder, L""); }))
                return error;
            stack.pop_back();
        }
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
    if (!root_file) return fail(os_error_text(GetLastError()));
    OpenFolder root;
    root.handle.reset(root_file.release());

    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(root.handle.get(), FileAttributeTagInfo, &tag, sizeof(tag)))
        return fail(os_error_text(GetLastError()));
    if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return fail(os_error_text(ERROR_DIRECTORY));
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // The folder is itself a link: it goes, what it points to stays.
        if (DWORD error =
                with_retries(ERROR_SHARING_VIOLATION, [&] { return delete_entry(root, L""); }))
            return fail(os_error_text(error));
        return {};
    }
    root.system_name = system_name_of(root.handle.get());
    // A system that opened a link in its place names the target, not this folder.
    if (!root.system_name.empty() &&
        !same_name(last_component(root.system_name), last_component(path)))
        return fail(os_error_text(REPARSE_POINT_ENCOUNTERED));

    if (DWORD error = remove_tree(std::move(root))) return fail(os_error_text(error));
    return {};
}

namespace tree_removal_testing {

ListingFunction replace_listing_function(ListingFunction function) {
    return listing_function.exchange(function ? function : &GetFileInformationByHandleEx);
}

}  // namespace tree_removal_testing
}  // namespace vantile
