#include "core/ConnectTunnel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "core/CGateway.h"
#include "platform/TextCodec.h"
#include "support/FakeHttpServer.h"
#include "support/LogRecordingShell.h"
#include "support/ReaderSocketPair.h"

namespace tav {
namespace {

using namespace std::chrono_literals;
using test::FakeHttpServer;
using test::ReaderSocketPair;
using test::ScriptedResponse;

constexpr std::uint32_t kRequestId = 99;
constexpr std::string_view kEstablished = "HTTP/1.1 200 Connection Established\r\n\r\n";

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
    return std::async(std::launch::async, [this] { return HandleConnect(ctx, request, reader.ProxySide(), bytesSent); });
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
  EXPECT_TRUE(reader.Collected().ends_with("short"));
}

TEST_F(ConnectTunnelTest, NameThatDoesNotResolveAnswersNothing) {
  // Not a valid host name: the resolver refuses it without asking any name
  // server, so the test stays on the loopback.
  auto tunnel = Start("no!such!host.invalid:443");
  ASSERT_EQ(tunnel.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(tunnel.get(), -3);
  reader.CloseProxySide();
  EXPECT_EQ(reader.WaitForEnd(5s), "");
  EXPECT_EQ(bytesSent, 0);
}

TEST_F(ConnectTunnelTest, RefusedConnectionAnswersNothing) {
  std::string target;
  {
    FakeHttpServer gone;
    target = gone.Authority();
  }
  auto tunnel = Start(target);
  ASSERT_EQ(tunnel.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(tunnel.get(), -4);
  reader.CloseProxySide();
  EXPECT_EQ(reader.WaitForEnd(5s), "");
}

TEST_F(ConnectTunnelTest, UnusableTargetsAreRefused) {
  for (const char* text : {"CONNECT", "CONNECT \r\n\r\n", "CONNECT hostwithoutport HTTP/1.1\r\n\r\n",
                           "CONNECT host:99999 HTTP/1.1\r\n\r\n", "CONNECT :443 HTTP/1.1\r\n\r\n",
                           "CONNECT host:http HTTP/1.1\r\n\r\n"}) {
    std::int64_t sent = 0;
    EXPECT_EQ(HandleConnect(ctx, text, reader.ProxySide(), sent), -1) << text;
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
