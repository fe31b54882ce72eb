#include "shell/stack_protection.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>

#include "windows/system_libraries.h"

// The names the compiler's checks use.
extern "C" {

// The canary; until it is seeded, a fixed value still catches a plain overrun.
std::uintptr_t __stack_chk_guard = 0x2B992DDFA232;

// An overwritten canary or a fortified copy past its buffer: end the process at once, as
// Windows' own fail-fast does, with no handler running in a corrupted process.
[[noreturn]] void __stack_chk_fail() {
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
    __builtin_unreachable();
}

[[noreturn]] void __chk_fail() {
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_RANGE_CHECK_FAILURE));
    __builtin_unreachable();
}
}

namespace vantile {

namespace {
using GenerateRandom = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);
}

__attribute__((no_stack_protector)) void seed_stack_guard() {
    std::uintptr_t value = 0;
    // From System32 and looked up here: this runs before bind_system_libraries, whose
    // failure is reported once the log is open. The module stays loaded for that.
    Result<HMODULE> bcrypt = load_from_system32({"bcrypt.dll", {"BCryptGenRandom"}});
    auto generate = bcrypt ? reinterpret_cast<GenerateRandom>(reinterpret_cast<void*>(
                                 GetProcAddress(bcrypt.value(), "BCryptGenRandom")))
                           : nullptr;
    if (generate == nullptr || generate(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof(value),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        // No generator: the clock, the ids and this frame's randomised address.
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        value = static_cast<std::uintptr_t>(counter.QuadPart) ^
                (static_cast<std::uintptr_t>(GetCurrentProcessId()) << 32) ^ GetCurrentThreadId() ^
                reinterpret_cast<std::uintptr_t>(&counter);
    }
    // A zero low byte stops a string copy that runs over its buffer at the canary.
    __stack_chk_guard = value & ~static_cast<std::uintptr_t>(0xFF);
}

}  // namespace vantile
