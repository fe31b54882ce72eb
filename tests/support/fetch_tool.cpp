// Drives fetch_address and download_to_file directly, for tests of the download code
// against the local release server under Wine.
//
//   fetch_tool.exe fetch <address> <body file> <report file> [stall limit in ms] [linger in ms]
//
// With a linger time, the tool stays that long after writing its report, so that a read it
// gave up on can still end (and close its handles) before the process does.
//   fetch_tool.exe download <address or path> <destination> <report file> [stop after N bytes]
//   fetch_tool.exe plain <address> <destination> <report file>
//   fetch_tool.exe answers <address list file> - <report file>
//
// "answers" fetches each address of the list (one a line) in turn, in one process, so that
// connections are pooled as in a real run, and reports each one's result on a line of its own.
//
// "plain" is the benchmark's reference for download_to_file: the same WinINet calls and file
// writes in a plain loop on one thread, with no transfer thread and no observer.
//
// The report is UTF-8 text, one "name: value" per line: result (ok, stopped or the error
// text), chunks (consumer or observer calls), total (bytes seen), largest (the largest chunk),
// seconds (how long the call took).
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "windows/download.h"
#include "windows/unique_handle.h"
#include "windows/wide_text.h"

namespace {

using namespace vantile;

struct Counts {
    std::uint64_t chunks = 0;
    std::uint64_t total = 0;
    std::uint64_t largest = 0;
};

std::string result_text(const Result<TransferEnd>& result) {
    if (!result) return result.error();
    return result.value() == TransferEnd::Complete ? "ok" : "stopped";
}

void write_report(const std::string& path, const Result<TransferEnd>& result, const Counts& counts,
                  std::chrono::steady_clock::time_point started) {
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::ofstream report(std::filesystem::path(to_wide(path)), std::ios::binary | std::ios::trunc);
    report << "result: " << result_text(result) << "\n";
    report << "chunks: " << counts.chunks << "\n";
    report << "total: " << counts.total << "\n";
    report << "largest: " << counts.largest << "\n";
    report << "seconds: " << took.count() << "\n";
}

// The same handles, status query, reads and writes as download_to_file, one after another.
Result<TransferEnd> plain_download(const std::string& address, const std::string& destination,
                                   Counts& counts) {
    UniqueInternet root = open_internet_root();
    if (!root) return fail("InternetOpenW failed");
    UniqueInternet request = open_internet_address(root.get(), address);
    if (!request) return fail("InternetOpenUrlW failed");
    DWORD status = 0;
    DWORD length = sizeof status;
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &length, nullptr) ||
        status != HTTP_STATUS_OK)
        return fail("no 200 answer");
    UniqueFile file(CreateFileW(to_wide(destination).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return fail("CreateFileW failed");
    const auto buffer = std::make_unique<char[]>(TRANSFER_BUFFER_SIZE);
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request.get(), buffer.get(), TRANSFER_BUFFER_SIZE, &read))
            return fail("InternetReadFile failed");
        if (read == 0) return TransferEnd::Complete;
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.get(), read, &written, nullptr) || written != read)
            return fail("WriteFile failed");
        ++counts.chunks;
        counts.total += read;
        if (read > counts.largest) counts.largest = read;
    }
}

int run(int argc, wchar_t** argv) {
    if (argc < 5) return 2;
    const std::string mode = from_wide(argv[1]);
    const std::string source = from_wide(argv[2]);
    const std::string target = from_wide(argv[3]);
    const std::string report = from_wide(argv[4]);
    Counts counts;
    const auto started = std::chrono::steady_clock::now();

    if (mode == "fetch") {
        TransferWait wait;
        if (argc > 5)
            wait.stall_limit =
                std::chrono::milliseconds(std::strtoull(from_wide(argv[5]).c_str(), nullptr, 10));
        std::ofstream body(std::filesystem::path(to_wide(target)),
                           std::ios::binary | std::ios::trunc);
        const Result<TransferEnd> result = fetch_address(
            source,
            [&](const char* data, std::size_t size) {
                body.write(data, static_cast<std::streamsize>(size));
                ++counts.chunks;
                counts.total += size;
                if (size > counts.largest) counts.largest = size;
                return true;
            },
            wait);
        body.close();
        write_report(report, result, counts, started);
        if (argc > 6) Sleep(static_cast<DWORD>(std::wcstoul(argv[6], nullptr, 10)));
        return result.ok() ? 0 : 1;
    }
    if (mode == "answers") {
        std::ifstream list(std::filesystem::path(to_wide(source)), std::ios::binary);
        std::ofstream results(std::filesystem::path(to_wide(report)),
                              std::ios::binary | std::ios::trunc);
        for (std::string address; std::getline(list, address);) {
            if (address.empty()) continue;
            const Result<TransferEnd> result =
                fetch_address(address, [](const char*, std::size_t) { return true; });
            results << result_text(result) << "\n";
        }
        return 0;
    }
    if (mode == "plain") {
        const Result<TransferEnd> result = plain_download(source, target, counts);
        write_report(report, result, counts, started);
        return result.ok() ? 0 : 1;
    }
    if (mode == "download") {
        const std::uint64_t stop_after =
            argc > 5 ? std::strtoull(from_wide(argv[5]).c_str(), nullptr, 10) : UINT64_MAX;
        const bool address = source.size() >= 8 &&
                             CompareStringOrdinal(argv[2], 8, L"https://", 8, TRUE) == CSTR_EQUAL;
        const DownloadSource download_source =
            address ? DownloadSource{Address{source}} : DownloadSource{LocalFile{source}};
        const Result<TransferEnd> result =
            download_to_file(download_source, target, [&](std::uint64_t total) {
                const std::uint64_t size = total - counts.total;
                ++counts.chunks;
                counts.total = total;
                if (size > counts.largest) counts.largest = size;
                return total <= stop_after;
            });
        write_report(report, result, counts, started);
        return result.ok() ? 0 : 1;
    }
    return 2;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return run(__argc, __wargv);
}
