// A reader fetching a 1,000-post thread through the proxy (HTML route: the
// page is fetched, converted and answered as a dat) against fetching the
// raw page straight from the same local fake board, side by side.
// Also prints what a DiffMode refresh that finds 5 new posts costs the
// board, as a share of the full page.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "../tests/acquire/ConverterTestPages.h"
#include "RatioReporter.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"

namespace {

using namespace tav;
using namespace tav::test;

const std::string& ThreadPage(int posts) {
  static std::map<int, std::string> pages;
  auto& page = pages[posts];
  if (page.empty()) page = testpages::Page(testpages::Layout::kDiv, "bench", testpages::LongThread(posts));
  return page;
}

std::string ReadAnswer(int port, const std::string& request) {
  LoopbackClient client(port);
  client.Send(request);
  return client.ReadAll(5000);
}

void BM_Baseline_RawPageFromBoard(benchmark::State& state) {
  FakeHttpServer board;
  board.SetHandler([](const ReceivedRequest&) { return ScriptedResponse::Ok(ThreadPage(1000), "text/html"); });
  const std::string request = "GET /test/read.cgi/a/1/ HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";
  std::size_t bytes = 0;
  for (auto _ : state) bytes += ReadAnswer(board.Port(), request).size();
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// state.range(0): regex mode (1, the default, converts with the matching
// pattern set; 0 with the marker converter).
void BM_DatThroughProxy(benchmark::State& state) {
  FakeHttpServer board;
  board.SetHandler([](const ReceivedRequest&) { return ScriptedResponse::Ok(ThreadPage(1000), "text/html"); });
  const std::string upstream = board.Authority();
  ProxyHarness proxy([&](SettingValues& v) {
    v.ProxyMode = 2;
    v.Proxy = CDoubleString::FromUtf8(upstream);
    v.LogMax = 50;
    v.BregexpMode = static_cast<int>(state.range(0));
  });
  const std::string request =
      "GET http://egg.2ch.net/a/dat/1.dat HTTP/1.1\r\nHost: egg.2ch.net\r\nAccept-Encoding: gzip\r\n\r\n";
  std::size_t bytes = 0;
  for (auto _ : state) bytes += ReadAnswer(proxy.Port(), request).size();
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

BENCHMARK(BM_Baseline_RawPageFromBoard)->Iterations(200)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DatThroughProxy)->Arg(1)->Arg(0)->Iterations(200)->UseRealTime()->Unit(benchmark::kMillisecond);

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
  std::size_t fullPage = ScriptedResponse::Ok(ThreadPage(1000), "text/html").Wire().size();
  std::printf("DiffMode refresh with 5 new posts: the board sends %zu bytes, %.1f%% of the full page (%zu bytes)\n",
              refreshBytes, 100.0 * static_cast<double>(refreshBytes) / static_cast<double>(fullPage), fullPage);
}

}  // namespace

int main(int argc, char** argv) {
  int rc = tav::bench::RunWithRatios(argc, argv);
  PrintDiffModeShare();
  return rc;
}
