#include "manifest_source.h"
// Placeholder until the manifest source is built.
namespace vantile {
Result<ManifestSource> manifest_source_from_environment(const std::optional<std::string>& value) {
    if (!value || value->empty()) return ManifestSource{Address{std::string(DEFAULT_MANIFEST_ADDRESS)}};
    return ManifestSource{LocalFile{*value}};
}
bool has_url_scheme(std::string_view) { return false; }
bool starts_with_https(std::string_view) { return false; }
Result<std::string> read_manifest_from_address(const std::string&, const FetchAddress&) {
    return fail("not built yet");
}
std::string manifest_missing_message(std::string_view) { return {}; }
std::string manifest_too_large_message(std::string_view) { return {}; }
std::string manifest_unreadable_message(std::string_view, std::string_view) { return {}; }
}  // namespace vantile
