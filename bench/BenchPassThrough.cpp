// Pass-through cost: the same GET answered by the same local server, once
// fetched straight by a plain socket client and once through the proxy,
// alternating within every iteration so that both see the same conditions.
// Both sides keep their connections alive between requests, as a reader and
// the proxy's worker do.
//
//   BM_ViaProxy_*      the reader through the whole proxy (listener, worker,
//                      dispatcher, pass-through)
//   BM_PassThrough_*   HandlePassThrough alone, streaming to a reader socket
//   BM_FetchCollect_*  FetchUrl collecting the answer for a route
//
// Counters (averages per request):
//   direct_cpu_us, proxy_cpu_us  processor time the whole process (server,
//               proxy and client, every thread) spent on the request: on a
//               machine with N cores no side can finish in less than its
//               processor time divided by N; divided by the request's own
//               time it gives the cores kept busy on average
//   direct_us   plain client: send, read the whole answer
//   proxy_us    through the proxy, until the reader has the whole answer
//   handler_us  until HandlePassThrough returns
//   collect_us  until FetchUrl returns with the collected answer
//   ratio       proxy_us (collect_us) / direct_us
//   added_us    proxy_us - direct_us

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/CGateway.h"
#include "net/PassThrough.h"
#include "net/RequestParser.h"
#include "net/UpstreamClient.h"
#include "platform/TextCodec.h"
#include "support/FakeHttpServer.h"
#include "support/ProxyHarness.h"
#include "support/ReaderSocketPair.h"

namespace {

using Clock = std::chrono::steady_clock;
using tav::test::FakeHttpServer;
using tav::test::ScriptedResponse;

// The server of the benchmark: "/big" is 1 MB, "/small" a 2 KB page.
FakeHttpServer& Server() {
  static FakeHttpServer* server = [] {
    auto* s = new FakeHttpServer();
    const std::string big(1024 * 1024, 'B');
    std::string page = "<html><body>";
    while (page.size() < 2048 - 14) page += "<dd>text</dd>";
    page += "</body></html>";
    s->SetHandler([big, page](const tav::test::ReceivedRequest& request) {
      return ScriptedResponse::Ok(request.target.ends_with("/big") ? big : page, "text/html");
    });
    return s;
  }();
  return *server;
}

// Processor time of every thread of this process so far.
std::chrono::microseconds ProcessCpuTime() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto micros = [](const timeval& t) { return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec); };
  return micros(usage.ru_utime) + micros(usage.ru_stime);
}

// A reader over one kept-alive connection: sends a request, reads the whole
// answer (framed by its Content-Length). Pointed at the server it fetches
// straight; pointed at the proxy it fetches through it.
class KeepAliveClient {
 public:
  explicit KeepAliveClient(int port) : port_(port) {}
  KeepAliveClient(const KeepAliveClient&) = delete;
  KeepAliveClient& operator=(const KeepAliveClient&) = delete;
  ~KeepAliveClient() {
    if (fd_ >= 0) ::close(fd_);
  }

  // Returns the bytes of the whole answer.
  std::size_t Fetch(const std::string& request) {
    if (fd_ < 0) Connect();
    ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
    std::string head;
    std::size_t total = 0;
    std::size_t expected = SIZE_MAX;
    char block[65536];
    while (total < expected) {
      const ssize_t got = ::recv(fd_, block, sizeof block, 0);
      if (got <= 0) throw std::runtime_error("direct fetch: connection ended");
      total += static_cast<std::size_t>(got);
      if (expected == SIZE_MAX) {
        head.append(block, static_cast<std::size_t>(got));
        const auto blank = head.find("\r\n\r\n");
        const auto length = head.find("Content-Length: ");
        if (blank != std::string::npos && length != std::string::npos) {
          expected = blank + 4 + std::strtoul(head.c_str() + length + 16, nullptr, 10);
        }
      }
    }
    return total;
  }

 private:
  void Connect() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("direct fetch: connect");
    }
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }

  int port_;
  int fd_ = -1;
};

std::string DirectRequest(const std::string& path) { return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

std::string ProxyRequest(const FakeHttpServer& server, const std::string& path) {
  return "GET " + server.Url(path) + " HTTP/1.1\r\nHost: " + server.Authority() +
         "\r\nUser-Agent: Monazilla/1.00\r\nAccept: */*\r\n\r\n";
}

// The reader's end of its connection to the proxy: counts what arrives.
class CountingReader {
 public:
  CountingReader() : thread_([this] { Drain(); }) {}
  ~CountingReader() {
    pair_.CloseProxySide();
    thread_.join();
  }
  int ProxySide() const { return pair_.ProxySide(); }

  void WaitFor(std::size_t total) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return received_ >= total; });
  }
  std::size_t Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  void Drain() {
    char block[65536];
    for (;;) {
      const ssize_t got = ::recv(pair_.ReaderSide(), block, sizeof block, 0);
      if (got <= 0) return;
      std::lock_guard lock(mutex_);
      received_ += static_cast<std::size_t>(got);
      changed_.notify_all();
    }
  }

  tav::test::ReaderSocketPair pair_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t received_ = 0;
  std::thread thread_;
};

void PassThroughVersusDirect(benchmark::State& state, const std::string& path) {
  FakeHttpServer& server = Server();
  KeepAliveClient direct(server.Port());
  CountingReader reader;
  auto values = std::make_shared<tav::SettingValues>();
  values->ProxyMode = 0;
  const std::string request = ProxyRequest(server, path);
  tav::Request parsed;
  tav::ParseRequestHeader(request, parsed, true);

  Clock::duration straight{}, proxied{}, handlerOnly{};
  std::size_t answerBytes = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    answerBytes = direct.Fetch(DirectRequest(path));
    straight += Clock::now() - start;

    tav::CGateway ctx;
    ctx.cfg = values;
    ctx.readerSocket = reader.ProxySide();
    const std::size_t before = reader.Received();
    start = Clock::now();
    if (!tav::HandlePassThrough(ctx, parsed, tav::RouteOptions{}).Ok()) {
      state.SkipWithError("pass-through failed");
      break;
    }
    handlerOnly += Clock::now() - start;
    reader.WaitFor(before + answerBytes);
    proxied += Clock::now() - start;
  }
  const double n = static_cast<double>(state.iterations());
  const double directUs = std::chrono::duration<double, std::micro>(straight).count() / n;
  const double proxyUs = std::chrono::duration<double, std::micro>(proxied).count() / n;
  state.counters["direct_us"] = directUs;
  state.counters["proxy_us"] = proxyUs;
  state.counters["ratio"] = proxyUs / directUs;
  state.counters["handler_us"] = std::chrono::duration<double, std::micro>(handlerOnly).count() / n;
  state.counters["added_us"] = proxyUs - directUs;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answerBytes * 2));
}

// FetchUrl collecting the answer for a route (no reader socket), against the
// same direct fetch.
void CollectVersusDirect(benchmark::State& state, const std::string& path) {
  FakeHttpServer& server = Server();
  KeepAliveClient direct(server.Port());
  auto values = std::make_shared<tav::SettingValues>();
  values->ProxyMode = 0;
  tav::FetchRequest request;
  request.url = server.Url(path);
  request.acceptType = "Accept: */*";

  Clock::duration straight{}, collected{};
  for (auto _ : state) {
    auto start = Clock::now();
    direct.Fetch(DirectRequest(path));
    straight += Clock::now() - start;

    tav::CGateway ctx;
    ctx.cfg = values;
    tav::FetchResponse response;
    start = Clock::now();
    if (!tav::FetchUrl(ctx, request, &response, nullptr)) {
      state.SkipWithError("fetch failed");
      break;
    }
    collected += Clock::now() - start;
    benchmark::DoNotOptimize(response.body.data());
  }
  const double n = static_cast<double>(state.iterations());
  const double directUs = std::chrono::duration<double, std::micro>(straight).count() / n;
  const double collectUs = std::chrono::duration<double, std::micro>(collected).count() / n;
  state.counters["direct_us"] = directUs;
  state.counters["collect_us"] = collectUs;
  state.counters["ratio"] = collectUs / directUs;
}

// The reader through the whole proxy (listener, worker, dispatcher,
// pass-through) against the same reader straight at the server.
void ProxyVersusDirect(benchmark::State& state, const std::string& path) {
  FakeHttpServer& server = Server();
  tav::test::ProxyHarness proxy([](tav::SettingValues& v) { v.ProxyMode = 0; });
  KeepAliveClient direct(server.Port());
  KeepAliveClient viaProxy(proxy.Port());
  const std::string request = ProxyRequest(server, path);
  tav::Request parsed;
  tav::ParseRequestHeader(request, parsed, true);

  Clock::duration straight{}, proxied{};
  std::chrono::microseconds straightCpu{}, proxiedCpu{};
  for (auto _ : state) {
    auto start = Clock::now();
    auto cpuStart = ProcessCpuTime();
    const std::size_t expected = direct.Fetch(DirectRequest(path));
    straight += Clock::now() - start;
    straightCpu += ProcessCpuTime() - cpuStart;

    start = Clock::now();
    cpuStart = ProcessCpuTime();
    if (viaProxy.Fetch(request) != expected) {
      state.SkipWithError("answer through the proxy differs");
      break;
    }
    proxied += Clock::now() - start;
    proxiedCpu += ProcessCpuTime() - cpuStart;
  }
  const double n = static_cast<double>(state.iterations());
  const double directUs = std::chrono::duration<double, std::micro>(straight).count() / n;
  const double proxyUs = std::chrono::duration<double, std::micro>(proxied).count() / n;
  state.counters["direct_us"] = directUs;
  state.counters["proxy_us"] = proxyUs;
  state.counters["ratio"] = proxyUs / directUs;
  state.counters["added_us"] = proxyUs - directUs;
  state.counters["direct_cpu_us"] = static_cast<double>(straightCpu.count()) / n;
  state.counters["proxy_cpu_us"] = static_cast<double>(proxiedCpu.count()) / n;
}

void BM_ViaProxy_1MB(benchmark::State& state) { ProxyVersusDirect(state, "/big"); }
void BM_ViaProxy_2KB(benchmark::State& state) { ProxyVersusDirect(state, "/small"); }
void BM_PassThrough_1MB(benchmark::State& state) { PassThroughVersusDirect(state, "/big"); }
void BM_PassThrough_2KB(benchmark::State& state) { PassThroughVersusDirect(state, "/small"); }
void BM_FetchCollect_1MB(benchmark::State& state) { CollectVersusDirect(state, "/big"); }

// What the whole proxy may add: a 1 MB answer at most 1.5 times the direct
// fetch, a 2 KB page at most 0.3 ms more.
constexpr double kLargeRatioTarget = 1.5;
constexpr double kSmallAddedUsTarget = 300.0;

void PrintTargets(const std::vector<benchmark::BenchmarkReporter::Run>& runs) {
  for (const auto& run : runs) {
    const std::string name = run.benchmark_name();
    if (name.rfind("BM_ViaProxy_", 0) != 0 || run.error_occurred) continue;
    if (name.find("1MB") != std::string::npos) {
      const double ratio = run.counters.at("ratio");
      std::printf("  whole proxy, 1 MB: %.2fx the direct fetch (target at most %.1fx: %s)\n", ratio,
                  kLargeRatioTarget, ratio <= kLargeRatioTarget ? "met" : "NOT met");
      // No side can finish faster than its processor time spread over every core.
      const double cores = std::max(1u, std::thread::hardware_concurrency());
      const double direct = run.counters.at("direct_us");
      std::printf("    processor time per request: direct %.0f us, through the proxy %.0f us; spread over %.0f "
                  "cores the proxy needs at least %.2fx the direct fetch\n",
                  run.counters.at("direct_cpu_us").value, run.counters.at("proxy_cpu_us").value, cores,
                  run.counters.at("proxy_cpu_us") / cores / direct);
      // How much of the machine each side kept busy: a proxy at one core
      // runs its three threads (server, worker, reader) in turn, not side by side.
      std::printf("    cores busy on average: direct %.2f, through the proxy %.2f (of %.0f)\n",
                  run.counters.at("direct_cpu_us") / direct,
                  run.counters.at("proxy_cpu_us") / run.counters.at("proxy_us"), cores);
    } else {
      const double added = run.counters.at("added_us");
      std::printf("  whole proxy, 2 KB: %.0f us more than the direct fetch (target at most %.0f us: %s)\n", added,
                  kSmallAddedUsTarget, added <= kSmallAddedUsTarget ? "met" : "NOT met");
    }
  }
}

class TargetReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) runs_.push_back(run);
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nTargets:\n");
    PrintTargets(runs_);
  }

 private:
  std::vector<Run> runs_;
};

BENCHMARK(BM_ViaProxy_1MB)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ViaProxy_2KB)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PassThrough_1MB)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PassThrough_2KB)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FetchCollect_1MB)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TargetReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
