#pragma once
// Paths as Windows reads them, on any host: "\" and "/" both separate, "D:" names a drive,
// "\\server\share" a network share. The installer resolves a local manifest's archives with
// these rules, and vantile-release judges offline manifests with the same ones on Linux.
#include <optional>
#include <string>
#include <string_view>

namespace vantile {

constexpr bool is_path_separator(char c) {
    return c == '\\' || c == '/';
}

// The length of the part of a path that names its drive: "D:", "\\server\share",
// "\\?\D:", "\\?\UNC\server\share", "\\?\name" or "\\.\device"; 0 when there is none.
std::size_t drive_prefix_length(std::string_view path);

// The folder that holds the file: the path without its last component ("" for a bare
// name, "D:" for "D:name", "D:\" for a file at the root).
std::string_view containing_folder(std::string_view path);

// True for "D:\…" and for "\\…" (a share or a device): the path names its own place.
bool is_absolute_path(std::string_view path);

// True when a relative path climbs out of the folder it is relative to ("..\x", "a\..\..\x"),
// or is not relative at all (rooted, on a drive, on a share).
bool leaves_its_folder(std::string_view path);

// Why Windows cannot hold a file or folder of this name, as a clause ("it ends in a full stop",
// "CON is a device name"); nothing when it can.
std::optional<std::string> windows_name_fault(std::string_view name);

}  // namespace vantile
