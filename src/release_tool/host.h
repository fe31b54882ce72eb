#pragma once
// What differs between the computer the tool runs on and the Windows computer the installer
// runs on. One implementation per platform: host_posix.cpp (libarchive) and
// host_windows.cpp (the installer's own unpacking).
#include <optional>
#include <string>
#include <string_view>

#include "release_tool/archive_rules.h"

namespace vantile {

// The path under which this computer opens the file the installer on Windows opens as
// `installer_path`; nothing when only Windows can reach it (a drive letter, a share).
std::optional<std::string> host_path(std::string_view installer_path);

// Whether the two paths name one file, by the identity of the files as opened (device or
// volume, and file number), whatever the spelling: false when `a` is not there, nothing when
// `a` is there but its identity cannot be established.
std::optional<bool> same_file(const std::string& a, const std::string& b);

// How unpacking the archive at `path` would end on the installer's computer; `named` is the
// path the messages give.
UnpackVerdict judge_unpacking(const std::string& path, std::string_view named);

// Whether standard error is a terminal (where progress may be shown).
bool standard_error_is_terminal();

}  // namespace vantile
