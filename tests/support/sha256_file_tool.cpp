// Hashes one file with the program's own sha256_of_file (CNG), for the hashing benchmark.
//
//   sha256_file_tool.exe <path> <report file>
//
// The report is UTF-8 text: "<digest> <byte count>" on success, else the error message.
// Exit code 0 on success, 1 when hashing failed, 2 for wrong arguments.
#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "flow/sha256.h"
#include "windows/wide_text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace vantile;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return 2;
    if (count != 3) {
        LocalFree(arguments);
        return 2;
    }
    const std::string path = from_wide(arguments[1]);
    const std::filesystem::path report_path(arguments[2]);
    LocalFree(arguments);

    Result<FileDigest> hashed = sha256_of_file(path);
    std::ofstream report(report_path, std::ios::binary | std::ios::trunc);
    if (!hashed) {
        report << hashed.error() << "\n";
        return 1;
    }
    report << hashed.value().digest << " " << hashed.value().byte_count << "\n";
    return 0;
}
