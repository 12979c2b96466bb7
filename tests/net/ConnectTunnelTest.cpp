#include "net/ConnectTunnel.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "net/CGateway.h"
#include "platform/TextCodec.h"
#include "support/FakeHttpServer.h"
#include "support/LogRecordingShell.h"
#include "support/ParsedRequest.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"
#include "support/ReaderSocketPair.h"

namespace tav {
namespace {
using test::Parsed;

using namespace std::chrono_literals;
using test::FakeHttpServer;
using test::ReaderSocketPair;
using test::ScriptedResponse;

constexpr std::uint32_t kRequestId = 99;
constexpr std::string_view kEstablished = "HTTP/1.1 200 Connection Established\r\n\r\n";
constexpr std::string_view kBadGateway = "HTTP/1.1 502 Bad Gateway\r\n";

class ConnectTunnelTest : public ::testing::Test {
 protected:
  ConnectTunnelTest() {
    ctx.cfg = std::make_shared<const SettingValues>();
    ctx.shell = &shell;
    ctx.requestId = kRequestId;
    ctx.readerSocket = reader.ProxySide();
    reader.StartCollecting();
  }

  // Runs the tunnel on a thread of its own, as a connection worker would.
  std::future<int> Start(const std::string& target) {
    request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n";
    return std::async(std::launch::async, [this] {
      const RouteResult result = HandleConnect(ctx, Parsed(request), RouteOptions{});
      bytesSent = result.bytesSent;
      return result.Ok() ? 0 : result.code;
    });
  }

  std::int64_t Count(int column) const {
    const auto cell = shell.Cell(kRequestId, column);
    return cell ? std::stoll(Utf16ToUtf8(*cell)) : -1;
  }

  test::LogRecordingShell shell;
  ReaderSocketPair reader;
  CGateway ctx;
  std::string request;
  std::int64_t bytesSent = 0;
};

TEST_F(ConnectTunnelTest, RelaysBothWaysCountsAndEndsAfterOneSilentSecond) {
  FakeHttpServer server;  // any port: the target names it
  server.Enqueue(ScriptedResponse::Ok(std::string(10000, 'r')));
  auto tunnel = Start(server.Authority());
  ASSERT_TRUE(reader.WaitForText(kEstablished, 5s));

  const std::string payload = "GET /through HTTP/1.1\r\nHost: " + server.Authority() + "\r\n\r\n";
  reader.SendFromReader(payload);
  const std::string answer = ScriptedResponse::Ok(std::string(10000, 'r')).Wire();
  ASSERT_TRUE(reader.WaitForBytes(kEstablished.size() + answer.size(), 5s));
  const auto quietFrom = std::chrono::steady_clock::now();

  ASSERT_EQ(tunnel.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(tunnel.get(), 0);
  const auto quietFor = std::chrono::steady_clock::now() - quietFrom;
  EXPECT_GE(quietFor, 800ms);
  EXPECT_LT(quietFor, 3s);

  EXPECT_EQ(reader.Collected(), std::string(kEstablished) + answer);
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].raw, payload);
  EXPECT_EQ(bytesSent, static_cast<std::int64_t>(payload.size()));
  EXPECT_EQ(Count(7), static_cast<std::int64_t>(payload.size()));
  EXPECT_EQ(Count(6), static_cast<std::int64_t>(answer.size()));
  // Column 6 grew block by block (at most 4095 bytes each).
  const auto history = shell.ColumnHistory(kRequestId, 6);
  EXPECT_GE(history.size(), answer.size() / 4095 + 1);

  // The upstream connection is closed; the reader's stays open.
  EXPECT_TRUE(server.WaitForClosedConnections(1, 5s));
  EXPECT_FALSE(reader.Ended());
}

TEST_F(ConnectTunnelTest, EndsWhenTheServerCloses) {
  FakeHttpServer server;
  ScriptedResponse closing = ScriptedResponse::Ok("short");
  closing.closeConnection = true;
  server.Enqueue(closing);
  auto tunnel = Start(server.Authority());
  ASSERT_TRUE(reader.WaitForText(kEstablished, 5s));
  reader.SendFromReader("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  // The server's close ends the relay at once, well before the idle second.
  ASSERT_EQ(tunnel.wait_for(900ms), std::future_status::ready);
  EXPECT_EQ(tunnel.get(), 0);
  // The relayed answer may still be on its way through the reader's socket.
  EXPECT_TRUE(reader.WaitForText("short", 2s)) << reader.Collected();
}

TEST_F(ConnectTunnelTest, ServerThatStopsReadingDoesNotHoldTheWorker) {
  // A listener that never accepts: the kernel completes the connection, but
  // nobody reads, so the tunnel's sends to it soon find no room.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

  ctx.cfg = [] {
    auto values = std::make_shared<SettingValues>();
    values->ReceiveTimeOut = 1000;
    return values;
  }();
  std::atomic<bool> cancel{false};
  ctx.cancel = &cancel;
  auto tunnel = Start("127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
  ASSERT_TRUE(reader.WaitForText(kEstablished, 5s));
  std::thread flood([&] {
    const std::string block(1 << 20, 'f');
    for (int i = 0; i < 64 && !cancel; ++i) {
      if (::send(reader.ReaderSide(), block.data(), block.size(), MSG_NOSIGNAL) <= 0) break;
    }
  });
  std::this_thread::sleep_for(1500ms);
  cancel = true;  // the server shuts down
  const bool ended = tunnel.wait_for(5s) == std::future_status::ready;
  ::close(listener);  // frees a tunnel stuck in a blocking send, so that a failure cannot hang the test
  reader.ShutdownReaderSending();
  ::shutdown(reader.ReaderSide(), SHUT_RDWR);
  flood.join();
  EXPECT_TRUE(ended);
  EXPECT_EQ(tunnel.get(), 0);
  EXPECT_GT(bytesSent, 0);
}

TEST_F(ConnectTunnelTest, NameThatDoesNotResolveIsAnsweredBadGateway) {
  // Not a valid host name: the resolver refuses it without asking any name
  // server, so the test stays on the loopback.
  auto tunnel = Start("no!such!host.invalid:443");
  ASSERT_EQ(tunnel.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(tunnel.get(), kCodeFailed);
  reader.CloseProxySide();
  const auto answer = test::HttpAnswer::Split(reader.WaitForEnd(5s));
  EXPECT_TRUE(answer.head.starts_with(kBadGateway)) << answer.head;
  EXPECT_NE(answer.body.find("no!such!host.invalid:443"), std::string::npos) << answer.body;
  EXPECT_TRUE(ctx.closeAfter);
  EXPECT_EQ(bytesSent, 0);
}

TEST_F(ConnectTunnelTest, RefusedConnectionIsAnsweredBadGateway) {
  std::string target;
  {
    FakeHttpServer gone;
    target = gone.Authority();
  }
  auto tunnel = Start(target);
  ASSERT_EQ(tunnel.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(tunnel.get(), kCodeFailed);
  reader.CloseProxySide();
  const auto answer = test::HttpAnswer::Split(reader.WaitForEnd(5s));
  EXPECT_TRUE(answer.head.starts_with(kBadGateway)) << answer.head;
  EXPECT_EQ(answer.Header("Connection"), "close");
  EXPECT_NE(answer.body.find(target), std::string::npos) << answer.body;
  EXPECT_TRUE(ctx.closeAfter);
}

TEST(ConnectRelay, EndsWhenTheReaderStopsTakingBytesAndCountsWhatPassed) {
  constexpr std::size_t kFlood = 8 << 20;  // far more than the sockets between can hold
  constexpr int kSmallBuffer = 64 * 1024;
  FakeHttpServer server;
  const std::string wire = ScriptedResponse::Ok(std::string(kFlood, 'f')).Wire();
  server.Enqueue(ScriptedResponse::Raw(wire, false));
  ReaderSocketPair reader;  // read only after the relay has ended
  ::setsockopt(reader.ReaderSide(), SOL_SOCKET, SO_RCVBUF, &kSmallBuffer, sizeof kSmallBuffer);
  ::setsockopt(reader.ProxySide(), SOL_SOCKET, SO_SNDBUF, &kSmallBuffer, sizeof kSmallBuffer);
  test::LogRecordingShell shell;
  std::atomic<bool> cancel{false};
  CGateway ctx;
  ctx.cfg = [] {
    auto values = std::make_shared<SettingValues>();
    values->ReceiveTimeOut = 1000;
    return values;
  }();
  ctx.shell = &shell;
  ctx.requestId = kRequestId;
  ctx.cancel = &cancel;
  ctx.readerSocket = reader.ProxySide();
  std::int64_t sent = 0;
  const std::string request = "CONNECT " + server.Authority() + " HTTP/1.1\r\n\r\n";
  reader.SendFromReader("GET /flood HTTP/1.1\r\nHost: x\r\n\r\n");
  auto tunnel = std::async(std::launch::async, [&] {
    const RouteResult result = HandleConnect(ctx, Parsed(request), RouteOptions{});
    sent = result.bytesSent;
    return result.Ok() ? 0 : result.code;
  });
  const bool ended = tunnel.wait_for(10s) == std::future_status::ready;
  cancel = true;  // frees a tunnel that did not end, so that a failure cannot hang the test
  ASSERT_TRUE(ended);
  EXPECT_EQ(tunnel.get(), 0);

  reader.StartCollecting();
  reader.CloseProxySide();
  const std::string got = reader.WaitForEnd(5s);
  const auto cell = shell.Cell(kRequestId, 6);
  ASSERT_TRUE(cell.has_value());
  const auto passed = static_cast<std::size_t>(std::stoll(Utf16ToUtf8(*cell)));
  EXPECT_LT(passed, wire.size()) << "the relay ended early";
  EXPECT_EQ(got.size(), kEstablished.size() + passed) << "the count is what the reader can read";
  EXPECT_TRUE(got == std::string(kEstablished) + wire.substr(0, passed)) << "no hole in the stream";
}

TEST_F(ConnectTunnelTest, UnusableTargetsAreRefused) {
  for (const char* text : {"CONNECT", "CONNECT \r\n\r\n", "CONNECT hostwithoutport HTTP/1.1\r\n\r\n",
                           "CONNECT host:99999 HTTP/1.1\r\n\r\n", "CONNECT :443 HTTP/1.1\r\n\r\n",
                           "CONNECT host:http HTTP/1.1\r\n\r\n"}) {
    EXPECT_EQ(HandleConnect(ctx, Parsed(text), RouteOptions{}).code, kCodeFailed) << text;
  }
  reader.CloseProxySide();
  EXPECT_EQ(reader.WaitForEnd(5s), "");
}

TEST_F(ConnectTunnelTest, UrlTargetsNameTheirHostAndPort) {
  FakeHttpServer server;
  auto tunnel = Start("http://" + server.Authority() + "/");
  ASSERT_TRUE(reader.WaitForText(kEstablished, 5s));
  ASSERT_EQ(tunnel.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(tunnel.get(), 0);
  EXPECT_EQ(server.ConnectionCount(), 1u);
}

}  // namespace
}  // namespace tav

// ---------------------------------------------------------------------------
// Through the whole proxy: reader -> listener and worker -> tunnel -> server.

namespace tav::test {
namespace {

using namespace std::chrono_literals;

TEST(ConnectViaProxy, RelayIsCountedInTheLogRow) {
  FakeHttpServer server;
  const ScriptedResponse answer = ScriptedResponse::Ok(std::string(9000, 't'));
  server.Enqueue(answer);
  ProxyHarness proxy;
  LoopbackClient reader(proxy.Port());
  reader.Send("CONNECT " + server.Authority() + " HTTP/1.1\r\nHost: " + server.Authority() + "\r\n\r\n");
  ASSERT_EQ(reader.ReadAtLeast(kEstablished.size()), kEstablished);
  const std::string payload = "GET /t HTTP/1.1\r\nHost: x\r\n\r\n";
  reader.Send(payload);
  EXPECT_EQ(reader.ReadAtLeast(answer.Wire().size()), answer.Wire());
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(1, 5000));
  const auto row = proxy.Shell().FinishedRows()[0];
  EXPECT_EQ(row.cells[4], u"SSL");
  EXPECT_EQ(row.cells[6], Utf8ToUtf16(std::to_string(answer.Wire().size())));
  EXPECT_EQ(row.cells[7], Utf8ToUtf16(std::to_string(payload.size())));
  EXPECT_TRUE(server.WaitForClosedConnections(1, 5s));
}

}  // namespace
}  // namespace tav::test
