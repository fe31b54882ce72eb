// Reads a 1 MiB manifest-like document with our JSON reader and with nlohmann::json's DOM
// parser in the same run, and prints how long ours takes relative to it.
//
//   json_reader_bench [--document-bytes=N] [Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "flow/json_reader.h"
#include "ratio_reporter.h"
#include "size_option.h"

namespace {

// At least this many bytes; the tests' smoke asks for a tiny document.
std::size_t document_size = 1 << 20;

std::string hex_digest(std::uint64_t seed) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 64; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        text += digits[(seed >> 60) & 0xF];
    }
    return text;
}

// An object of build entries shaped like a release manifest: versions, addresses, sizes,
// digests, escaped and non-ASCII text, nested arrays and objects, and a few numbers of
// each kind.
std::string manifest_document() {
    std::string text =
        "{\n  \"schema\": 2,\n  \"channel\": \"production\",\n  \"rollout\": 0.25,\n";
    for (int i = 0; text.size() < document_size; ++i) {
        const std::string n = std::to_string(i);
        const std::string version = std::to_string(1 + i / 400) + "." +
                                    std::to_string(i / 20 % 20) + "." + std::to_string(i % 20);
        text += "  \"desktop-windows-x64-" + n + "\": {\n";
        text += "    \"version\": \"" + version + (i % 3 == 0 ? "-rc." + n : "") + "\",\n";
        text +=
            "    \"url\": \"https://cdn.example/builds/" + version + "/vantile-" + n + ".zip\",\n";
        text += "    \"size\": " + std::to_string(48213376 + i * 977) + ",\n";
        text += "    \"sha256\": \"" + hex_digest(static_cast<std::uint64_t>(i)) + "\",\n";
        text += "    \"offset\": -" + std::to_string(i + 1) + ",\n";
        text += "    \"ratio\": " + std::to_string(i % 1000) + ".5e-3,\n";
        text +=
            "    \"notes\": \"Caf\\u00e9 \xe2\x80\x94 na\xc3\xafve r\xc3\xa9sum\xc3\xa9, "
            "line\\nbreak \\\"" +
            n + "\\\"\",\n";
        text += "    \"args\": [\"--quiet\", \"--path=C:\\\\Apps\\\\Vantile\", " +
                std::string(i % 2 ? "true" : "null") + "],\n";
        text += "    \"files\": [{\"name\": \"Vantile.exe\", \"size\": " + std::to_string(i * 31) +
                "}, {\"name\": \"app.pak\", \"tags\": [[1, 2], [3.5, -4]]}]\n  },\n";
    }
    return text + "  \"end\": true\n}\n";
}

const std::string& document() {
    static const std::string text = manifest_document();
    return text;
}

void BM_VantileReader(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        vantile::Result<vantile::JsonValue> parsed = vantile::parse_json(text);
        if (!parsed.ok()) {
            state.SkipWithError(parsed.error().c_str());
            break;
        }
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_VantileReader)->Unit(benchmark::kMillisecond);

void BM_NlohmannDom(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        nlohmann::json parsed = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
        if (parsed.is_discarded()) {
            state.SkipWithError("nlohmann::json rejected the document");
            break;
        }
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_NlohmannDom)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const std::optional<std::size_t> size =
        take_size_option(argc, argv, "--document-bytes", document_size);
    if (!size) return 1;
    document_size = *size;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter("BM_VantileReader", "BM_NlohmannDom", "vantile/nlohmann",
                           "document: " + std::to_string(document().size()) + " bytes");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
