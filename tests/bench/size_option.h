// "--NAME=BYTES" for a benchmark's input size, taken out of the command line before Google
// Benchmark reads its own flags: the tests run each benchmark once on a tiny input, while a
// run by hand keeps the size it has always measured.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

// The size the option names, `fallback` when it is absent, nothing (after saying why) when
// its value is not a whole number of bytes above 0.
inline std::optional<std::size_t> take_size_option(int& argc, char** argv, const char* name,
                                                   std::size_t fallback) {
    const std::string prefix = std::string(name) + "=";
    std::optional<std::size_t> size = fallback;
    for (int i = 1; i < argc;) {
        const char* argument = argv[i];
        if (std::strncmp(argument, prefix.c_str(), prefix.size()) != 0) {
            ++i;
            continue;
        }
        const char* value = argument + prefix.size();
        const char* end = value + std::strlen(value);
        std::size_t parsed = 0;
        const std::from_chars_result read = std::from_chars(value, end, parsed);
        if (read.ec != std::errc() || read.ptr != end || parsed == 0) {
            std::fprintf(stderr, "%s takes a whole number of bytes above 0, not \"%s\"\n", name,
                         value);
            size.reset();
        } else if (size) {
            size = parsed;
        }
        for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
        --argc;
    }
    return size;
}
