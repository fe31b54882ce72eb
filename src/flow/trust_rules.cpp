#include "flow/trust_rules.h"

#include "base/text.h"
#include "flow/windows_paths.h"

namespace vantile {

namespace {

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

// A local build path next to a manifest that was read from a file.
std::string resolve_local_path(std::string_view url, std::string_view manifest_path) {
    if (is_absolute_path(url) || drive_prefix_length(url) > 0) return std::string(url);
    // Rooted on the manifest's own drive.
    if (!url.empty() && is_path_separator(url[0]))
        return std::string(manifest_path.substr(0, drive_prefix_length(manifest_path))) +
               std::string(url);
    const std::string_view folder = containing_folder(manifest_path);
    // "D:" alone means the drive's current folder: a backslash would change the place.
    if (folder.size() == 2 && drive_prefix_length(folder) == 2)
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
