#pragma once
// What the installer says when the verified archive does not unpack into a Vantile desktop
// app; vantile-release says the same of an archive it judges.
#include <cstdint>
#include <string>
#include <string_view>

namespace vantile {

// "Could not unpack {} (tar.exe exit code {})." with the archive and tar.exe's exit code.
std::string unpack_failed_message(std::string_view archive_path, std::int32_t exit_code);

// No file Vantile.exe at the top of the unpacked tree.
inline constexpr std::string_view NO_APP_EXECUTABLE_MESSAGE =
    "The download has no Vantile.exe, so it is not a Vantile desktop app.";

// The one file the archive must hold at its top.
inline constexpr std::string_view APP_EXECUTABLE_NAME = "Vantile.exe";

}  // namespace vantile
