// Converting a 1,000-post page of each layout, against a plain memchr scan
// of the same page (the floor: every converter reads the page at least
// once). Prints MB/s for each run and, at the end, each converter's time as
// a multiple of the scan's. "Choice" is the layout choice with the default
// pattern sets (regex mode on), which the HTML route runs before converting.
// Today's "clear post" layout is measured beside the meta layout it follows.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "acquire/ClearPostConverter.h"
#include "acquire/ConverterTestPages.h"
#include "acquire/HtmlConverter.h"
#include "config/PatternSets.h"
#include "platform/CBregOnig.h"
#include "config/SettingValues.h"

namespace {

using tav::testpages::Layout;

constexpr int kPosts = 1000;
// Speeds each converter should reach on these pages.
constexpr double kMarkerTarget = 1000.0;  // MB/s
constexpr double kPatternTarget = 400.0;

const std::string& PageOf(Layout layout) {
  static std::map<Layout, std::string> pages;
  auto it = pages.find(layout);
  if (it == pages.end()) {
    it = pages.emplace(layout, tav::testpages::Page(layout, "ベンチマーク用のスレ", tav::testpages::LongThread(kPosts)))
             .first;
  }
  return it->second;
}

const tav::SettingValues& Settings() {
  static const tav::SettingValues cfg = [] {
    tav::SettingValues values;
    tav::FillDefaultPatternSets(values.PatternSets);
    return values;
  }();
  return cfg;
}

const tav::CBregOnig& Engine() {
  static const tav::CBregOnig engine(true);
  return engine;
}

void Scan(benchmark::State& state, Layout layout) {
  const std::string& page = PageOf(layout);
  for (auto _ : state) {
    std::size_t lines = 0;
    const char* p = page.data();
    const char* end = p + page.size();
    while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
      ++lines;
      ++p;
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(page.size()));
}

using MarkerFunction = int (*)(std::string_view, std::string&, const tav::ConvertCall&, const tav::HtmlConvertOptions&);

void Marker(benchmark::State& state, Layout layout, MarkerFunction convert) {
  const std::string& page = PageOf(layout);
  const tav::HtmlConvertOptions options = tav::HtmlConvertOptions::FromSettings(Settings());
  std::string out;
  for (auto _ : state) {
    const int result = convert(page, out, tav::ConvertCall{}, options);
    if (result != kPosts) state.SkipWithError("wrong post count");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(page.size()));
}

void Pattern(benchmark::State& state, Layout layout, std::size_t set) {
  const std::string& page = PageOf(layout);
  const tav::HtmlConvertOptions options = tav::HtmlConvertOptions::FromSettings(Settings());
  std::string out;
  for (auto _ : state) {
    const int result =
        tav::ConvertPatternPage(page, out, tav::ConvertCall{}, options, Settings().PatternSets[set], Engine());
    if (result != kPosts) state.SkipWithError("wrong post count");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(page.size()));
}

void Choice(benchmark::State& state, Layout layout) {
  const std::string& page = PageOf(layout);
  for (auto _ : state) benchmark::DoNotOptimize(tav::ChooseConverter(page, Settings(), Engine()));
}

// Collects each run's time per iteration and prints the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        const double nanoseconds = run.GetAdjustedRealTime();
        times_[run.benchmark_name()] = nanoseconds;
        const auto bytes = run.counters.find("bytes_per_second");
        if (bytes != run.counters.end()) rates_[run.benchmark_name()] = bytes->second.value / 1e6;
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-28s %10s %12s\n", "converter (layout)", "MB/s", "x memchr");
    for (const auto& [name, nanoseconds] : times_) {
      const std::size_t slash = name.find('/');
      if (slash == std::string::npos || name.compare(0, slash, "Scan") == 0) continue;
      if (name.compare(0, slash, "Choice") == 0) {
        const double scan = times_.count("Scan/" + name.substr(slash + 1)) != 0
                                ? times_.at("Scan/" + name.substr(slash + 1))
                                : 0.0;
        std::printf("%-28s %10s %12s  (%.1f us per page, %.2f of one scan of the whole page)\n", name.c_str(), "-",
                    "-", nanoseconds / 1000.0, scan > 0 ? nanoseconds / scan : 0.0);
        continue;
      }
      const std::string layout = name.substr(slash + 1);
      const auto scan = times_.find("Scan/" + layout);
      if (scan == times_.end()) continue;
      const double rate = rates_.count(name) != 0 ? rates_.at(name) : 0.0;
      const double target = name.compare(0, 7, "Pattern") == 0 ? kPatternTarget : kMarkerTarget;
      std::printf("%-28s %10.1f %12.1f   target %4.0f MB/s: %s\n", name.c_str(), rate, nanoseconds / scan->second,
                  target, rate >= target ? "met" : "NOT met");
    }
  }

 private:
  std::map<std::string, double> times_;
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  const struct {
    const char* name;
    Layout layout;
  } layouts[] = {{"div", Layout::kDiv},
                 {"dtspan", Layout::kDtSpan},
                 {"meta", Layout::kMeta},
                 {"meta-noid", Layout::kMetaWithoutId},
                 {"dl", Layout::kDl},
                 {"clearpost", Layout::kClearPost},
                 {"clearpost-adult", Layout::kClearPostAdult}};
  for (const auto& l : layouts) {
    std::printf("page %-10s %zu bytes, %d posts\n", l.name, PageOf(l.layout).size(), kPosts);
    benchmark::RegisterBenchmark((std::string("Scan/") + l.name).c_str(), Scan, l.layout);
  }
  benchmark::RegisterBenchmark("Div/div", Marker, Layout::kDiv, &tav::ConvertDivPage);
  benchmark::RegisterBenchmark("DtSpan/dtspan", Marker, Layout::kDtSpan, &tav::ConvertDtSpanPage);
  benchmark::RegisterBenchmark("Meta/meta", Marker, Layout::kMeta, &tav::ConvertMetaPage);
  benchmark::RegisterBenchmark("Dl/dl", Marker, Layout::kDl, &tav::ConvertDlPage);
  benchmark::RegisterBenchmark("ClearPost/clearpost", Marker, Layout::kClearPost, &tav::ClearPostConverter::Convert);
  benchmark::RegisterBenchmark("ClearPost/clearpost-adult", Marker, Layout::kClearPostAdult,
                               &tav::ClearPostConverter::Convert);
  benchmark::RegisterBenchmark("Pattern0/dl", Pattern, Layout::kDl, std::size_t{0});
  benchmark::RegisterBenchmark("Pattern1/div", Pattern, Layout::kDiv, std::size_t{1});
  benchmark::RegisterBenchmark("Pattern2/dtspan", Pattern, Layout::kDtSpan, std::size_t{2});
  benchmark::RegisterBenchmark("Pattern3/meta", Pattern, Layout::kMeta, std::size_t{3});
  benchmark::RegisterBenchmark("Pattern4/meta-noid", Pattern, Layout::kMetaWithoutId, std::size_t{4});
  benchmark::RegisterBenchmark("Pattern5/clearpost", Pattern, Layout::kClearPost, std::size_t{5});
  for (const auto& l : layouts) {
    benchmark::RegisterBenchmark((std::string("Choice/") + l.name).c_str(), Choice, l.layout);
  }

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
