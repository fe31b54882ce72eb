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

Status check_manifest_size(std::uint64_t size, std::string_view source_text) {
    if (size > MANIFEST_SIZE_LIMIT) return fail(manifest_too_large_message(source_text));
    return {};
}

bool ManifestBytes::add(const char* data, std::size_t size) {
    if (too_large_) return false;
    bytes_.append(data, size);
    too_large_ = !check_manifest_size(bytes_.size(), source_text_);
    return !too_large_;
}

Result<std::string> ManifestBytes::finish(const std::string& read_error) && {
    // The mark wins even over a reading that claims success after being told to stop, so a
    // source never yields more than the limit. The consumer stops for nothing else.
    if (too_large_) return fail(manifest_too_large_message(source_text_));
    if (!read_error.empty()) return fail(read_error);
    return std::move(bytes_);
}

Result<std::string> read_manifest_from_address(const std::string& address,
                                               const FetchAddress& fetch) {
    ManifestBytes bytes(address);
    const Result<TransferEnd> fetched = fetch(
        address, [&bytes](const char* data, std::size_t size) { return bytes.add(data, size); });
    return std::move(bytes).finish(fetched.error());
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
