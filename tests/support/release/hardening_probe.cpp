// Shows the release build's stack protection at work, built with the program's flags and its
// own stack-protector support (src/stack_protection.cpp):
//   hardening_probe guard      prints the canary before and after seed_stack_guard
//   hardening_probe stack <n>  writes n bytes into a 16-byte stack buffer, out of the
//                              compiler's sight: the canary check must end the process
//   hardening_probe copy <n>   copies n bytes into a 16-byte global buffer with memcpy (no
//                              canary near it): the fortified copy must end the process
//   hardening_probe run <mode> <n>  runs one of the above as a child and prints its full
//                              exit code in hex (Wine's own exit status keeps 8 bits only)
// Exits 0 when nothing was caught.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "shell/stack_protection.h"

extern "C" std::uintptr_t __stack_chk_guard;

namespace {

char source[4096];

__attribute__((noinline)) int overrun_stack(std::size_t count) {
    char buffer[16];
    char* out = buffer;
    // Hides the buffer's size from the compiler, so only the canary can catch the overrun.
    __asm__ volatile("" : "+r"(out));
    for (std::size_t i = 0; i < count; ++i) out[i] = 'A';
    return out[0];
}

char target[16];

__attribute__((noinline)) int fortified_copy(std::size_t count) {
    std::memcpy(target, source, count);
    return target[0];
}

int run_child(int argc, wchar_t** argv) {
    wchar_t program[MAX_PATH];
    if (GetModuleFileNameW(nullptr, program, MAX_PATH) == 0) return 2;
    std::wstring line = L"hardening_probe";
    for (int i = 2; i < argc; ++i) line += std::wstring(L" ") + argv[i];
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 2;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::printf("%08lx\n", static_cast<unsigned long>(code));
    return 0;
}

}  // namespace

__attribute__((no_stack_protector)) int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    std::memset(source, 'B', sizeof(source));
    const std::size_t count = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 0;
    if (std::wcscmp(argv[1], L"guard") == 0) {
        std::printf("%llx\n", static_cast<unsigned long long>(__stack_chk_guard));
        vantile::seed_stack_guard();
        std::printf("%llx\n", static_cast<unsigned long long>(__stack_chk_guard));
        return 0;
    }
    if (std::wcscmp(argv[1], L"run") == 0) return run_child(argc, argv);
    if (std::wcscmp(argv[1], L"stack") == 0) return overrun_stack(count) == 'A' ? 0 : 3;
    if (std::wcscmp(argv[1], L"copy") == 0) return fortified_copy(count) == 'B' ? 0 : 3;
    return 2;
}
