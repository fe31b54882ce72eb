#include "app_installer.h"
// Placeholder until launching is built.
namespace vantile {
Result<std::int32_t> run_app_installer(const std::string&) { return fail("Launching is not built yet."); }
std::string installer_exit_message(std::int32_t) { return "Launching is not built yet."; }
}  // namespace vantile
