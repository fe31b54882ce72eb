#pragma once
// The files the tool reads and writes, on the platform it was built for. Paths are UTF-8.
// It reads only regular files, never more than it needs, and replaces a file only with a
// complete one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "flow/verification.h"

namespace vantile {

// The manifest's bytes, or the installer's message for a manifest file that it cannot read.
[[nodiscard]] Result<std::string> read_manifest_file(const std::string& path);

// True when the path names a regular file (links followed), as a manifest must.
bool is_regular_file(const std::string& path);

// True when anything is at the path (a link counts, even a dangling one).
bool path_exists(const std::string& path);

// True when the path names a folder (links followed).
bool is_folder(const std::string& path);

// Size and SHA-256 of an archive the manifest says is `expected_size` bytes: a regular file
// only; one of another size is measured, not read; one that grows while it is read is read
// no further than one chunk past that size. Failures are "Could not read {}: {}" naming
// `named`, the path the installer would open.
[[nodiscard]] Result<FileDigest> hash_archive(const std::string& path, std::string_view named,
                                              std::int64_t expected_size);

// Size and SHA-256 of an archive make describes: a regular file, read to its measured size.
[[nodiscard]] Result<FileDigest> measure_archive(const std::string& path);

// Writes the whole text to a temporary file beside `path`, then renames it over `path`, so
// the target is either as it was or complete.
[[nodiscard]] Status write_file_replacing(const std::string& path, std::string_view text);

// The last component of a path.
std::string file_name_of(const std::string& path);

// A file in a folder.
std::string file_in_folder(const std::string& folder, std::string_view name);

// The path of `file` relative to the folder that holds `manifest`, with "/" between its
// components; nothing when the file does not lie inside that folder.
std::optional<std::string> path_beside_manifest(const std::string& file,
                                                const std::string& manifest);

}  // namespace vantile
