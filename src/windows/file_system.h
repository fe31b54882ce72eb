#pragma once
// File and folder operations that the staging steps share.
#include <windows.h>

#include <string>

namespace vantile {

// This process's id in decimal, as staging names use it.
std::string process_id_text();
// Creates the folder and any missing parents; an existing folder is accepted.
DWORD create_folder_with_parents(const std::string& path);
// Marks an open entry for deletion: POSIX semantics where the file system has them, else the
// classic flag, for which a read-only attribute is cleared first, but only on an entry that is
// its file's sole name (the attribute belongs to the file, which other names may share).
DWORD mark_for_deletion(HANDLE entry);
// Moves a file, replacing one of the target's name; a refused move is retried as a POSIX
// rename through the file's handle.
DWORD move_replacing(const std::string& from, const std::string& to);
// Deletes a file; what happens to it is never reported.
void delete_quietly(const std::string& path);

}  // namespace vantile
