// A reader fetching a 1,000-post thread through the proxy (HTML route: the
// page is fetched, converted and answered as a dat) against fetching the
// raw page straight from the same local fake board, side by side: every
// iteration does one of each, so that both see the same conditions. Runs
// for the div layout and today's "clear post" layout, with regex mode on
// (the default: the matching pattern set converts) and off (the layout's
// marker converter), and with the board sending the page gzip-compressed
// as the boards do (the raw fetch then gets the compressed page too), and
// prints each ratio against its target.
// Each row also gives the page's conversion alone (the same page and
// settings, converted in the benchmark's own thread) and what the route costs
// without it: the part that no converter can take away.
// Also prints what a DiffMode refresh that finds 5 new posts costs the
// board, as a share of the full page.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../tests/acquire/ConverterTestPages.h"
#include "acquire/PageConversion.h"
#include "config/PatternSets.h"
#include "platform/CBregOnig.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"

namespace {

using namespace tav;
using namespace tav::test;
using Clock = std::chrono::steady_clock;

constexpr double kRegexOnTarget = 2.0;   // at most this many times the raw page fetch
constexpr double kRegexOffTarget = 1.5;
constexpr int kConversionRounds = 50;

const std::string& ThreadPage(testpages::Layout layout, int posts) {
  static std::map<std::pair<testpages::Layout, int>, std::string> pages;
  auto& page = pages[{layout, posts}];
  if (page.empty()) page = testpages::Page(layout, "bench", testpages::LongThread(posts));
  return page;
}

std::string ReadAnswer(int port, const std::string& request) {
  LoopbackClient client(port);
  client.Send(request);
  return client.ReadAll(5000);
}

struct RouteRatio {
  std::string name;
  double rawMs;
  double proxyMs;
  double convertMs;
  double target;
};
std::vector<RouteRatio>& Ratios() {
  static std::vector<RouteRatio> ratios;
  return ratios;
}

// state.range(0): the layout (testpages::Layout); state.range(1): regex
// mode (1, the default, or 0); state.range(2): 1 when the board sends gzip.
void BM_HtmlRoute(benchmark::State& state) {
  const auto layout = static_cast<testpages::Layout>(state.range(0));
  const bool regex = state.range(1) != 0;
  const bool gzip = state.range(2) != 0;
  const std::string& page = ThreadPage(layout, 1000);
  FakeHttpServer board;
  board.SetHandler([&](const ReceivedRequest&) {
    auto answer = ScriptedResponse::Ok(page, "text/html");
    answer.gzip = gzip;
    return answer;
  });
  const std::string upstream = board.Authority();
  ProxyHarness proxy([&](SettingValues& v) {
    v.ProxyMode = 2;
    v.Proxy = CDoubleString::FromUtf8(upstream);
    v.LogMax = 50;
    v.BregexpMode = regex ? 1 : 0;
  });
  const std::string rawRequest = "GET /test/read.cgi/a/1/ HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";
  const std::string datRequest =
      "GET http://egg.2ch.net/a/dat/1.dat HTTP/1.1\r\nHost: egg.2ch.net\r\nAccept-Encoding: gzip\r\n\r\n";
  const std::size_t datSize = testpages::DatOf(page).size();
  SettingValues convertSettings;
  FillDefaultPatternSets(convertSettings.PatternSets);
  convertSettings.BregexpMode = regex ? 1 : 0;
  static const CBregOnig engine(true);

  Clock::duration raw{}, proxied{}, converted{};
  for (auto _ : state) {
    auto start = Clock::now();
    const std::string rawAnswer = ReadAnswer(board.Port(), rawRequest);
    raw += Clock::now() - start;
    start = Clock::now();
    const std::string datAnswer = ReadAnswer(proxy.Port(), datRequest);
    proxied += Clock::now() - start;
    if (rawAnswer.size() < (gzip ? 1 : page.size()) || HttpAnswer::Split(datAnswer).body.size() != datSize) {
      state.SkipWithError("an answer is not whole");
      return;
    }
  }
  // The conversion alone, on its own: timed between the fetches, it ran
  // beside the workers and boards still closing and came out far slower
  // than it is inside the route.
  for (int i = 0; i < kConversionRounds; ++i) {
    const auto begin = Clock::now();
    const PageConversion conversion = ConvertThreadPage(page, ConvertCall{}, convertSettings, engine);
    converted += Clock::now() - begin;
    if (conversion.text.size() != datSize) {
      state.SkipWithError("the conversion alone gives another dat");
      return;
    }
  }
  const double n = static_cast<double>(state.iterations());
  const double rawMs = std::chrono::duration<double, std::milli>(raw).count() / n;
  const double proxyMs = std::chrono::duration<double, std::milli>(proxied).count() / n;
  const double convertMs = std::chrono::duration<double, std::milli>(converted).count() / kConversionRounds;
  state.counters["raw_ms"] = rawMs;
  state.counters["proxy_ms"] = proxyMs;
  state.counters["ratio"] = proxyMs / rawMs;
  const char* layoutName = layout == testpages::Layout::kClearPost ? "clear post" : "div";
  Ratios().push_back({std::string(layoutName) + (regex ? ", regex mode on" : ", regex mode off") + (gzip ? ", gzip" : ""),
                      rawMs, proxyMs, convertMs,
                      regex ? kRegexOnTarget : kRegexOffTarget});
}

BENCHMARK(BM_HtmlRoute)
    ->Args({static_cast<int>(testpages::Layout::kDiv), 1, 0})
    ->Args({static_cast<int>(testpages::Layout::kDiv), 0, 0})
    ->Args({static_cast<int>(testpages::Layout::kClearPost), 1, 0})
    ->Args({static_cast<int>(testpages::Layout::kClearPost), 0, 0})
    ->Args({static_cast<int>(testpages::Layout::kClearPost), 1, 1})
    ->Args({static_cast<int>(testpages::Layout::kClearPost), 0, 1})
    ->Iterations(200)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void PrintRatios() {
  std::printf("\nHTML route, 1,000-post page: the dat through the proxy against the raw page from the board\n");
  for (const RouteRatio& r : Ratios()) {
    const double ratio = r.proxyMs / r.rawMs;
    std::printf("  %-34s raw %.3f ms, dat %.3f ms: %5.2fx (target at most %.1fx: %s)\n", r.name.c_str(), r.rawMs,
                r.proxyMs, ratio, r.target, ratio <= r.target ? "met" : "NOT met");
    std::printf("  %-34s conversion alone %.3f ms; the route without it %5.2fx\n", "", r.convertMs,
                (r.proxyMs - r.convertMs) / r.rawMs);
  }
}

// Bytes the board sends for a DiffMode refresh that finds 5 new posts.
void PrintDiffModeShare() {
  FakeHttpServer board;
  std::size_t refreshBytes = 0;
  board.SetHandler([&](const ReceivedRequest& request) {
    bool refresh = request.target.back() == '-';
    auto posts = testpages::LongThread(1005);
    if (refresh) posts.erase(posts.begin() + 1, posts.begin() + 999);  // post 1, then 1000-1005
    else posts.resize(1000);
    auto answer = ScriptedResponse::Ok(testpages::Page(testpages::Layout::kDiv, "bench", posts), "text/html");
    if (refresh) refreshBytes = answer.Wire().size();
    return answer;
  });
  const std::string upstream = board.Authority();
  ProxyHarness proxy([&](SettingValues& v) {
    v.ProxyMode = 2;
    v.Proxy = CDoubleString::FromUtf8(upstream);
    v.DiffMode = 1;
  });
  auto ask = [&](std::size_t rangeStart) {
    return HttpAnswer::Split(ReadAnswer(proxy.Port(), "GET http://egg.2ch.net/a/dat/1.dat HTTP/1.1\r\nHost: egg.2ch.net\r\n"
                                                      "Range: bytes=" + std::to_string(rangeStart) + "-\r\n\r\n"));
  };
  auto first = ask(1);
  std::size_t datSize = first.body.size() + 1;
  ask(datSize);
  std::size_t fullPage = ScriptedResponse::Ok(ThreadPage(testpages::Layout::kDiv, 1000), "text/html").Wire().size();
  std::printf("DiffMode refresh with 5 new posts: the board sends %zu bytes, %.1f%% of the full page (%zu bytes)\n",
              refreshBytes, 100.0 * static_cast<double>(refreshBytes) / static_cast<double>(fullPage), fullPage);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintRatios();
  PrintDiffModeShare();
  return 0;
}
