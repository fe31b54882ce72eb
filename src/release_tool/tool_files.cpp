#include "release_tool/tool_files.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/text.h"
#include "flow/manifest_source.h"
#ifdef _WIN32
#include "windows/sha256_file.h"
#else
#include "native/native_sha256_file.h"
#endif

namespace vantile {
namespace {

namespace fs = std::filesystem;

// UTF-8 both ways, so a path keeps every character on Windows as well.
fs::path as_path(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string as_utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The same shape as the installer's reasons: "<text> (os error <code>)".
std::string error_text(const std::error_code& error) {
    return fill_template("{} (os error {})", {error.message(), std::to_string(error.value())});
}

std::string errno_text(int code) {
    return error_text(std::error_code(code, std::generic_category()));
}

}  // namespace

Result<std::string> read_manifest_file(const std::string& path) {
    const fs::path file = as_path(path);
    std::error_code error;
    // Following links, as the installer does; a folder is no manifest either.
    const fs::file_status status = fs::status(file, error);
    if (error || !fs::is_regular_file(status)) return fail(manifest_missing_message(path));
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) return fail(manifest_missing_message(path));
    if (size > MANIFEST_SIZE_LIMIT) return fail(manifest_too_large_message(path));

    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) return fail(manifest_unreadable_message(path, errno_text(errno)));
    std::string bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        // A file that grew since it was measured stays bounded, as in the installer.
        if (bytes.size() > MANIFEST_SIZE_LIMIT) return fail(manifest_too_large_message(path));
    }
    if (in.bad()) return fail(manifest_unreadable_message(path, errno_text(errno)));
    return bytes;
}

Result<FileDigest> hash_archive(const std::string& path) {
    return sha256_of_file(path);
}

Status write_text_file(const std::string& path, std::string_view text) {
    errno = 0;
    std::ofstream out(as_path(path), std::ios::binary | std::ios::trunc);
    if (!out) return fail(fill_template("Could not write {}: {}", {path, errno_text(errno)}));
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) return fail(fill_template("Could not write {}: {}", {path, errno_text(errno)}));
    return {};
}

std::string file_name_of(const std::string& path) {
    return as_utf8(as_path(path).filename());
}

std::string file_in_folder(const std::string& folder, std::string_view name) {
    return as_utf8(as_path(folder) / as_path(name));
}

std::optional<std::string> path_beside_manifest(const std::string& file,
                                                const std::string& manifest) {
    std::error_code error;
    const fs::path folder =
        fs::weakly_canonical(fs::absolute(as_path(manifest), error), error).parent_path();
    if (error) return std::nullopt;
    const fs::path target = fs::weakly_canonical(fs::absolute(as_path(file), error), error);
    if (error) return std::nullopt;
    const fs::path relative = target.lexically_relative(folder);
    if (relative.empty() || *relative.begin() == "..") return std::nullopt;
    const std::u8string text = relative.generic_u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace vantile
