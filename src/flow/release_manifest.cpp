#include "release_manifest.h"
// Placeholder until manifest selection is built.
namespace vantile {
Result<JsonValue> parse_manifest_document(std::string_view, std::string_view) { return fail("not built yet"); }
Result<ReleaseManifest> select_build(const JsonValue&, Architecture) { return fail("not built yet"); }
}  // namespace vantile
