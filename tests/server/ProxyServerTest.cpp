#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"
#include "support/RecordingShell.h"

namespace tav::test {
namespace {

using namespace std::chrono_literals;

std::string Get(std::string_view host, std::string_view path, std::string_view extra = "") {
  return "GET http://" + std::string(host) + std::string(path) + " HTTP/1.1\r\nHost: " + std::string(host) +
         "\r\n" + std::string(extra) + "\r\n";
}

TEST(ProxyServer, DispatchesARequestOnlyOnceItIsComplete) {
  ProxyHarness proxy;
  LoopbackClient reader(proxy.Port());
  ASSERT_TRUE(reader.Connected());
  reader.Send("GET http://www.example.test/pieces HTTP/1.1\r\n");
  std::this_thread::sleep_for(300ms);
  reader.Send("Host: www.example.test\r\n");
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(proxy.Shell().FinishedRows().empty());
  reader.Send("\r\n");
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(1));
  auto row = proxy.Shell().FinishedRows()[0];
  EXPECT_EQ(row.cells[3], u"GET /pieces");
  EXPECT_EQ(row.cells[2], u"www.example.test");
  EXPECT_EQ(row.cells[4], u"直接");
}

TEST(ProxyServer, SecondRequestOnAConnectionStartsFromAnEmptyBuffer) {
  ProxyHarness proxy;
  LoopbackClient reader(proxy.Port());
  reader.Send(Get("www.example.test", "/first", "X-Padding: " + std::string(500, 'p') + "\r\n"));
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(1));
  std::string second = "BOGUS /second HTTP/1.1\r\n\r\n";
  reader.Send(second);
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(2));
  auto row = proxy.Shell().FinishedRows()[1];
  EXPECT_EQ(row.cells[3], u"不正リクエスト(BOGUS /second HTTP/1.1)");
  EXPECT_EQ(row.cells[4], u"不明");
  EXPECT_EQ(row.cells[5], u"失敗");
  EXPECT_EQ(row.cells[6], std::u16string(u"26")) << "only the second request's bytes";
  EXPECT_EQ(row.cells[7], u"0");
  EXPECT_EQ(row.image, 0);
  EXPECT_TRUE(reader.WaitForClose(2000)) << "a bad request closes the connection";
}

TEST(ProxyServer, ClosesAConnectionThatStaysIdle) {
  ProxyHarness proxy;
  LoopbackClient reader(proxy.Port());
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(reader.WaitForClose(6000));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 3000ms);
  EXPECT_LT(waited, 4500ms);
}

TEST(ProxyServer, CapsAnOversizedRequestHeader) {
  ProxyHarness proxy;
  LoopbackClient reader(proxy.Port());
  reader.Send("XXXX /" + std::string(12000, 'a'));
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(1));
  auto row = proxy.Shell().FinishedRows()[0];
  EXPECT_EQ(row.cells[6], u"8191");
  EXPECT_EQ(row.cells[3].substr(0, 12), u"不正リクエスト(XXXX");
}

TEST(ProxyServer, RefusesAPostBodyOverOneMebibyte) {
  ProxyHarness proxy;
  LoopbackClient reader(proxy.Port());
  reader.Send("POST http://www.example.test/upload HTTP/1.1\r\nHost: www.example.test\r\nContent-Length: 2000000\r\n\r\n");
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(1));
  EXPECT_EQ(proxy.Shell().FinishedRows()[0].cells[3].substr(0, 8), u"不正リクエスト(");
  EXPECT_TRUE(reader.WaitForClose(2000));
}

TEST(ProxyServer, ConnectionCloseRequestClosesAfterTheAnswer) {
  ProxyHarness proxy;
  LoopbackClient keep(proxy.Port());
  keep.Send(Get("www.example.test", "/keep"));
  LoopbackClient close(proxy.Port());
  close.Send(Get("www.example.test", "/close", "Connection: close\r\n"));
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(2));
  EXPECT_TRUE(close.WaitForClose(1500));
  EXPECT_FALSE(keep.WaitForClose(1000)) << "without Connection: close the connection stays open";
}

TEST(ProxyServer, CloseConnectionSettingClosesEveryExchange) {
  ProxyHarness proxy([](SettingValues& v) { v.CloseConnection = 1; });
  LoopbackClient reader(proxy.Port());
  reader.Send(Get("www.example.test", "/x"));
  EXPECT_TRUE(reader.WaitForClose(1500));
}

TEST(ProxyServer, ManyDroppedConnectionsLeaveNothingBehind) {
  ProxyHarness proxy;
  for (int i = 0; i < 1000; ++i) {
    LoopbackClient reader(proxy.Port());
    if (i % 3 == 0) reader.Send("GET /half");
    if (i % 3 == 1) reader.Send(Get("www.example.test", "/whole"));
  }
  for (int tries = 0; tries < 100 && proxy.Server().ActiveConnections() != 0; ++tries) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(proxy.Server().ActiveConnections(), 0u);
}

TEST(ProxyServer, StopEndsWorkersThatAreStillServing) {
  ProxyHarness proxy;
  LoopbackClient a(proxy.Port());
  LoopbackClient b(proxy.Port());
  a.Send("GET /incomplete");
  std::this_thread::sleep_for(200ms);
  auto start = std::chrono::steady_clock::now();
  proxy.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(proxy.Server().ActiveConnections(), 0u);
  EXPECT_TRUE(a.WaitForClose(1000));
}

TEST(ProxyServer, ReportsAPortInUse) {
  ProxyHarness first;
  int port = first.Port();
  ProxyHarness second([port](SettingValues& v) { v.GatewayPort = port; }, false);
  EXPECT_EQ(second.Start(), 12);
}

TEST(ProxyServer, ServesOnlyReadersFromAllowFrom) {
  constexpr const char16_t* kRefused = u"拒否";
  ProxyHarness proxy([](SettingValues& v) {
    v.GatewayHost = CDoubleString::FromUtf8("0.0.0.0");
    v.AllowFrom = CDoubleString::FromUtf8("127.0.0.1/32");
  });
  ASSERT_EQ(proxy.Shell().Messages().size(), 1u) << "one warning for a listener other machines can reach";
  EXPECT_NE(proxy.Shell().Messages()[0].find(u"127.0.0.1/32"), std::u16string::npos);

  LoopbackClient stranger(proxy.Port(), "127.0.0.2");
  ASSERT_TRUE(stranger.Connected());
  stranger.Send(Get("www.example.test", "/stranger"));
  EXPECT_EQ(stranger.ReadAll(2000), "") << "closed without an answer";
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(1));
  LogRow refused = proxy.Shell().FinishedRows()[0];
  EXPECT_EQ(refused.cells[2], u"127.0.0.2");
  EXPECT_EQ(refused.cells[5], kRefused);
  EXPECT_TRUE(proxy.Sink().Requests().empty()) << "nothing of the refused request went upstream";

  LoopbackClient reader(proxy.Port(), "127.0.0.1");
  reader.Send(Get("www.example.test", "/reader", "Connection: close\r\n"));
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(2));
  LogRow served = proxy.Shell().FinishedRows()[1];
  EXPECT_EQ(served.cells[3], u"GET /reader");
  EXPECT_NE(served.cells[5], kRefused);
  EXPECT_EQ(proxy.Sink().Requests().size(), 1u);
}

TEST(ProxyServer, TrayFollowsConnectionsAndFailures) {
  ProxyHarness proxy;
  {
    LoopbackClient reader(proxy.Port());
    reader.Send("BAD\r\n\r\n");
    ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(1));
    reader.WaitForClose(2000);
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(proxy.Shell().TrayState(), 101) << "the error stays when the connection closes";
  EXPECT_TRUE(proxy.Shell().TrayErrorFlag());
  {
    LoopbackClient reader(proxy.Port());
    reader.Send(Get("www.example.test", "/ok", "Connection: close\r\n"));
    ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(2));
    reader.WaitForClose(2000);
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(proxy.Shell().TrayErrorFlag()) << "the next accepted connection clears the error";
  EXPECT_EQ(proxy.Shell().TrayState(), 100);
}

// A shell whose first write of a route label throws, standing for any fault
// while a request is served.
class FaultyShell : public RecordingShell {
 public:
  using RecordingShell::RecordingShell;
  void RouteChosen(std::uint32_t requestId, RouteKind route) override {
    if (!thrown_.exchange(true)) throw std::runtime_error("fault while serving");
    RecordingShell::RouteChosen(requestId, route);
  }

 private:
  std::atomic<bool> thrown_{false};
};

TEST(ProxyServer, AFaultEndsItsRequestAndTheServerGoesOn) {
  FakeHttpServer sink;
  CSetting setting;
  setting.Update([&](SettingValues& v) {
    v.GatewayPort = 0;
    v.ProxyMode = 2;
    v.Proxy = CDoubleString::FromUtf8(sink.Authority());
  });
  FaultyShell shell(setting);
  ProxyServer server(setting, shell);
  ASSERT_EQ(server.CreateListener(), 0);

  LoopbackClient faulty(server.Port());
  faulty.Send(Get("www.example.test", "/first"));
  EXPECT_TRUE(faulty.WaitForClose(5000)) << "the faulty request's connection is closed";
  ASSERT_TRUE(shell.WaitForFinishedRows(1));
  EXPECT_EQ(shell.FinishedRows()[0].cells[5], u"失敗");
  EXPECT_EQ(shell.FinishedRows()[0].image, kImageFailure);

  LoopbackClient next(server.Port());
  next.Send(Get("www.example.test", "/second"));
  ASSERT_TRUE(shell.WaitForFinishedRows(2));
  EXPECT_EQ(shell.FinishedRows()[1].cells[3], u"GET /second");
  EXPECT_EQ(shell.FinishedRows()[1].cells[5], u"成功");
  server.Stop();
}

// A tunnel whose log row newer requests have pushed out keeps its speed:
// its byte counts have no row to go to and are dropped at once. (Waiting for
// the row on every block made 8 MB take minutes.)
TEST(ProxyServer, TunnelWhoseRowIsGoneKeepsItsSpeed) {
  constexpr std::size_t kTunnelBytes = 8u << 20;
  ProxyHarness proxy([](SettingValues& v) { v.LogMax = 1; });

  int target = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(target, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(target, 1), 0);
  socklen_t length = sizeof address;
  ::getsockname(target, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string authority = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  LoopbackClient reader(proxy.Port());
  reader.Send("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
  const std::string established = "HTTP/1.1 200 Connection Established\r\n\r\n";
  ASSERT_EQ(reader.ReadAtLeast(established.size()), established);
  const int upstream = ::accept(target, nullptr, nullptr);
  ASSERT_GE(upstream, 0);

  // A newer request takes the only row (and soon: the tunnel ends after a
  // second without traffic).
  proxy.Ask(Get("www.example.test", "/newer", "Connection: close\r\n"));
  auto tunnelRowGone = [&] {
    for (const LogRow& row : proxy.Shell().Log().Rows()) {
      if (row.cells[3].starts_with(u"CONNECT")) return false;
    }
    return true;
  };
  for (auto deadline = std::chrono::steady_clock::now() + 5s; !tunnelRowGone();) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    std::this_thread::sleep_for(10ms);
  }

  const auto start = std::chrono::steady_clock::now();
  std::thread sender([upstream] {
    const std::string block(64 * 1024, 'x');
    for (std::size_t sent = 0; sent < kTunnelBytes; sent += block.size()) {
      if (::send(upstream, block.data(), block.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(block.size())) break;
    }
  });
  const std::string relayed = reader.ReadAtLeast(kTunnelBytes, 10000);
  const auto took = std::chrono::steady_clock::now() - start;
  sender.join();
  ::close(upstream);
  ::close(target);
  EXPECT_EQ(relayed.size(), kTunnelBytes);
  EXPECT_LT(took, 3s) << "the tunnel waited for a row that is gone";
}

}  // namespace
}  // namespace tav::test
