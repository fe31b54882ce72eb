#include "windows/pause.h"

#include <windows.h>

namespace vantile {

void pause_milliseconds(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

}  // namespace vantile
