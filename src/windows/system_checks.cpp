#include "system_checks.h"
// Placeholder until the system checks are built.
namespace vantile {
Status check_windows_build() { return fail("The system checks are not built yet."); }
Result<std::string> locate_system_tar() { return fail("The system checks are not built yet."); }
Architecture detect_architecture() { return Architecture::X64; }
}  // namespace vantile
