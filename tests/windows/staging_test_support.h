#pragma once
// Small helpers for the staging, unpacking, removal and app-installer tests: scratch folders,
// files, the environment, the test doubles built next to this test program, a zip writer for
// the tar.exe double, and links made from either side of Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/scope_exit.h"
#include "base/text.h"
#include "windows/environment.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace vantile::testing_support {

// The folder of the test doubles (tar.exe, Vantile.exe), built beside this program.
inline std::string doubles_folder() {
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
    std::string program = from_wide(std::wstring_view(buffer, length));
    return join_path(
        join_path(join_path(program.substr(0, program.find_last_of('\\')), "tests"), "support"),
        "doubles");
}

inline bool exists(const std::string& path) {
    return GetFileAttributesW(to_wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void write_file(const std::string& path, const std::string& content) {
    UniqueFile file(CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << path;
    DWORD written = 0;
    WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ASSERT_EQ(written, content.size()) << path;
}

inline std::optional<std::string> read_file(const std::string& path) {
    UniqueFile file(CreateFileW(to_wide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!file) return std::nullopt;
    std::string content;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
        content.append(chunk, read);
    return content;
}

inline void make_folder(const std::string& path) {
    ASSERT_TRUE(CreateDirectoryW(to_wide(path).c_str(), nullptr)) << path << " " << GetLastError();
}

inline void copy_file(const std::string& from, const std::string& to) {
    ASSERT_TRUE(CopyFileW(to_wide(from).c_str(), to_wide(to).c_str(), FALSE))
        << from << " -> " << to << " " << GetLastError();
}

// Removes a tree with plain Win32 calls, independent of the code under test.
inline void remove_tree_plainly(const std::string& path) {
    const std::wstring wide = to_wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!DeleteFileW(wide.c_str())) RemoveDirectoryW(wide.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((wide + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        ScopeExit end_search([search] { FindClose(search); });
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..")
                remove_tree_plainly(join_path(path, from_wide(name)));
        } while (FindNextFileW(search, &found));
    }
    RemoveDirectoryW(wide.c_str());
}

// A fresh folder in the temporary folder, removed (plainly) at the end of the test.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& name = "scratch") {
        static int counter = 0;
        path_ = join_path(
            temporary_folder().value_or("C:\\"),
            fill_template("vantile-test-{}-{}-{}", {name, std::to_string(GetCurrentProcessId()),
                                                    std::to_string(++counter)}));
        remove_tree_plainly(path_);
        CreateDirectoryW(to_wide(path_).c_str(), nullptr);
    }
    // A program that has just ended (or crashed) can hold its image briefly under Wine.
    ~ScratchFolder() {
        for (int tries = 0; tries < 40 && exists(path_); ++tries) {
            if (tries > 0) Sleep(50);
            remove_tree_plainly(path_);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view component) const { return join_path(path_, component); }

  private:
    std::string path_;
};

// Sets (or, with nothing, removes) an environment variable for the length of a test.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const wchar_t* name, std::optional<std::wstring> value) : name_(name) {
        wchar_t buffer[32768];
        SetLastError(ERROR_SUCCESS);
        DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
        if (length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND)
            previous_ = std::wstring(buffer, length);
        SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
    }
    ~ScopedEnvironment() {
        SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::wstring name_;
    std::optional<std::wstring> previous_;
};

// The record lines "key=value" that a double wrote.
inline std::optional<std::string> record_value(const std::string& record, const std::string& key) {
    size_t at = 0;
    while (at < record.size()) {
        size_t end = record.find('\n', at);
        if (end == std::string::npos) end = record.size();
        std::string line = record.substr(at, end - at);
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        at = end + 1;
    }
    return std::nullopt;
}

// Whether a kernel object name is the null device: "\Device\Null" on Windows; Wine
// names the Unix /dev/null instead.
inline bool is_null_device_name(const std::string& name) {
    const std::string wine_suffix = "\\dev\\null";
    return name == "\\Device\\Null" ||
           (name.size() >= wine_suffix.size() &&
            name.compare(name.size() - wine_suffix.size(), wine_suffix.size(), wine_suffix) == 0);
}

// This process's id as the staging names show it.
inline std::string pid_text() {
    return std::to_string(GetCurrentProcessId());
}

// Wine exports this; a Windows build does not.
inline bool running_under_wine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// ---- A small zip writer (stored entries) for the tar.exe double ----

inline std::uint32_t crc32_of(const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void put16(std::string& out, std::uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
inline void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

inline std::string stored_zip(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string body, directory;
    for (const auto& [name, content] : entries) {
        const std::uint32_t offset = static_cast<std::uint32_t>(body.size());
        const std::uint32_t crc = crc32_of(content);
        const auto size = static_cast<std::uint32_t>(content.size());
        put32(body, 0x04034b50);
        put16(body, 20);
        put16(body, 0x800);
        put16(body, 0);
        put32(body, 0);
        put32(body, crc);
        put32(body, size);
        put32(body, size);
        put16(body, static_cast<std::uint32_t>(name.size()));
        put16(body, 0);
        body += name + content;
        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, 0x800);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, size);
        put32(directory, size);
        put16(directory, static_cast<std::uint32_t>(name.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, offset);
        directory += name;
    }
    std::string zip = body + directory;
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put32(zip, static_cast<std::uint32_t>(directory.size()));
    put32(zip, static_cast<std::uint32_t>(body.size()));
    put16(zip, 0);
    return zip;
}

// ---- Real links ----

inline std::optional<std::string> unix_path(const std::string& path) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto get = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!get) return std::nullopt;
    char* name = get(to_wide(path).c_str());
    if (!name) return std::nullopt;
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

template <class Condition>
inline bool eventually(Condition condition) {
    for (int wait = 0; wait < 100 && !condition(); ++wait) Sleep(50);
    return condition();
}

// Runs a Linux program from under Wine and waits for it. Wine hands the arguments over split
// at spaces, without a shell, so they must not need quoting.
// Wine does not wait for a Linux program through its process handle, so the caller polls for
// the result.
inline bool run_unix(const std::string& program, const std::string& arguments) {
    std::wstring command = to_wide(program + " " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(to_wide("Z:" + program).c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &started))
        return false;
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    WaitForSingleObject(process.get(), 10000);
    return true;
}

// Makes `link` a link to `target`: a Unix symbolic link under Wine (through /bin/ln), which
// must work, or a Windows symbolic link, which needs developer mode or the privilege.
inline bool make_link(const std::string& target, const std::string& link, bool folder) {
    if (running_under_wine()) {
        std::optional<std::string> unix_target = unix_path(target);
        std::optional<std::string> unix_link = unix_path(link);
        return unix_target && unix_link &&
               run_unix("/bin/ln", "-s " + *unix_target + " " + *unix_link) &&
               eventually([&] { return exists(link); });
    }
    DWORD flags =
        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
    return CreateSymbolicLinkW(to_wide(link).c_str(), to_wide(target).c_str(), flags) &&
           exists(link);
}

// Takes a link away without going near its target. Under Wine a Windows delete of a Unix
// link reaches the target, so the link goes from the Linux side.
inline void remove_link(const std::string& link) {
    if (running_under_wine()) {
        std::optional<std::string> unix_link = unix_path(link);
        ASSERT_TRUE(unix_link);
        ASSERT_TRUE(run_unix("/bin/rm", "-f " + *unix_link));
        ASSERT_TRUE(eventually([&] { return !exists(link); })) << link;
    } else {
        if (!DeleteFileW(to_wide(link).c_str())) RemoveDirectoryW(to_wide(link).c_str());
    }
}

}  // namespace vantile::testing_support
