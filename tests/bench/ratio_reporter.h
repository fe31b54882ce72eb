// Google Benchmark's usual table, then our mean time over a peer's measured in the same run
// (below 1 means ours is faster), after a line that says what both worked on.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // `ours` and `peer` are benchmark function names; the ratio line reads "ratio <label>: ...".
    // Coloured on a terminal only, as Google Benchmark's own reporter is, so that a log or a
    // test's output holds plain text.
    RatioReporter(std::string ours, std::string peer, std::string label, std::string input)
        : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular),
          ours_(std::move(ours)),
          peer_(std::move(peer)),
          label_(std::move(label)),
          input_(std::move(input)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            Totals& totals = times_[run.run_name.function_name];
            totals.real += run.GetAdjustedRealTime();
            totals.cpu += run.GetAdjustedCPUTime();
            ++totals.runs;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto ours = times_.find(ours_);
        const auto peer = times_.find(peer_);
        if (ours == times_.end() || peer == times_.end()) return;
        const Totals& a = ours->second;
        const Totals& b = peer->second;
        std::printf("%s\n", input_.c_str());
        std::printf("ratio %s: real time %.3f, CPU time %.3f\n", label_.c_str(),
                    (a.real / a.runs) / (b.real / b.runs), (a.cpu / a.runs) / (b.cpu / b.runs));
    }

  private:
    struct Totals {
        double real = 0;
        double cpu = 0;
        int runs = 0;
    };
    std::string ours_;
    std::string peer_;
    std::string label_;
    std::string input_;
    std::map<std::string, Totals> times_;
};
