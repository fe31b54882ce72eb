#include "flow/trust_rules.h"

#include "base/text.h"

namespace vantile {

namespace {

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

bool is_path_byte(char c) {
    return is_ascii_letter(c) || is_ascii_digit(c) || c == '-' || c == '.' || c == '_' || c == '/';
}

// The text after a trusted location must be "vantile/desktop/" and then a plain path:
// only unreserved ASCII, no empty, "." or ".." segment.
bool passes_location_test(std::string_view rest) {
    if (!rest.starts_with(DOWNLOAD_PATH_PREFIX)) return false;
    std::string_view path = rest.substr(DOWNLOAD_PATH_PREFIX.size());
    if (path.empty()) return false;
    for (char c : path)
        if (!is_path_byte(c)) return false;
    for (;;) {
        const std::size_t slash = path.find('/');
        const std::string_view segment = path.substr(0, slash);
        if (segment.empty() || segment == "." || segment == "..") return false;
        if (slash == std::string_view::npos) return true;
        path.remove_prefix(slash + 1);
    }
}

bool is_trusted_address(std::string_view url) {
    for (std::string_view location : {STORAGE_DOWNLOAD_PREFIX, CDN_DOWNLOAD_PREFIX})
        if (url.starts_with(location) && passes_location_test(url.substr(location.size())))
            return true;
    return false;
}

bool starts_with_drive(std::string_view path) {
    return path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == ':';
}

// The end of the next component, which runs up to a separator or the end of the text.
std::size_t component_end(std::string_view path, std::size_t start, bool backslash_only) {
    std::size_t i = start;
    while (i < path.size() && (backslash_only ? path[i] != '\\' : !is_separator(path[i]))) ++i;
    return i;
}

// The length of the part of a path that names its drive: "D:", "\\server\share",
// "\\?\D:", "\\?\UNC\server\share", "\\?\name" or "\\.\device"; 0 when there is none.
std::size_t drive_prefix_length(std::string_view path) {
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        if (path.starts_with("\\\\?\\")) {
            const std::string_view rest = path.substr(4);
            if (rest.starts_with("UNC\\")) {
                const std::size_t server_end = component_end(path, 8, true);
                if (server_end >= path.size()) return path.size();
                return component_end(path, server_end + 1, true);
            }
            if (starts_with_drive(rest)) return 6;
            return component_end(path, 4, true);
        }
        if (path.size() >= 4 && path[2] == '.' && is_separator(path[3]))
            return component_end(path, 4, false);
        const std::size_t server_end = component_end(path, 2, false);
        if (server_end == 2 || server_end >= path.size()) return 0;
        const std::size_t share_end = component_end(path, server_end + 1, false);
        if (share_end == server_end + 1) return 0;
        return share_end;
    }
    return starts_with_drive(path) ? 2 : 0;
}

// The folder that holds the file: the path without its last component ("" for a bare
// name, "D:" for "D:name", "D:\" for a file at the root).
std::string_view parent_folder(std::string_view path) {
    const std::size_t prefix = drive_prefix_length(path);
    std::size_t last = path.size();
    while (last > prefix && !is_separator(path[last - 1])) --last;
    if (last == prefix) return path.substr(0, prefix);
    // Drop the separators before the last component, but keep the one that roots the path.
    while (last - 1 > prefix && is_separator(path[last - 2])) --last;
    if (last - 1 == prefix) return path.substr(0, prefix + 1);
    return path.substr(0, last - 1);
}

bool is_absolute_path(std::string_view path) {
    if (path.size() >= 3 && starts_with_drive(path) && is_separator(path[2])) return true;
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

// A local build path next to a manifest that was read from a file.
std::string resolve_local_path(std::string_view url, std::string_view manifest_path) {
    if (is_absolute_path(url) || starts_with_drive(url)) return std::string(url);
    // Rooted on the manifest's own drive.
    if (!url.empty() && is_separator(url[0]))
        return std::string(manifest_path.substr(0, drive_prefix_length(manifest_path))) +
               std::string(url);
    const std::string_view folder = parent_folder(manifest_path);
    // "D:" alone means the drive's current folder: a backslash would change the place.
    if (folder.size() == 2 && starts_with_drive(folder))
        return std::string(folder) + std::string(url);
    return join_path(folder, url);
}

}  // namespace

Result<DownloadSource> resolve_download_source(const std::string& url,
                                               const ManifestSource& manifest_source) {
    if (starts_with_https(url)) {
        if (is_trusted_address(url)) return DownloadSource{Address{url}};
        return fail(fill_template("The manifest names {}, which is not one of Vantile's downloads.",
                                  {url}));
    }
    if (has_url_scheme(url)) return fail(not_https_message(url));
    if (const auto* manifest_address = std::get_if<Address>(&manifest_source))
        return fail(fill_template("The manifest {} names {}, which is not an https:// address.",
                                  {manifest_address->text, url}));
    return DownloadSource{
        LocalFile{resolve_local_path(url, std::get<LocalFile>(manifest_source).path)}};
}

Status check_sha256_text(std::string_view sha256, const DownloadSource& download_source) {
    bool valid = sha256.size() == 64;
    for (char c : sha256)
        if (!is_ascii_hex_digit(c)) valid = false;
    if (!valid)
        return fail(fill_template("The manifest gives no valid SHA-256 for {}.",
                                  {source_text(download_source)}));
    return {};
}

}  // namespace vantile
