#include "staging.h"
// Placeholder until staging is built.
namespace vantile {
Result<std::string> create_staging_folder() { return fail("Staging is not built yet."); }
Status unpack_archive(const std::string&, const std::string&, const std::string&) {
    return fail("Unpacking is not built yet.");
}
Result<std::string> find_app_executable(const std::string&) { return fail("Unpacking is not built yet."); }
Status remove_staging_folder(const std::string&) { return {}; }
}  // namespace vantile
