#pragma once
// The messages the worker posts to the installer window.
#include <windows.h>

namespace vantile {

// wParam: the InstallStep that begins (0..4).
inline constexpr UINT WM_INSTALL_STEP = WM_APP + 1;
// wParam: the transfer's position in per-mille (0..1000).
inline constexpr UINT WM_INSTALL_PROGRESS = WM_APP + 2;
// The attempt is over; its report is already in the outcome slot.
inline constexpr UINT WM_INSTALL_DONE = WM_APP + 3;

}  // namespace vantile
