#pragma once
// Small helpers for the staging and app-installer tests: scratch folders, files, the
// environment, and the test doubles built next to this test program.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
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

}  // namespace vantile::testing_support
