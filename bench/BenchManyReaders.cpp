// A thousand readers at once: each asks the proxy for the dat of a thread
// of its own while the board takes its time to answer (the HTML route, every
// request an upstream fetch). Prints how many were answered in full, the
// most requests the board held at one time, and the process's peak memory
// and thread count (proxy, board and readers share the process; the readers
// are one thread with non-blocking sockets).

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../tests/acquire/ConverterTestPages.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"

namespace {

using namespace tav;
using namespace tav::test;

constexpr int kReaders = 1000;
constexpr int kPostsPerThread = 20;
constexpr auto kBoardDelay = std::chrono::milliseconds(1500);
constexpr int kGiveUpMs = 60000;

// A number from /proc/self/status ("VmHWM:", "Threads:").
long StatusValue(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}

// Samples the thread count until stopped; keeps the highest.
class ThreadSampler {
 public:
  ThreadSampler() : thread_([this] {
      while (!stop_) {
        peak_ = std::max(peak_.load(), StatusValue("Threads:"));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }) {}
  ~ThreadSampler() { Stop(); }
  long Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return peak_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> peak_{0};
  std::thread thread_;
};

struct Reader {
  int fd = -1;
  std::string request;
  std::size_t requestSent = 0;
  std::string answer;
  bool done = false;
};

int ConnectNonBlocking(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);  // EINPROGRESS
  return fd;
}

// Drives every reader until each has its whole answer (the proxy closes the
// connection after a dat answer) or the time is up.
void RunReaders(std::vector<Reader>& readers) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMs);
  std::vector<pollfd> fds;
  std::vector<Reader*> owners;
  char block[65536];
  while (std::chrono::steady_clock::now() < deadline) {
    fds.clear();
    owners.clear();
    for (Reader& r : readers) {
      if (r.done) continue;
      const bool sending = r.requestSent < r.request.size();
      fds.push_back({r.fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0});
      owners.push_back(&r);
    }
    if (fds.empty()) return;
    if (::poll(fds.data(), fds.size(), 1000) <= 0) continue;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      Reader& r = *owners[i];
      if (fds[i].revents == 0) continue;
      if (r.requestSent < r.request.size()) {
        const ssize_t n = ::send(r.fd, r.request.data() + r.requestSent, r.request.size() - r.requestSent,
                                 MSG_NOSIGNAL);
        if (n > 0) r.requestSent += static_cast<std::size_t>(n);
        if (n < 0 && errno != EAGAIN && errno != EINPROGRESS) r.done = true;
        continue;
      }
      const ssize_t n = ::recv(r.fd, block, sizeof block, 0);
      if (n > 0) r.answer.append(block, static_cast<std::size_t>(n));
      if (n == 0 || (n < 0 && errno != EAGAIN)) r.done = true;
    }
  }
}

void BM_ThousandReaders(benchmark::State& state) {
  std::atomic<int> inFlight{0};
  std::atomic<int> peakInFlight{0};
  FakeHttpServer board;
  board.SetHandler([&](const ReceivedRequest&) {
    const int now = ++inFlight;
    int seen = peakInFlight.load();
    while (now > seen && !peakInFlight.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(kBoardDelay);
    --inFlight;
    return ScriptedResponse::Ok(testpages::Page(testpages::Layout::kDiv, "many", testpages::LongThread(kPostsPerThread)),
                                "text/html");
  });
  const std::string upstream = board.Authority();
  ProxyHarness proxy([&](SettingValues& v) {
    v.ProxyMode = 2;
    v.Proxy = CDoubleString::FromUtf8(upstream);
    v.LogMax = 100;
  });
  const std::string expectedBody =
      testpages::DatOf(testpages::Page(testpages::Layout::kDiv, "many", testpages::LongThread(kPostsPerThread)));

  int answered = 0;
  long peakThreads = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    ThreadSampler sampler;
    std::vector<Reader> readers(kReaders);
    for (int i = 0; i < kReaders; ++i) {
      readers[i].fd = ConnectNonBlocking(proxy.Port());
      readers[i].request = "GET http://egg.2ch.net/a/dat/" + std::to_string(1500000000 + i) +
                           ".dat HTTP/1.1\r\nHost: egg.2ch.net\r\n\r\n";
    }
    RunReaders(readers);
    peakThreads = sampler.Stop();
    for (Reader& r : readers) {
      const auto answer = HttpAnswer::Split(r.answer);
      if (answer.head.rfind("HTTP/1.1 200 ", 0) == 0 && answer.body == expectedBody) ++answered;
      ::close(r.fd);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.counters["answered"] = answered;
  state.counters["peak_at_board"] = peakInFlight.load();
  state.counters["peak_threads"] = static_cast<double>(peakThreads);
  state.counters["peak_rss_MB"] = static_cast<double>(StatusValue("VmHWM:")) / 1024.0;
  state.counters["rss_after_MB"] = static_cast<double>(StatusValue("VmRSS:")) / 1024.0;
  std::printf("%d of %d readers answered in full in %.2f s (the board holds each for %lld ms); at most %d requests "
              "at the board at once; peak %ld threads, peak memory %.1f MB, %.1f MB once all were answered\n",
              answered, kReaders, seconds, static_cast<long long>(kBoardDelay.count()), peakInFlight.load(),
              peakThreads, static_cast<double>(StatusValue("VmHWM:")) / 1024.0,
              static_cast<double>(StatusValue("VmRSS:")) / 1024.0);
  if (answered != kReaders) state.SkipWithError("not every reader was answered");
}

BENCHMARK(BM_ThousandReaders)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
