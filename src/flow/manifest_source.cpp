#include "flow/manifest_source.h"

#include <utility>

#include "base/text.h"

namespace vantile {

bool starts_with_https(std::string_view text) {
    constexpr std::string_view scheme = "https://";
    if (text.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (ascii_lower(text[i]) != scheme[i]) return false;
    return true;
}

std::string not_https_message(std::string_view address) {
    return fill_template("Only https:// addresses are trusted, and {} is not one.", {address});
}

bool has_url_scheme(std::string_view text) {
    const std::size_t separator = text.find("://");
    if (separator == std::string_view::npos || separator == 0) return false;
    if (!is_ascii_letter(text[0])) return false;
    for (std::size_t i = 0; i < separator; ++i) {
        const char c = text[i];
        if (!is_ascii_letter(c) && !is_ascii_digit(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

Result<ManifestSource> manifest_source_from_environment(const std::optional<std::string>& value) {
    if (!value || value->empty())
        return ManifestSource{Address{std::string(DEFAULT_MANIFEST_ADDRESS)}};
    // Kept as written: a capitalised scheme is still fetched exactly as the user gave it.
    if (starts_with_https(*value)) return ManifestSource{Address{*value}};
    if (has_url_scheme(*value)) return fail(not_https_message(*value));
    return ManifestSource{LocalFile{*value}};
}

Result<std::string> read_manifest_from_address(const std::string& address,
                                               const FetchAddress& fetch) {
    std::string buffer;
    bool too_large = false;
    Result<TransferEnd> fetched = fetch(address, [&](const char* data, std::size_t size) {
        if (too_large) return false;
        buffer.append(data, size);
        if (buffer.size() > MANIFEST_SIZE_LIMIT) {
            too_large = true;
            return false;
        }
        return true;
    });
    // The mark wins even over a transfer that claims success after being told to stop,
    // so an address never yields more than the limit. The consumer stops for nothing else.
    if (too_large) return fail(manifest_too_large_message(address));
    if (!fetched) return std::move(fetched).failure();
    return buffer;
}

std::string manifest_missing_message(std::string_view path) {
    return fill_template("The manifest {} does not exist.", {path});
}

std::string manifest_too_large_message(std::string_view source_text) {
    return fill_template("The manifest {} is larger than a manifest can be.", {source_text});
}

std::string manifest_unreadable_message(std::string_view path, std::string_view os_error) {
    return fill_template("Could not read the manifest {}: {}", {path, os_error});
}

}  // namespace vantile
