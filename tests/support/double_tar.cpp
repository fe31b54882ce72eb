// Stand-in for Windows' own tar.exe: `tar.exe -xf NAME` unpacks the zip archive NAME into the
// working folder (stored and deflated entries), exit code 0 on success and 1 otherwise.
//   VANTILE_TEST_TAR_RECORD=<file>  appends the command line and working folder to <file>
//   VANTILE_TEST_TAR_EXIT=<n>       unpacks what it can, then exits with <n> whatever happened
//   VANTILE_TEST_TAR_HOLD=<file>    first waits while this file exists (at most 120 seconds)
// Entries with an absolute name or a ".." part are refused and make the exit code 1.
#include <windows.h>
#include <shellapi.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support_text.h"
#include "windows/unique_handle.h"

using support::environment;
using support::utf8;

namespace {

std::wstring wide(const std::string& text, bool is_utf8) {
    if (text.empty()) return {};
    UINT page = is_utf8 ? CP_UTF8 : 437;
    int size = MultiByteToWideChar(page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(page, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

void record(const std::wstring& record_path) {
    wchar_t folder[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(MAX_PATH * 4, folder);
    std::string text = "command_line=" + utf8(GetCommandLineW()) + "\n";
    text += "working_folder=" + utf8(folder) + "\n";
    vantile::UniqueFile file(CreateFileW(record_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool read_file(const std::wstring& path, std::vector<unsigned char>& bytes) {
    vantile::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart >= (1LL << 31)) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() ||
           (ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
            read == bytes.size());
}

std::uint32_t u16(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8);
}
std::uint32_t u32(const std::vector<unsigned char>& b, size_t at) {
    return u16(b, at) | (u16(b, at + 2) << 16);
}

// A name is safe when it is relative and no part of it is "..".
bool safe_name(const std::wstring& name) {
    if (name.empty() || name[0] == L'/' || name[0] == L'\\') return false;
    if (name.size() >= 2 && name[1] == L':') return false;
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of(L"/\\", start);
        std::wstring part = name.substr(start, end == std::wstring::npos ? end : end - start);
        if (part == L"..") return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

void create_folders(const std::wstring& relative) {
    for (size_t at = relative.find(L'\\'); at != std::wstring::npos;
         at = relative.find(L'\\', at + 1)) {
        CreateDirectoryW(relative.substr(0, at).c_str(), nullptr);
    }
}

bool inflate_raw(const unsigned char* data, size_t size, std::vector<unsigned char>& out) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int status = inflate(&stream, Z_FINISH);
    bool ok = status == Z_STREAM_END && stream.total_out == out.size();
    inflateEnd(&stream);
    return ok;
}

bool write_file(const std::wstring& path, const std::vector<unsigned char>& bytes, bool read_only) {
    vantile::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const bool ok =
        bytes.empty() ||
        (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size());
    file.reset();
    if (ok && read_only) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    return ok;
}

// Unpacks every entry it can into the working folder; false if any entry failed.
bool unpack(const std::vector<unsigned char>& zip) {
    if (zip.size() < 22) return false;
    size_t end = zip.size() - 22;
    for (;; --end) {
        if (u32(zip, end) == 0x06054b50) break;
        if (end == 0 || zip.size() - end > 22 + 65535) return false;
    }
    const std::uint32_t count = u16(zip, end + 10);
    size_t at = u32(zip, end + 16);
    bool all_ok = true;
    for (std::uint32_t index = 0; index < count; ++index) {
        if (at + 46 > zip.size() || u32(zip, at) != 0x02014b50) return false;
        const std::uint32_t flags = u16(zip, at + 8);
        const std::uint32_t method = u16(zip, at + 10);
        const std::uint32_t crc = u32(zip, at + 16);
        const std::uint32_t packed = u32(zip, at + 20);
        const std::uint32_t size = u32(zip, at + 24);
        const std::uint32_t name_length = u16(zip, at + 28);
        const std::uint32_t extra_length = u16(zip, at + 30);
        const std::uint32_t comment_length = u16(zip, at + 32);
        const std::uint32_t external = u32(zip, at + 38);
        const std::uint32_t local = u32(zip, at + 42);
        if (at + 46 + name_length > zip.size()) return false;
        std::string raw_name(reinterpret_cast<const char*>(&zip[at + 46]), name_length);
        at += 46 + name_length + extra_length + comment_length;

        std::wstring name = wide(raw_name, (flags & 0x800) != 0);
        if (!safe_name(name)) {
            all_ok = false;
            continue;
        }
        for (wchar_t& c : name)
            if (c == L'/') c = L'\\';
        if (name.back() == L'\\') {
            create_folders(name);
            continue;
        }
        create_folders(name);

        if (local + 30 > zip.size() || u32(zip, local) != 0x04034b50) {
            all_ok = false;
            continue;
        }
        const size_t data = local + 30 + u16(zip, local + 26) + u16(zip, local + 28);
        if (data + packed > zip.size()) {
            all_ok = false;
            continue;
        }
        std::vector<unsigned char> content(size);
        bool ok = false;
        if (method == 0 && packed == size) {
            std::copy(zip.begin() + data, zip.begin() + data + size, content.begin());
            ok = true;
        } else if (method == 8) {
            ok = inflate_raw(&zip[data], packed, content);
        }
        ok = ok && crc32(0, content.data(), static_cast<uInt>(content.size())) == crc;
        const std::uint32_t unix_mode = external >> 16;
        const bool read_only =
            (external & 0x01) != 0 || (unix_mode != 0 && (unix_mode & 0200) == 0);
        if (!ok || !write_file(name, content, read_only)) all_ok = false;
    }
    return all_ok;
}

// Waits while the file exists, for at most two minutes.
void hold_while_present(const std::wstring& path) {
    for (int waited = 0; waited < 120000; waited += 50) {
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        Sleep(50);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring record_path = environment(L"VANTILE_TEST_TAR_RECORD");
    if (!record_path.empty()) record(record_path);
    const std::wstring hold = environment(L"VANTILE_TEST_TAR_HOLD");
    if (!hold.empty()) hold_while_present(hold);
    const std::wstring forced_exit = environment(L"VANTILE_TEST_TAR_EXIT");

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int code = 2;
    if (argv && argc == 3 && std::wstring(argv[1]) == L"-xf") {
        std::vector<unsigned char> zip;
        code = read_file(argv[2], zip) && unpack(zip) ? 0 : 1;
    }
    LocalFree(argv);
    if (!forced_exit.empty()) code = _wtoi(forced_exit.c_str());
    return code;
}
