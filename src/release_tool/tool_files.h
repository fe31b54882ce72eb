#pragma once
// The files the tool reads and writes, on the platform it was built for. Paths are UTF-8.
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "flow/verification.h"

namespace vantile {

// The manifest's bytes, or the installer's message for a manifest file that it cannot read.
[[nodiscard]] Result<std::string> read_manifest_file(const std::string& path);

// Size and SHA-256 of an archive in one streaming pass, with the installer's own code.
[[nodiscard]] Result<FileDigest> hash_archive(const std::string& path);

// Writes the whole text, replacing the file, or says why it could not.
[[nodiscard]] Status write_text_file(const std::string& path, std::string_view text);

// The last component of a path.
std::string file_name_of(const std::string& path);

// A file in a folder.
std::string file_in_folder(const std::string& folder, std::string_view name);

// The path of `file` relative to the folder that holds `manifest`, with "/" between its
// components; nothing when the file does not lie inside that folder.
std::optional<std::string> path_beside_manifest(const std::string& file,
                                                const std::string& manifest);

}  // namespace vantile
