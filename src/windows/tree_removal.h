#pragma once
#include <windows.h>

#include <string>

#include "base/result.h"

namespace vantile {

// Removes the staging folder and everything in it, deleting links and never following them.
// Success, or the os_error_text of the first entry that could not be removed.
Status remove_staging_folder(const std::string& staging_folder);

namespace tree_removal_testing {

using ListingFunction = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
// Replaces GetFileInformationByHandleEx for the folder listings (nullptr puts it back), so
// a test can refuse the file-id listing; returns the function used before.
ListingFunction replace_listing_function(ListingFunction function);

}  // namespace tree_removal_testing

}  // namespace vantile
