#include "error_text.h"
// Placeholder until the error texts are built.
namespace vantile {
std::string windows_error_text(std::uint32_t code) { return "Windows error " + std::to_string(code); }
std::string os_error_text(std::int32_t code) { return "(os error " + std::to_string(code) + ")"; }
}  // namespace vantile
