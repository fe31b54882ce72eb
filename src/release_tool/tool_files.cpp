#include "release_tool/tool_files.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/text.h"
#include "flow/file_messages.h"
#include "flow/manifest_source.h"
#include "flow/sha256.h"

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
    return os_error_reason(error.message(), error.value());
}

// A name for a temporary file beside the target that no other run of the tool picks.
fs::path temporary_beside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path name = target;
    name += fill_template(".{}-{}.partial", {std::to_string(ticks), std::to_string(++counter)});
    return name;
}

}  // namespace

bool is_regular_file(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(fs::status(as_path(path), error));
}

bool path_exists(const std::string& path) {
    std::error_code error;
    return fs::symlink_status(as_path(path), error).type() != fs::file_type::not_found && !error;
}

bool is_folder(const std::string& path) {
    std::error_code error;
    return fs::is_directory(fs::status(as_path(path), error));
}

Result<std::string> read_manifest_file(const std::string& path) {
    const fs::path file = as_path(path);
    std::error_code error;
    // Following links, as the installer does; a folder or a device is no manifest either.
    if (!is_regular_file(path)) return fail(manifest_missing_message(path));
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) return fail(manifest_missing_message(path));
    if (Status fits = check_manifest_size(size, path); !fits) return std::move(fits).failure();

    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) return fail(manifest_unreadable_message(path, errno_text(errno)));
    ManifestBytes bytes(path);
    char buffer[65536];
    // A file that grew since it was measured stays bounded, as in the installer.
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        if (!bytes.add(buffer, static_cast<std::size_t>(in.gcount()))) break;
    }
    return std::move(bytes).finish(in.bad() ? manifest_unreadable_message(path, errno_text(errno))
                                            : std::string());
}

Result<FileDigest> hash_archive(const std::string& path, std::string_view named,
                                std::int64_t expected_size) {
    const auto unreadable = [&](std::string_view reason) {
        return fail(unreadable_file_message(named, reason));
    };
    const fs::path file = as_path(path);
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (error) return unreadable(error_text(error));
    if (!fs::is_regular_file(status))
        return unreadable(fs::is_directory(status) ? "it is a folder, not a file"
                                                   : "it is not a regular file");
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) return unreadable(error_text(error));
    // Another size fails verification on the size alone, with no need to read it.
    if (expected_size < 0 || size != static_cast<std::uintmax_t>(expected_size))
        return FileDigest{size, std::string()};

    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) return unreadable(errno_text(errno));
    Result<std::unique_ptr<Sha256>> started = start_sha256();
    if (!started) return unreadable(started.error());
    std::uint64_t left = static_cast<std::uint64_t>(expected_size) + HASH_BUFFER_SIZE;
    return sha256_of_stream(
        named, *started.value(),
        [&](std::uint8_t* buffer, std::size_t capacity) -> Result<std::size_t> {
            if (left == 0) return std::size_t{0};
            const std::size_t wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(capacity, left));
            in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(wanted));
            if (in.bad()) return fail(errno_text(errno));
            const auto got = static_cast<std::size_t>(in.gcount());
            left -= got;
            return got;
        });
}

Result<FileDigest> measure_archive(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(as_path(path), error);
    // A file that cannot be measured gets its reason from hash_archive.
    const auto expected = error ? std::int64_t{0} : static_cast<std::int64_t>(size);
    Result<FileDigest> digest = hash_archive(path, path, expected);
    if (digest && digest.value().digest.empty())
        return fail(unreadable_file_message(path, "it changed size while it was read"));
    return digest;
}

Status write_file_replacing(const std::string& path, std::string_view text) {
    const fs::path target = as_path(path);
    const fs::path temporary = temporary_beside(target);
    const auto could_not_write = [&](const std::string& reason) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return fail(unwritable_file_message(path, reason));
    };
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return could_not_write(errno_text(errno));
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) return could_not_write(errno_text(errno));
    std::error_code error;
    fs::rename(temporary, target, error);
    if (error) return could_not_write(error_text(error));
    return {};
}

std::string file_name_of(const std::string& path) {
    return as_utf8(as_path(path).filename());
}

std::string file_in_folder(const std::string& folder, std::string_view name) {
    // "--files ." names the file as it is, with no "./" of the tool's own.
    if (folder == ".") return std::string(name);
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
