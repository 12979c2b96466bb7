#include "net/UpstreamClient.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/CGateway.h"
#include "platform/TextCodec.h"
#include "support/FakeHttpServer.h"
#include "support/LogRecordingShell.h"
#include "support/ReaderSocketPair.h"
#include "support/ScopedEnvironment.h"
#include "support/TestCertificateAuthority.h"

namespace tav {
namespace {

using namespace std::chrono_literals;
using test::FakeHttpServer;
using test::ReaderSocketPair;
using test::ScriptedResponse;

constexpr std::uint32_t kRequestId = 4242;

class UpstreamClientTest : public ::testing::Test {
 protected:
  UpstreamClientTest() { env.ClearProxyAndCaVariables(); }

  CGateway Context() {
    CGateway ctx;
    ctx.cfg = std::make_shared<const SettingValues>(values);
    ctx.shell = &shell;
    ctx.requestId = kRequestId;
    return ctx;
  }

  static FetchRequest Get(const std::string& url) {
    FetchRequest request;
    request.url = url;
    request.acceptType = "Accept: */*";
    return request;
  }

  SettingValues values;
  test::LogRecordingShell shell;
  test::ScopedEnvironment env;
};

std::string Narrow(const std::string& text) { return text; }

// ---------------------------------------------------------------------------
// What the server receives

TEST_F(UpstreamClientTest, SendsExactlyTheCallersLinesAndNoneOfCurlsOwn) {
  FakeHttpServer server;
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/test/read.cgi/board/123/?v=1"));
  request.agent = "TestAgent/1.0";
  request.headerLines = "X-One: 1\r\nCookie: a=b; c=d\r\n";
  ASSERT_TRUE(FetchUrl(ctx, request, nullptr, nullptr));

  const auto received = server.Requests();
  ASSERT_EQ(received.size(), 1u);
  const auto& got = received[0];
  EXPECT_EQ(got.requestLine, "GET /test/read.cgi/board/123/?v=1 HTTP/1.1");
  EXPECT_EQ(got.Header("User-Agent"), "TestAgent/1.0");
  EXPECT_EQ(got.Header("X-One"), "1");
  EXPECT_EQ(got.Header("Cookie"), "a=b; c=d");
  EXPECT_EQ(got.Header("Accept"), "*/*");
  EXPECT_EQ(got.HeaderCount("Accept"), 1u);
  EXPECT_EQ(got.Header("Host"), server.Authority());
  // Nothing else: no Accept-Encoding (bodies are not decoded), no Expect, no
  // Content-Type, no Proxy-Connection.
  EXPECT_EQ(got.headers.size(), 5u) << got.head;
}

TEST_F(UpstreamClientTest, WithoutAgentNoUserAgentLineIsSent) {
  FakeHttpServer server;
  auto ctx = Context();
  ASSERT_TRUE(FetchUrl(ctx, Get(server.Url("/")), nullptr, nullptr));
  EXPECT_EQ(server.Requests().at(0).HeaderCount("User-Agent"), 0u);
}

TEST_F(UpstreamClientTest, AcceptLineOfTheCallerWinsOverTheAcceptType) {
  FakeHttpServer server;
  auto ctx = Context();
  FetchRequest withLine = Get(server.Url("/a"));
  withLine.headerLines = "Accept: text/html\r\n";
  ASSERT_TRUE(FetchUrl(ctx, withLine, nullptr, nullptr));

  FetchRequest bareType = Get(server.Url("/b"));
  bareType.acceptType = "text/html, application/xhtml+xml, */*";
  ASSERT_TRUE(FetchUrl(ctx, bareType, nullptr, nullptr));

  FetchRequest none = Get(server.Url("/c"));
  none.acceptType.clear();
  ASSERT_TRUE(FetchUrl(ctx, none, nullptr, nullptr));

  const auto received = server.Requests();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].HeaderCount("Accept"), 1u);
  EXPECT_EQ(received[0].Header("Accept"), "text/html");
  EXPECT_EQ(received[1].Header("Accept"), "text/html, application/xhtml+xml, */*");
  EXPECT_EQ(received[2].HeaderCount("Accept"), 0u);
}

TEST_F(UpstreamClientTest, PostBodyIsSentByItsLengthWithTheRealContentLength) {
  FakeHttpServer server;
  auto ctx = Context();
  std::string body = "bbs=board&key=123&MESSAGE=";
  body += std::string("a\0b", 3);
  body += std::string(3000, 'x');  // long enough for curl to want "Expect: 100-continue"
  FetchRequest request = Get(server.Url("/test/bbs.cgi"));
  request.method = "POST";
  request.body = body;
  request.headerLines = "Content-Length: 99999\r\nReferer: http://example.test/\r\n";
  ASSERT_TRUE(FetchUrl(ctx, request, nullptr, nullptr));

  const auto got = server.Requests().at(0);
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.body, body);
  EXPECT_EQ(got.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(got.HeaderCount("Content-Length"), 1u);
  EXPECT_EQ(got.HeaderCount("Content-Type"), 0u);  // the caller decides about it
  EXPECT_EQ(got.HeaderCount("Expect"), 0u);
  EXPECT_EQ(got.Header("Referer"), "http://example.test/");
}

TEST_F(UpstreamClientTest, CallersContentTypeIsSentOnce) {
  FakeHttpServer server;
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/post"));
  request.method = "POST";
  request.body = "a=1";
  request.headerLines = "Content-Type: application/x-www-form-urlencoded\r\n";
  ASSERT_TRUE(FetchUrl(ctx, request, nullptr, nullptr));
  const auto got = server.Requests().at(0);
  EXPECT_EQ(got.HeaderCount("Content-Type"), 1u);
  EXPECT_EQ(got.Header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(UpstreamClientTest, PostWithoutBodyDeclaresAnEmptyBody) {
  FakeHttpServer server;
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/post"));
  request.method = "POST";
  request.headerLines = "Content-Length: 12\r\n";
  ASSERT_TRUE(FetchUrl(ctx, request, nullptr, nullptr));
  const auto got = server.Requests().at(0);
  EXPECT_EQ(got.Header("Content-Length"), "0");
  EXPECT_TRUE(got.body.empty());
}

TEST_F(UpstreamClientTest, EmptyHeaderValuesAndBlankLinesOfTheCaller) {
  FakeHttpServer server;
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/"));
  // A blank line in the middle (the pass-through appends after its block's
  // blank line) and a header with an empty value.
  request.headerLines = "X-Empty: \r\n\r\nX-After: yes\r\n";
  ASSERT_TRUE(FetchUrl(ctx, request, nullptr, nullptr));
  const auto got = server.Requests().at(0);
  EXPECT_EQ(got.HeaderCount("X-Empty"), 1u);
  EXPECT_EQ(got.Header("X-Empty"), "");
  EXPECT_EQ(got.Header("X-After"), "yes");
}

TEST_F(UpstreamClientTest, OtherMethodsUseTheirOwnRequestLine) {
  FakeHttpServer server;
  auto ctx = Context();
  FetchRequest head = Get(server.Url("/h"));
  head.method = "HEAD";
  FetchResponse headResponse;
  ASSERT_TRUE(FetchUrl(ctx, head, &headResponse, nullptr));
  EXPECT_TRUE(headResponse.body.empty());

  server.Enqueue(ScriptedResponse::Raw("HTTP/1.1 200 Connection Established\r\nContent-Length: 0\r\n\r\n"));
  FetchRequest connect = Get(server.Url("/"));
  connect.method = "CONNECT";
  ASSERT_TRUE(FetchUrl(ctx, connect, nullptr, nullptr));

  const auto received = server.Requests();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].requestLine, "HEAD /h HTTP/1.1");
  EXPECT_EQ(received[1].requestLine, "CONNECT " + server.Authority() + " HTTP/1.1");
}

// ---------------------------------------------------------------------------
// What the caller and the reader receive

TEST_F(UpstreamClientTest, CollectsHeadersAndBodyAndCountsTheSize) {
  FakeHttpServer server;
  server.Enqueue(ScriptedResponse::Ok("hello world", "text/plain"));
  auto ctx = Context();
  FetchResponse response;
  std::int64_t size = -1;
  ASSERT_TRUE(FetchUrl(ctx, Get(server.Url("/x")), &response, &size));

  const std::string headers = Narrow(response.headers);
  EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 11\r\n\r\n");
  EXPECT_EQ(response.body, "hello world");
  EXPECT_EQ(size, static_cast<std::int64_t>(Cp932ToUtf16(response.headers).size() * 2 + 11));
  EXPECT_EQ(size, response.Size());
  EXPECT_EQ(ctx.errorDetail, 0u);
  EXPECT_EQ(ctx.closeAfter, false);
}

TEST_F(UpstreamClientTest, LogFlagShowsConnectingAndTheFinalSize) {
  FakeHttpServer server;
  server.Enqueue(ScriptedResponse::Ok("12345"));
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/"));
  request.logFlag = true;
  std::int64_t size = 0;
  ASSERT_TRUE(FetchUrl(ctx, request, nullptr, &size));
  EXPECT_EQ(shell.ColumnHistory(kRequestId, 5), std::vector<std::u16string>{u"接続中..."});
  const auto sizes = shell.ColumnHistory(kRequestId, 6);
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[0], u"0");
  EXPECT_EQ(sizes[1], Utf8ToUtf16(std::to_string(size)));
  EXPECT_GT(size, 5);

  FetchRequest quiet = Get(server.Url("/"));
  auto quietCtx = Context();
  quietCtx.requestId = kRequestId + 1;
  ASSERT_TRUE(FetchUrl(quietCtx, quiet, nullptr, nullptr));
  EXPECT_TRUE(shell.ColumnHistory(kRequestId + 1, 6).empty());
}

TEST_F(UpstreamClientTest, StreamsToTheReaderAndCollectsAtTheSameTime) {
  FakeHttpServer server;
  const std::string body(100000, 'b');
  server.Enqueue(ScriptedResponse::Ok(body, "application/octet-stream"));
  ReaderSocketPair reader;
  reader.StartCollecting();
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/big"));
  request.readerSocket = reader.ProxySide();
  FetchResponse response;
  std::int64_t size = 0;
  ASSERT_TRUE(FetchUrl(ctx, request, &response, &size));
  reader.CloseProxySide();
  const std::string streamed = reader.WaitForEnd(5s);
  EXPECT_EQ(streamed, Narrow(response.headers) + body);
  EXPECT_EQ(response.body, body);
  EXPECT_EQ(size, response.Size());
}

TEST_F(UpstreamClientTest, ChunkedAnswerIsStreamedDechunkedWithTheEncodingLineMarked) {
  FakeHttpServer server;
  std::string body;
  for (int i = 0; i < 200; ++i) body += "line " + std::to_string(i) + "\n";
  ScriptedResponse answer = ScriptedResponse::Ok(body, "text/html");
  answer.framing = ScriptedResponse::Framing::kChunked;
  answer.chunkSize = 97;
  server.Enqueue(answer);
  ReaderSocketPair reader;
  reader.StartCollecting();
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/chunked"));
  request.readerSocket = reader.ProxySide();
  FetchResponse response;
  ASSERT_TRUE(FetchUrl(ctx, request, &response, nullptr));
  reader.CloseProxySide();
  const std::string streamed = reader.WaitForEnd(5s);

  const std::string expectedHead = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nxransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(streamed, expectedHead + body);
  EXPECT_EQ(Narrow(response.headers), expectedHead);
  EXPECT_EQ(response.body, body);
}

TEST_F(UpstreamClientTest, TrailersOfAChunkedAnswerAreNotMistakenForHeaders) {
  FakeHttpServer server;
  server.Enqueue(ScriptedResponse::Raw(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\nX-Trailer: t\r\n\r\n", false));
  auto ctx = Context();
  FetchResponse response;
  ASSERT_TRUE(FetchUrl(ctx, Get(server.Url("/")), &response, nullptr));
  EXPECT_EQ(Narrow(response.headers), "HTTP/1.1 200 OK\r\nxransfer-Encoding: chunked\r\n\r\n");
  EXPECT_EQ(response.body, "abc");
}

TEST_F(UpstreamClientTest, GzipBodyArrivesAsTheServerSentIt) {
  FakeHttpServer server;
  ScriptedResponse answer = ScriptedResponse::Ok(std::string(5000, 'z') + "end", "text/html");
  answer.gzip = true;
  server.Enqueue(answer);
  auto ctx = Context();
  FetchResponse response;
  ASSERT_TRUE(FetchUrl(ctx, Get(server.Url("/gz")), &response, nullptr));
  EXPECT_EQ(response.body, answer.WireBody());
  EXPECT_EQ(response.body.substr(0, 4), std::string("\x1f\x8b\x08\x00", 4));
  EXPECT_NE(Narrow(response.headers).find("Content-Encoding: gzip\r\n"), std::string::npos);
  EXPECT_EQ(server.Requests().at(0).HeaderCount("Accept-Encoding"), 0u);
}

TEST_F(UpstreamClientTest, ConnectionCloseFromTheServerSetsTheCloseFlag) {
  FakeHttpServer server;
  ScriptedResponse closing = ScriptedResponse::Ok("bye");
  closing.closeConnection = true;
  server.Enqueue(closing);
  auto ctx = Context();
  ASSERT_TRUE(FetchUrl(ctx, Get(server.Url("/")), nullptr, nullptr));
  EXPECT_EQ(ctx.closeAfter, true);

  auto keepCtx = Context();
  ASSERT_TRUE(FetchUrl(keepCtx, Get(server.Url("/")), nullptr, nullptr));
  EXPECT_EQ(keepCtx.closeAfter, false);
}

TEST_F(UpstreamClientTest, RedirectIsReturnedNotFollowed) {
  FakeHttpServer server;
  server.Enqueue(ScriptedResponse::Status(302, "Found", {{"Location", server.Url("/elsewhere")}}, "moved"));
  ReaderSocketPair reader;
  reader.StartCollecting();
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/old"));
  request.readerSocket = reader.ProxySide();
  FetchResponse response;
  ASSERT_TRUE(FetchUrl(ctx, request, &response, nullptr));
  reader.CloseProxySide();
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(Narrow(response.headers).rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
  EXPECT_EQ(response.body, "moved");
  EXPECT_EQ(reader.WaitForEnd(5s).rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
}

TEST_F(UpstreamClientTest, InterimAnswerIsNotPartOfTheHeaderBlock) {
  FakeHttpServer server;
  ScriptedResponse answer = ScriptedResponse::Ok("final");
  answer.interim = "HTTP/1.1 100 Continue\r\n\r\n";
  server.Enqueue(answer);
  ReaderSocketPair reader;
  reader.StartCollecting();
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/"));
  request.method = "POST";
  request.body = "x=1";
  request.readerSocket = reader.ProxySide();
  FetchResponse response;
  ASSERT_TRUE(FetchUrl(ctx, request, &response, nullptr));
  reader.CloseProxySide();
  EXPECT_EQ(Narrow(response.headers).rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(reader.WaitForEnd(5s), Narrow(response.headers) + "final");
}

TEST_F(UpstreamClientTest, LongHeaderBlockReachesTheReaderWhole) {
  FakeHttpServer server;
  const std::string longValue(6000, 'v');
  server.Enqueue(ScriptedResponse::Status(200, "OK", {{"Set-Cookie", "big=" + longValue}}, "body"));
  values.RecvBufferSize = 4096;
  ReaderSocketPair reader;
  reader.StartCollecting();
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/"));
  request.readerSocket = reader.ProxySide();
  std::int64_t size = 0;
  ASSERT_TRUE(FetchUrl(ctx, request, nullptr, &size));
  reader.CloseProxySide();
  const std::string streamed = reader.WaitForEnd(5s);
  EXPECT_EQ(streamed.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_NE(streamed.find("Set-Cookie: big=" + longValue + "\r\n"), std::string::npos);
  EXPECT_TRUE(streamed.ends_with("\r\n\r\nbody"));
  EXPECT_EQ(size, static_cast<std::int64_t>((streamed.size() - 4) * 2 + 4));
}

TEST_F(UpstreamClientTest, HeaderBytesReachTheReaderUnchanged) {
  FakeHttpServer server;
  // A UTF-8 file name and a Shift_JIS value: the reader gets the server's bytes.
  const std::string utf8Name = "caf\xC3\xA9.txt";
  const std::string sjisValue = Sjis("板");
  server.Enqueue(ScriptedResponse::Status(200, "OK", {{"X-File", utf8Name}, {"X-Board", sjisValue}}, "b"));
  ReaderSocketPair reader;
  reader.StartCollecting();
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/"));
  request.readerSocket = reader.ProxySide();
  FetchResponse response;
  ASSERT_TRUE(FetchUrl(ctx, request, &response, nullptr));
  reader.CloseProxySide();
  const std::string streamed = reader.WaitForEnd(5s);
  EXPECT_NE(streamed.find("X-File: " + utf8Name + "\r\n"), std::string::npos);
  EXPECT_NE(streamed.find("X-Board: " + sjisValue + "\r\n"), std::string::npos);
  EXPECT_NE(response.headers.find("X-Board: " + sjisValue + "\r\n"), std::string::npos);
}

TEST_F(UpstreamClientTest, RequestsOfOneWorkerReuseTheServerConnection) {
  FakeHttpServer server;
  ScriptedResponse closing = ScriptedResponse::Ok("last");
  closing.closeConnection = true;
  server.Enqueue(ScriptedResponse::Ok("one"));
  server.Enqueue(closing);
  server.Enqueue(ScriptedResponse::Ok("three"));
  auto ctx = Context();
  FetchResponse response;
  ASSERT_TRUE(FetchUrl(ctx, Get(server.Url("/1")), &response, nullptr));
  ASSERT_TRUE(FetchUrl(ctx, Get(server.Url("/2")), &response, nullptr));
  EXPECT_EQ(server.ConnectionCount(), 1u);
  ASSERT_TRUE(FetchUrl(ctx, Get(server.Url("/3")), &response, nullptr));
  EXPECT_EQ(response.body, "three");
  EXPECT_EQ(server.ConnectionCount(), 2u);  // the server had closed the first one
  // Another worker thread has connections of its own.
  std::thread other([&] {
    auto otherCtx = Context();
    EXPECT_TRUE(FetchUrl(otherCtx, Get(server.Url("/4")), nullptr, nullptr));
  });
  other.join();
  EXPECT_EQ(server.ConnectionCount(), 3u);
}

// ---------------------------------------------------------------------------
// Failures

TEST_F(UpstreamClientTest, BadUrlFailsBeforeAnythingHappens) {
  auto ctx = Context();
  for (const char* url : {"ftp://127.0.0.1/x", "no scheme at all", "/just/a/path", "http://"}) {
    FetchRequest request = Get(url);
    request.logFlag = true;
    std::int64_t size = 7;
    EXPECT_FALSE(FetchUrl(ctx, request, nullptr, &size)) << url;
    EXPECT_EQ(size, 0);
    EXPECT_EQ(ctx.errorDetail, static_cast<std::uint32_t>(CURLE_URL_MALFORMAT)) << url;
  }
  EXPECT_TRUE(shell.Writes().empty());
}

TEST_F(UpstreamClientTest, RefusedConnectionFailsWithTheErrorAndSendsNothing) {
  std::string url;
  {
    FakeHttpServer gone;
    url = gone.Url("/");
  }  // the port is free again: connecting is refused
  ReaderSocketPair reader;
  reader.StartCollecting();
  auto ctx = Context();
  FetchRequest request = Get(url);
  request.readerSocket = reader.ProxySide();
  request.logFlag = true;
  FetchResponse response;
  std::int64_t size = 0;
  EXPECT_FALSE(FetchUrl(ctx, request, &response, &size));
  EXPECT_EQ(ctx.errorDetail, static_cast<std::uint32_t>(CURLE_COULDNT_CONNECT));
  EXPECT_EQ(size, 0);
  EXPECT_TRUE(response.headers.empty());
  EXPECT_EQ(shell.Cell(kRequestId, 6), u"0");
  reader.CloseProxySide();
  EXPECT_EQ(reader.WaitForEnd(5s), "");
}

TEST_F(UpstreamClientTest, ServerThatStallsMidBodyEndsByTheReceiveTimeout) {
  FakeHttpServer server;
  ScriptedResponse stalling = ScriptedResponse::Ok(std::string(1000, 's'));
  stalling.stallAfterBytes = 200;  // the head and the start of the body
  server.Enqueue(stalling);
  values.ReceiveTimeOut = 1000;
  ReaderSocketPair reader;
  reader.StartCollecting();
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/"));
  request.readerSocket = reader.ProxySide();
  const auto start = std::chrono::steady_clock::now();
  std::atomic<bool> ended{false};
  std::thread fetch([&] {
    EXPECT_FALSE(FetchUrl(ctx, request, nullptr, nullptr));
    ended = true;
  });
  // What came is passed on at once, not when the transfer ends.
  EXPECT_TRUE(reader.WaitForBytes(200, 800ms));
  EXPECT_FALSE(ended);
  fetch.join();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 4s);
  EXPECT_EQ(ctx.errorDetail, static_cast<std::uint32_t>(CURLE_ABORTED_BY_CALLBACK));
  reader.CloseProxySide();
  const std::string streamed = reader.WaitForEnd(5s);
  EXPECT_EQ(streamed, stalling.Wire().substr(0, 200));
}

TEST_F(UpstreamClientTest, SilentServerEndsByTheReceiveTimeoutWithNothingSent) {
  FakeHttpServer server;
  server.Enqueue(ScriptedResponse::Silence());
  values.ReceiveTimeOut = 1000;
  ReaderSocketPair reader;
  reader.StartCollecting();
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/"));
  request.readerSocket = reader.ProxySide();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(FetchUrl(ctx, request, nullptr, nullptr));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  reader.CloseProxySide();
  EXPECT_EQ(reader.WaitForEnd(5s), "");
}

TEST_F(UpstreamClientTest, CancelEndsAWaitingTransferPromptly) {
  FakeHttpServer server;
  server.Enqueue(ScriptedResponse::Silence());
  values.ReceiveTimeOut = 60000;
  std::atomic<bool> cancel{false};
  auto ctx = Context();
  ctx.cancel = &cancel;
  std::thread canceller([&] {
    std::this_thread::sleep_for(200ms);
    cancel = true;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(FetchUrl(ctx, Get(server.Url("/")), nullptr, nullptr));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  canceller.join();
}

TEST_F(UpstreamClientTest, ReaderThatStopsReadingEndsTheTransfer) {
  FakeHttpServer server;
  const std::string body(8 * 1024 * 1024, 'r');  // far more than the shrunk socket buffers hold
  server.Enqueue(ScriptedResponse::Ok(body, "application/octet-stream"));
  values.ReceiveTimeOut = 1000;
  ReaderSocketPair reader;  // never read
  const int small = 4096;
  ::setsockopt(reader.ReaderSide(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ::setsockopt(reader.ProxySide(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/"));
  request.readerSocket = reader.ProxySide();
  std::int64_t size = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(FetchUrl(ctx, request, nullptr, &size)) << ctx.errorDetail;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_GT(size, 0);
  EXPECT_LT(size, static_cast<std::int64_t>(body.size()));
}

// ---------------------------------------------------------------------------
// Proxy modes

class ProxyModeTest : public UpstreamClientTest {
 protected:
  FakeHttpServer origin;
  FakeHttpServer proxy;
};

TEST_F(ProxyModeTest, DirectModeIgnoresTheProxyEnvironment) {
  env.Set("http_proxy", proxy.Url(""));
  env.Set("HTTP_PROXY", proxy.Url(""));
  env.Set("all_proxy", proxy.Url(""));
  values.ProxyMode = 0;
  auto ctx = Context();
  ASSERT_TRUE(FetchUrl(ctx, Get(origin.Url("/direct")), nullptr, nullptr));
  EXPECT_EQ(origin.RequestCount(), 1u);
  EXPECT_EQ(proxy.RequestCount(), 0u);
}

TEST_F(ProxyModeTest, SystemModeFollowsTheEnvironment) {
  env.Set("http_proxy", proxy.Url(""));
  values.ProxyMode = 1;
  auto ctx = Context();
  ASSERT_TRUE(FetchUrl(ctx, Get(origin.Url("/via")), nullptr, nullptr));
  ASSERT_EQ(proxy.RequestCount(), 1u);
  EXPECT_EQ(proxy.Requests()[0].target, origin.Url("/via"));
  EXPECT_EQ(origin.RequestCount(), 0u);

  env.Set("no_proxy", "127.0.0.1");
  ASSERT_TRUE(FetchUrl(ctx, Get(origin.Url("/bypass")), nullptr, nullptr));
  EXPECT_EQ(origin.RequestCount(), 1u);
  EXPECT_EQ(proxy.RequestCount(), 1u);
}

TEST_F(ProxyModeTest, NamedProxyCarriesEveryRequest) {
  env.Set("no_proxy", "*");
  values.ProxyMode = 2;
  values.Proxy = CDoubleString::FromUtf8(proxy.Authority());
  auto ctx = Context();
  FetchRequest request = Get("http://board.5ch.net/test/read.cgi/x/1/");
  request.headerLines = "Host: board.5ch.net\r\n";
  ASSERT_TRUE(FetchUrl(ctx, request, nullptr, nullptr));
  ASSERT_EQ(proxy.RequestCount(), 1u);
  const auto got = proxy.Requests()[0];
  EXPECT_EQ(got.requestLine, "GET http://board.5ch.net/test/read.cgi/x/1/ HTTP/1.1");
  EXPECT_EQ(got.HeaderCount("Host"), 1u);
  EXPECT_EQ(got.Header("Host"), "board.5ch.net");
}

TEST_F(ProxyModeTest, NamedModeWithoutProxyConnectsDirectly) {
  env.Set("http_proxy", proxy.Url(""));
  values.ProxyMode = 2;
  values.Proxy = CDoubleString();
  auto ctx = Context();
  ASSERT_TRUE(FetchUrl(ctx, Get(origin.Url("/")), nullptr, nullptr));
  EXPECT_EQ(origin.RequestCount(), 1u);
  EXPECT_EQ(proxy.RequestCount(), 0u);
}

TEST_F(ProxyModeTest, HttpsThroughTheProxyKeepsItsConnectAnswerOutOfTheHeaders) {
  FakeHttpServer tunnellingProxy(FakeHttpServer::Options{.tls = false, .acceptConnect = true});
  tunnellingProxy.Enqueue(ScriptedResponse::Ok("secret"));
  env.Set("SSL_CERT_FILE", test::TestCertificateAuthority::Instance().CaFile());
  values.ProxyMode = 2;
  values.Proxy = CDoubleString::FromUtf8(tunnellingProxy.Authority());
  auto ctx = Context();
  FetchResponse response;
  ASSERT_TRUE(FetchUrl(ctx, Get("https://board.5ch.net/x"), &response, nullptr)) << ctx.errorDetail;
  EXPECT_EQ(Narrow(response.headers).rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(Narrow(response.headers).find("Established"), std::string::npos);
  EXPECT_EQ(response.body, "secret");
  const auto received = tunnellingProxy.Requests();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].requestLine, "CONNECT board.5ch.net:443 HTTP/1.1");
  EXPECT_EQ(received[1].requestLine, "GET /x HTTP/1.1");
  EXPECT_TRUE(received[1].tls);
}

// ---------------------------------------------------------------------------
// TLS

TEST_F(UpstreamClientTest, HttpsIsTrustedThroughSslCertFile) {
  FakeHttpServer server(FakeHttpServer::Options{.tls = true});
  server.Enqueue(ScriptedResponse::Ok("over tls"));
  env.Set("SSL_CERT_FILE", test::TestCertificateAuthority::Instance().CaFile());
  auto ctx = Context();
  FetchResponse response;
  ASSERT_TRUE(FetchUrl(ctx, Get(server.Url("/s")), &response, nullptr)) << ctx.errorDetail;
  EXPECT_EQ(response.body, "over tls");
  EXPECT_TRUE(server.Requests().at(0).tls);
}

TEST_F(UpstreamClientTest, HttpsIsTrustedThroughCurlCaBundle) {
  FakeHttpServer server(FakeHttpServer::Options{.tls = true});
  env.Set("CURL_CA_BUNDLE", test::TestCertificateAuthority::Instance().CaFile());
  auto ctx = Context();
  EXPECT_TRUE(FetchUrl(ctx, Get(server.Url("/s")), nullptr, nullptr)) << ctx.errorDetail;
}

TEST_F(UpstreamClientTest, HttpsToAnUntrustedServerIsRefused) {
  FakeHttpServer server(FakeHttpServer::Options{.tls = true});
  ReaderSocketPair reader;
  reader.StartCollecting();
  auto ctx = Context();
  FetchRequest request = Get(server.Url("/s"));
  request.readerSocket = reader.ProxySide();
  EXPECT_FALSE(FetchUrl(ctx, request, nullptr, nullptr));
  EXPECT_EQ(ctx.errorDetail, static_cast<std::uint32_t>(CURLE_PEER_FAILED_VERIFICATION));
  EXPECT_EQ(server.RequestCount(), 0u);
  reader.CloseProxySide();
  EXPECT_EQ(reader.WaitForEnd(5s), "");
}

// ---------------------------------------------------------------------------
// InflateBody

TEST(InflateBody, DecodesGzipData) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "<dt>" + std::to_string(i) + "</dt>";
  const std::string gzip = test::GzipCompress(text);
  std::string out(text.size() + 16, '\0');
  std::int64_t capacity = static_cast<std::int64_t>(out.size());
  ASSERT_EQ(InflateBody(nullptr, out.data(), capacity, gzip.data(), static_cast<std::int64_t>(gzip.size())), 0);
  EXPECT_EQ(capacity, static_cast<std::int64_t>(text.size()));
  EXPECT_EQ(out.substr(0, text.size()), text);
}

TEST(InflateBody, TruncatedOrDamagedDataIsMinusThree) {
  const std::string text(20000, 'q');
  const std::string gzip = test::GzipCompress(text);
  std::string out(text.size() + 16, '\0');
  for (std::size_t cut : {gzip.size() - 1, gzip.size() - 8, gzip.size() / 2, std::size_t{10}, std::size_t{0}}) {
    std::int64_t capacity = static_cast<std::int64_t>(out.size());
    EXPECT_EQ(InflateBody(nullptr, out.data(), capacity, gzip.data(), static_cast<std::int64_t>(cut)), -3) << cut;
  }
  const std::string garbage = "\x1f\x8b\x08\x00 this is not deflate data at all";
  std::int64_t capacity = static_cast<std::int64_t>(out.size());
  EXPECT_EQ(InflateBody(nullptr, out.data(), capacity, garbage.data(), static_cast<std::int64_t>(garbage.size())),
            Z_DATA_ERROR);
  const std::string plain = "not gzip";
  EXPECT_EQ(InflateBody(nullptr, out.data(), capacity, plain.data(), static_cast<std::int64_t>(plain.size())), -3);
}

TEST(InflateBody, DataLargerThanTheAreaIsABufferError) {
  const std::string text(50000, 'w');
  const std::string gzip = test::GzipCompress(text);
  std::string out(1000, '\0');
  std::int64_t capacity = static_cast<std::int64_t>(out.size());
  EXPECT_EQ(InflateBody(nullptr, out.data(), capacity, gzip.data(), static_cast<std::int64_t>(gzip.size())),
            Z_BUF_ERROR);
  EXPECT_EQ(capacity, 1000);
}

}  // namespace
}  // namespace tav
