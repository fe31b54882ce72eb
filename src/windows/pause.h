#pragma once
#include <cstdint>

namespace vantile {

// The pause before a retry.
void pause_milliseconds(std::uint32_t milliseconds);

}  // namespace vantile
