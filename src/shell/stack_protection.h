#pragma once
// The program's own support for -fstack-protector-strong and _FORTIFY_SOURCE, in place of
// libssp's: libssp seeds its canary before wWinMain through CryptAcquireContextA, which
// Windows forwards to cryptsp.dll, a DLL outside KnownDLLs that would then be searched for in
// the program's folder before the DLL search is restricted.

namespace vantile {

// Gives the stack canary a random value from the system's generator. Call once, from a
// function that does not itself check the canary (wWinMain), after the DLL search is
// restricted: frames entered before keep the old value and must not return through a check.
void seed_stack_guard();

}  // namespace vantile
