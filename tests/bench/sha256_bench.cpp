// SHA-256 throughput: the program's streaming interface against OpenSSL's own one-shot EVP
// digest over the same 64 MiB in the same run, with ours relative to it; and (with --hash)
// one timed pass of the native sha256_of_file for tests/bench/sha256_file_bench.sh.
//
//   sha256_bench [--input-bytes=N] [Google Benchmark flags]
//   sha256_bench --hash <file>     prints "<digest> <byte count> <seconds>"
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "flow/sha256.h"
#include "ratio_reporter.h"
#include "size_option.h"

namespace {

using namespace vantile;

// The tests' smoke asks for a tiny input.
std::size_t input_size = 64u << 20;

const std::vector<std::uint8_t>& input() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(input_size);
        std::uint32_t x = 2463534242u;
        for (auto& byte : b) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = static_cast<std::uint8_t>(x);
        }
        return b;
    }();
    return bytes;
}

void streaming_interface(benchmark::State& state) {
    const auto& bytes = input();
    for (auto _ : state) {
        auto started = start_sha256();
        Sha256& sha256 = *started.value();
        for (std::size_t at = 0; at < bytes.size(); at += HASH_BUFFER_SIZE) {
            const std::size_t size = std::min(HASH_BUFFER_SIZE, bytes.size() - at);
            if (!sha256.feed(bytes.data() + at, size)) state.SkipWithError("feed");
        }
        auto digest = sha256.finish();
        benchmark::DoNotOptimize(digest.value());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(streaming_interface)->Unit(benchmark::kMillisecond);

void openssl_one_shot(benchmark::State& state) {
    const auto& bytes = input();
    for (auto _ : state) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(openssl_one_shot)->Unit(benchmark::kMillisecond);

int hash_once(const char* path) {
    const auto start = std::chrono::steady_clock::now();
    Result<FileDigest> hashed = sha256_of_file(path);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!hashed) {
        std::fprintf(stderr, "%s\n", hashed.error().c_str());
        return 1;
    }
    std::printf("%s %llu %.3f\n", hashed.value().digest.c_str(),
                static_cast<unsigned long long>(hashed.value().byte_count), took.count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--hash") == 0) return hash_once(argv[2]);
    const std::optional<std::size_t> size =
        take_size_option(argc, argv, "--input-bytes", input_size);
    if (!size) return 1;
    input_size = *size;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter("streaming_interface", "openssl_one_shot", "streaming/openssl",
                           "input: " + std::to_string(input().size()) + " bytes");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
