#pragma once
// Opening files by name the way every reader in the program does.
#include <string>

#include "windows/unique_handle.h"

namespace vantile {

// Opens a file for reading while other programs may still read, write and delete it.
UniqueFile open_for_reading(const std::string& path, unsigned long extra_flags = 0);

// Whether the path names an existing file (not a folder), with links followed.
bool is_existing_file(const std::string& path);

}  // namespace vantile
