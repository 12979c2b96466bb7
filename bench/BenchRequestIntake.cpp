// Parsing plus classifying one request, the work every request pays for
// before its route runs. The baseline is a plain scan of the same bytes for
// the blank line, which any request reader has to make.

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "net/CGateway.h"
#include "server/Dispatcher.h"
#include "net/RequestParser.h"
#include "RatioReporter.h"

namespace {

const std::string kDatRequest =
    "GET http://egg.2ch.net/applism/dat/1517988732.dat HTTP/1.1\r\n"
    "Host: egg.2ch.net\r\n"
    "Accept: */*\r\n"
    "Accept-Encoding: gzip\r\n"
    "User-Agent: Monazilla/1.00 (JaneStyle/3.83)\r\n"
    "Range: bytes=123456-\r\n"
    "If-Modified-Since: Sat, 01 Jan 2000 00:00:00 GMT\r\n"
    "Connection: close\r\n"
    "\r\n";

void BM_Baseline_FindBlankLine(benchmark::State& state) {
  for (auto _ : state) {
    const char* found = static_cast<const char*>(memmem(kDatRequest.data(), kDatRequest.size(), "\r\n\r\n", 4));
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kDatRequest.size()));
}

void BM_ParseAndClassify(benchmark::State& state) {
  auto settings = std::make_shared<const tav::SettingValues>();
  for (auto _ : state) {
    tav::Request request;
    int rc = tav::ParseRequestHeader(kDatRequest, request, true);
    auto cls = tav::ClassifyRequest(*settings, request);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(cls);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kDatRequest.size()));
}

BENCHMARK(BM_Baseline_FindBlankLine);
BENCHMARK(BM_ParseAndClassify);

}  // namespace

int main(int argc, char** argv) { return tav::bench::RunWithRatios(argc, argv); }
