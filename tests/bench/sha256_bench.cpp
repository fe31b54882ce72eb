// SHA-256 throughput: the program's streaming interface against OpenSSL's own one-shot EVP
// digest over the same bytes, and (with --hash) one timed pass of the native sha256_of_file
// for tests/bench/sha256_file_bench.sh.
//
//   sha256_bench [Google Benchmark flags]
//   sha256_bench --hash <file>     prints "<digest> <byte count> <seconds>"
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "flow/sha256.h"

namespace {

using namespace vantile;

const std::vector<std::uint8_t>& input() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(64u << 20);
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
            if (!sha256.feed(bytes.data() + at, HASH_BUFFER_SIZE)) state.SkipWithError("feed");
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
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
