#pragma once
// Console output plus one line per benchmark giving its time as a ratio of
// the baseline benchmark run beside it in the same program.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tav::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Every run whose name contains `baselineTag` is a baseline; the others are
  // compared with the baseline that carries the same argument suffix, or with
  // the first baseline.
  explicit RatioReporter(std::string baselineTag = "Baseline") : baselineTag_(std::move(baselineTag)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      results_.push_back({run.benchmark_name(), run.GetAdjustedRealTime()});
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::map<std::string, double> baselines;
    double firstBaseline = 0;
    for (const auto& [name, time] : results_) {
      if (name.find(baselineTag_) == std::string::npos) continue;
      baselines[Suffix(name)] = time;
      if (firstBaseline == 0) firstBaseline = time;
    }
    std::printf("\nRatios to the baseline run beside them (lower is better):\n");
    for (const auto& [name, time] : results_) {
      if (name.find(baselineTag_) != std::string::npos) continue;
      auto it = baselines.find(Suffix(name));
      double base = it != baselines.end() ? it->second : firstBaseline;
      if (base > 0) std::printf("  %-50s %8.2fx\n", name.c_str(), time / base);
    }
  }

 private:
  static std::string Suffix(const std::string& name) {
    auto slash = name.find('/');
    return slash == std::string::npos ? std::string() : name.substr(slash);
  }

  std::string baselineTag_;
  std::vector<std::pair<std::string, double>> results_;
};

inline int RunWithRatios(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace tav::bench
