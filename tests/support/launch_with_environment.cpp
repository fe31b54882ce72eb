// Starts a program with variables of its environment set or removed after Windows (or Wine)
// made the process, then waits for it and exits with its exit code. Wine writes SystemRoot
// afresh into every new process, so the change is made in the suspended child's own
// environment block, right before its first instruction runs.
//
//   launch_with_environment.exe [--set NAME VALUE | --unset NAME]... -- PROGRAM [ARGUMENT]...
//
// Exit code 100 means the launcher itself failed; the reason goes to standard error.
#include <windows.h>
#include <winternl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int LAUNCHER_FAILED = 100;

// Offsets in the x64 PEB and RTL_USER_PROCESS_PARAMETERS.
constexpr std::size_t PEB_PROCESS_PARAMETERS = 0x20;
constexpr std::size_t PARAMETERS_ENVIRONMENT = 0x80;
constexpr std::size_t PARAMETERS_ENVIRONMENT_SIZE = 0x3F0;

struct Change {
    std::wstring name;
    std::optional<std::wstring> value;
};

int failed(const char* what) {
    std::fprintf(stderr, "launch_with_environment: %s failed (error %lu)\n", what, GetLastError());
    return LAUNCHER_FAILED;
}

// Case-insensitive match of "NAME=" at the start of an entry, as Windows compares names.
bool names_entry(const std::wstring& entry, const std::wstring& name) {
    if (entry.size() <= name.size() || entry[name.size()] != L'=') return false;
    return CompareStringOrdinal(entry.c_str(), static_cast<int>(name.size()), name.c_str(),
                                static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
}

std::wstring quote_argument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted.push_back(c);
    }
    quoted.append(backslashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

bool read(HANDLE process, std::uintptr_t address, void* out, std::size_t size) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, reinterpret_cast<const void*>(address), out, size, &got) &&
           got == size;
}

bool write(HANDLE process, std::uintptr_t address, const void* data, std::size_t size) {
    SIZE_T put = 0;
    return WriteProcessMemory(process, reinterpret_cast<void*>(address), data, size, &put) &&
           put == size;
}

// The child's environment entries, read up to the empty entry that ends the block.
std::optional<std::vector<std::wstring>> read_environment(HANDLE process, std::uintptr_t block) {
    std::vector<std::wstring> entries;
    std::wstring current;
    for (std::uintptr_t at = block;; at += sizeof(wchar_t)) {
        wchar_t unit = 0;
        if (!read(process, at, &unit, sizeof(unit))) return std::nullopt;
        if (unit != 0) {
            current.push_back(unit);
            continue;
        }
        if (current.empty()) return entries;
        entries.push_back(current);
        current.clear();
    }
}

int launch(const std::vector<Change>& changes, const std::vector<std::wstring>& command) {
    std::wstring command_line;
    for (const std::wstring& argument : command) {
        if (!command_line.empty()) command_line.push_back(L' ');
        command_line += quote_argument(argument);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(command[0].c_str(), command_line.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup,
                        &child))
        return failed("CreateProcessW");
    struct Owned {
        PROCESS_INFORMATION& info;
        bool resumed = false;
        ~Owned() {
            if (!resumed) TerminateProcess(info.hProcess, LAUNCHER_FAILED);
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
    } owned{child};

    // Looked up, so the launcher links against nothing but the usual system libraries.
    using QueryFunction = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    ULONG size = 0;
    if (!query || query(child.hProcess, ProcessBasicInformation, &basic, sizeof(basic), &size) != 0)
        return failed("NtQueryInformationProcess");
    const auto peb = reinterpret_cast<std::uintptr_t>(basic.PebBaseAddress);
    std::uintptr_t parameters = 0;
    std::uintptr_t environment = 0;
    if (!read(child.hProcess, peb + PEB_PROCESS_PARAMETERS, &parameters, sizeof(parameters)) ||
        !read(child.hProcess, parameters + PARAMETERS_ENVIRONMENT, &environment,
              sizeof(environment)))
        return failed("reading the process parameters");
    std::optional<std::vector<std::wstring>> entries =
        read_environment(child.hProcess, environment);
    if (!entries) return failed("reading the environment");

    for (const Change& change : changes) {
        std::erase_if(*entries, [&](const std::wstring& e) { return names_entry(e, change.name); });
        if (change.value) entries->push_back(change.name + L"=" + *change.value);
    }
    std::wstring block;
    for (const std::wstring& entry : *entries) block += entry + L'\0';
    block.push_back(L'\0');
    const std::size_t bytes = block.size() * sizeof(wchar_t);

    void* copy =
        VirtualAllocEx(child.hProcess, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!copy) return failed("VirtualAllocEx");
    const auto copy_address = reinterpret_cast<std::uintptr_t>(copy);
    const SIZE_T environment_size = bytes;
    if (!write(child.hProcess, copy_address, block.data(), bytes) ||
        !write(child.hProcess, parameters + PARAMETERS_ENVIRONMENT, &copy_address,
               sizeof(copy_address)) ||
        !write(child.hProcess, parameters + PARAMETERS_ENVIRONMENT_SIZE, &environment_size,
               sizeof(environment_size)))
        return failed("writing the environment");

    if (ResumeThread(child.hThread) == static_cast<DWORD>(-1)) return failed("ResumeThread");
    owned.resumed = true;
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD exit_code = LAUNCHER_FAILED;
    if (!GetExitCodeProcess(child.hProcess, &exit_code)) return failed("GetExitCodeProcess");
    return static_cast<int>(exit_code);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return failed("CommandLineToArgvW");
    std::vector<std::wstring> args(arguments + 1, arguments + count);
    LocalFree(arguments);

    std::vector<Change> changes;
    std::size_t i = 0;
    for (; i < args.size() && args[i] != L"--"; ++i) {
        if (args[i] == L"--set" && i + 2 < args.size()) {
            changes.push_back({args[i + 1], args[i + 2]});
            i += 2;
        } else if (args[i] == L"--unset" && i + 1 < args.size()) {
            changes.push_back({args[i + 1], std::nullopt});
            i += 1;
        } else {
            std::fprintf(stderr, "launch_with_environment: unexpected argument %ls\n",
                         args[i].c_str());
            return LAUNCHER_FAILED;
        }
    }
    if (i + 1 >= args.size()) {
        std::fprintf(stderr,
                     "usage: launch_with_environment [--set NAME VALUE | --unset NAME]... -- "
                     "PROGRAM [ARGUMENT]...\n");
        return LAUNCHER_FAILED;
    }
    return launch(changes, std::vector<std::wstring>(
                               args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end()));
}
