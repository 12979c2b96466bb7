#include "net/PassThrough.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include "config/StringTable.h"
#include "net/CGateway.h"
#include "platform/TextCodec.h"
#include "support/FakeHttpServer.h"
#include "support/LogRecordingShell.h"
#include "support/ParsedRequest.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"
#include "support/ReaderSocketPair.h"
#include "support/ScopedEnvironment.h"
#include "support/TestCertificateAuthority.h"

namespace tav {
namespace {
using test::Parsed;

using namespace std::chrono_literals;
using test::FakeHttpServer;
using test::ReceivedRequest;
using test::ScriptedResponse;

constexpr std::uint32_t kRequestId = 77;
constexpr const char* kFormType = "application/x-www-form-urlencoded";

// The board hosts are reached through a fake upstream proxy (ProxyMode 2),
// which also accepts CONNECT and then serves https itself, so that no test
// ever needs a name lookup.
class PassThroughTest : public ::testing::Test {
 protected:
  PassThroughTest() {
    env.ClearProxyAndCaVariables();
    env.Set("SSL_CERT_FILE", test::TestCertificateAuthority::Instance().CaFile());
    values.ProxyMode = 2;
    values.Proxy = CDoubleString::FromUtf8(proxy.Authority());
    // Neutral rewrites; each test switches on what it looks at.
    values.DatMode = 0;
    values.EnableFakeUA = 0;
    values.HtmlSSL = 0;
    values.WriteUrlencoded = 0;
    values.WriteAcceptHeader = 0;
    values.NetworkReplace = 1;
  }

  struct Outcome {
    int result = 0;
    std::int64_t bytesSent = 0;
    std::string readerGot;
    int closeFlag = 0;
  };

  Outcome Run(const std::string& request) {
    test::ReaderSocketPair reader;
    reader.StartCollecting();
    CGateway ctx;
    ctx.cfg = std::make_shared<const SettingValues>(values);
    ctx.shell = &shell;
    ctx.requestId = kRequestId;
    ctx.readerSocket = reader.ProxySide();
    Outcome outcome;
    const RouteResult result = HandlePassThrough(ctx, Parsed(request), RouteOptions{});
    outcome.result = result.Ok() ? 0 : result.code;
    outcome.bytesSent = result.bytesSent;
    outcome.closeFlag = ctx.closeAfter ? 1 : 0;
    reader.CloseProxySide();
    outcome.readerGot = reader.WaitForEnd(5s);
    return outcome;
  }

  // The last request the upstream side received (after a CONNECT, the
  // request that came through the tunnel).
  ReceivedRequest Upstream() const {
    const auto all = proxy.Requests();
    EXPECT_FALSE(all.empty());
    return all.empty() ? ReceivedRequest{} : all.back();
  }

  static std::string Request(const std::string& requestLine, const std::string& headers, const std::string& body = {}) {
    return requestLine + "\r\n" + headers + "\r\n" + body;
  }

  SettingValues values;
  test::LogRecordingShell shell;
  test::ScopedEnvironment env;
  FakeHttpServer proxy{FakeHttpServer::Options{.tls = false, .acceptConnect = true}};
};

// The names of the request's header lines that are in `wanted`, in the
// order they arrived.
std::vector<std::string> NamesAmong(const ReceivedRequest& request, const std::vector<std::string>& wanted) {
  auto names = request.HeaderNames();
  std::erase_if(names, [&](const std::string& n) { return std::find(wanted.begin(), wanted.end(), n) == wanted.end(); });
  return names;
}

const std::string kBoardGet = "GET http://agree.5ch.io/test/read.cgi/board/1234567890/ HTTP/1.1";
const std::string kBoardPost = "POST http://agree.5ch.io/test/bbs.cgi HTTP/1.1";
const std::string kBoardHost = "Host: agree.5ch.io\r\n";
const std::string kReaderAgent = "User-Agent: Monazilla/1.00 (Reader/1.0)\r\n";

// ---------------------------------------------------------------------------
// The request as rebuilt

TEST_F(PassThroughTest, ReadersLinesGoUpstreamInOrderUnderANewRequestLine) {
  proxy.Enqueue(ScriptedResponse::Ok("page"));
  const auto outcome = Run(Request("GET http://www.example.test/page?x=1 HTTP/1.0",
                                   "Host: www.example.test\r\n" + kReaderAgent +
                                       "Accept: text/html\r\nCookie: c=1\r\nX-Custom: keep\r\n"));
  ASSERT_EQ(outcome.result, 0);
  const auto got = Upstream();
  EXPECT_EQ(got.requestLine, "GET http://www.example.test/page?x=1 HTTP/1.1");
  EXPECT_EQ(got.Header("User-Agent"), "Monazilla/1.00 (Reader/1.0)");
  EXPECT_EQ(got.Header("Accept"), "text/html");
  EXPECT_EQ(got.HeaderCount("Accept"), 1u);
  const std::vector<std::string> readersOrder{"Host", "User-Agent", "Accept", "Cookie", "X-Custom"};
  EXPECT_EQ(NamesAmong(got, readersOrder), readersOrder);
}

TEST_F(PassThroughTest, AnswerIsStreamedToTheReaderAndCounted) {
  proxy.Enqueue(ScriptedResponse::Ok("<html>page</html>", "text/html"));
  const auto outcome = Run(Request("GET http://www.example.test/ HTTP/1.1", "Host: www.example.test\r\n"));
  ASSERT_EQ(outcome.result, 0);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 17\r\n\r\n";
  EXPECT_EQ(outcome.readerGot, head + "<html>page</html>");
  EXPECT_EQ(outcome.bytesSent, static_cast<std::int64_t>(head.size() * 2 + 17));
  EXPECT_EQ(shell.Cell(kRequestId, 6), Utf8ToUtf16(std::to_string(outcome.bytesSent)));
  EXPECT_EQ(shell.Cell(kRequestId, 5), u"接続中...");
}

TEST_F(PassThroughTest, RequestWithoutBlankLineIsRefusedWithoutSending) {
  const auto outcome = Run("GET http://www.example.test/ HTTP/1.1\r\nHost: www.example.test\r\n");
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.bytesSent, 0);
  EXPECT_EQ(outcome.readerGot, "");
  EXPECT_EQ(proxy.RequestCount(), 0u);
}

TEST_F(PassThroughTest, UpstreamFailureIsAnsweredBadGatewayAndCounted) {
  std::string url;
  {
    FakeHttpServer gone;
    url = gone.Url("/x");
  }
  values.ProxyMode = 0;
  const auto outcome = Run(Request("GET " + url + " HTTP/1.1", "Host: 127.0.0.1\r\n"));
  EXPECT_EQ(outcome.result, kStrConnectFailed);
  EXPECT_TRUE(outcome.readerGot.starts_with("HTTP/1.1 502 Bad Gateway\r\n")) << outcome.readerGot;
  EXPECT_EQ(outcome.bytesSent, static_cast<std::int64_t>(outcome.readerGot.size()));
  EXPECT_EQ(outcome.closeFlag, 1);
}

TEST_F(PassThroughTest, PostBodyIsSentWholeWithoutItsFinalLineEnd) {
  const std::string body = std::string("file=a\0b\0c", 10) + std::string(500, 'd');
  const auto outcome = Run(Request("POST http://upload.example.test/form HTTP/1.1",
                                   "Host: upload.example.test\r\nContent-Length: " +
                                       std::to_string(body.size() + 2) + "\r\n",
                                   body + "\r\n"));
  ASSERT_EQ(outcome.result, 0);
  const auto got = Upstream();
  EXPECT_EQ(got.body, body);
  EXPECT_EQ(got.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(got.HeaderCount("Content-Length"), 1u);
}

// ---------------------------------------------------------------------------
// Domain move

TEST_F(PassThroughTest, DomainMoveReachesRequestLineHeadersAndBody) {
  const std::string body = "bbs=board&key=1234567890&MESSAGE=see+http://agree.2ch.net/x&time=1";
  Run(Request("POST http://agree.2ch.net/test/bbs.cgi HTTP/1.1",
              "Host: agree.2ch.net\r\nReferer: http://agree.2ch.net/test/read.cgi/board/1234567890/\r\n"
              "Content-Length: " + std::to_string(body.size()) + "\r\n",
              body));
  const auto got = Upstream();
  EXPECT_EQ(got.requestLine, "POST http://agree.5ch.io/test/bbs.cgi HTTP/1.1");
  EXPECT_EQ(got.Header("Host"), "agree.5ch.io");
  EXPECT_EQ(got.Header("Referer"), "https://agree.5ch.io/test/read.cgi/board/1234567890/");
  EXPECT_EQ(got.body, "bbs=board&key=1234567890&MESSAGE=see+http://agree.5ch.io/x&time=1");
  EXPECT_EQ(got.Header("Content-Length"), std::to_string(got.body.size())) << "the moved body is shorter";
}

TEST_F(PassThroughTest, AliasesMoveToTheSecondaryDomainWhateverTheirLength) {
  values.Domains.Secondary = ".example-board.test";
  values.Domains.Aliases = {".5ch.net", ".old.test"};
  const std::string body = "a=http://x.5ch.net/1&b=http://y.2ch.net/2&c=http://z.old.test/3";
  Run(Request("POST http://agree.5ch.net/test/bbs.cgi HTTP/1.1",
              "Host: agree.5ch.net\r\nContent-Length: " + std::to_string(body.size()) + "\r\n", body));
  const auto got = Upstream();
  EXPECT_EQ(got.requestLine, "POST http://agree.example-board.test/test/bbs.cgi HTTP/1.1");
  EXPECT_EQ(got.Header("Host"), "agree.example-board.test");
  const std::string moved =
      "a=http://x.example-board.test/1&b=http://y.example-board.test/2&c=http://z.example-board.test/3";
  EXPECT_EQ(got.body, moved);
  EXPECT_EQ(got.Header("Content-Length"), std::to_string(moved.size()));
}

TEST_F(PassThroughTest, HttpsTargetsAreFetchedWithHttps) {
  test::FakeHttpServer tunnel(test::FakeHttpServer::Options{.tls = false, .acceptConnect = true});
  tunnel.Enqueue(test::ScriptedResponse::Ok("secure"));
  values.Proxy = CDoubleString::FromUtf8(tunnel.Authority());
  const auto outcome = Run("GET https://agree.5ch.net:443/test/read.cgi/board/1/ HTTP/1.1\r\nHost: agree.5ch.net:443\r\n\r\n");
  EXPECT_EQ(outcome.result, 0);
  const auto received = tunnel.Requests();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].requestLine, "CONNECT agree.5ch.io:443 HTTP/1.1");
  EXPECT_TRUE(received[1].tls);
  EXPECT_EQ(received[1].target, "/test/read.cgi/board/1/");
}

TEST_F(PassThroughTest, WithoutNetworkReplaceTheDomainStays) {
  values.NetworkReplace = 0;
  const std::string body = "MESSAGE=http://agree.2ch.net/x";
  Run(Request("POST http://agree.2ch.net/test/bbs.cgi HTTP/1.1",
              "Host: agree.2ch.net\r\nReferer: http://agree.2ch.net/test/\r\n", body));
  const auto got = Upstream();
  EXPECT_EQ(got.requestLine, "POST http://agree.2ch.net/test/bbs.cgi HTTP/1.1");
  EXPECT_EQ(got.Header("Host"), "agree.2ch.net");
  EXPECT_EQ(got.body, body);
  // Still a board host: its post Referer goes https.
  EXPECT_EQ(got.Header("Referer"), "https://agree.2ch.net/test/");
}

// ---------------------------------------------------------------------------
// User-Agent step

TEST_F(PassThroughTest, FakeUaReplacesTheReadersAgentOnBoardHosts) {
  values.EnableFakeUA = 1;
  values.FakeUA = CDoubleString::FromUtf8("Monazilla/1.00 (Fake/9)");
  Run(Request(kBoardGet, kBoardHost + kReaderAgent + "Accept: */*\r\n"));
  const auto got = Upstream();
  EXPECT_EQ(got.Header("User-Agent"), "Monazilla/1.00 (Fake/9)");
  EXPECT_EQ(got.HeaderCount("User-Agent"), 1u);
  EXPECT_EQ(got.HeaderCount("Accept-Language"), 0u);
  // The replacement takes the place of the reader's line.
  EXPECT_EQ(NamesAmong(got, {"Host", "User-Agent", "Accept"}),
            (std::vector<std::string>{"Host", "User-Agent", "Accept"}));
}

TEST_F(PassThroughTest, HtmlAgentWithAcceptLanguageTakesPrecedenceOverFakeUa) {
  values.EnableFakeUA = 1;
  values.FakeUA = CDoubleString::FromUtf8("Monazilla/1.00 (Fake/9)");
  values.DatMode = 2;
  values.ApplyAllUA = 1;
  values.HtmlUserAgent = CDoubleString::FromUtf8("Mozilla/5.0 (Html)");
  Run(Request(kBoardGet, kBoardHost + kReaderAgent));
  const auto got = Upstream();
  EXPECT_EQ(got.Header("User-Agent"), "Mozilla/5.0 (Html)");
  EXPECT_EQ(got.Header("Accept-Language"), "ja,en-US;q=0.7,en;q=0.3");
}

TEST_F(PassThroughTest, HtmlAgentNeedsHtmlModeAndApplyAllUa) {
  values.HtmlUserAgent = CDoubleString::FromUtf8("Mozilla/5.0 (Html)");
  values.DatMode = 2;
  values.ApplyAllUA = 0;
  Run(Request(kBoardGet, kBoardHost + kReaderAgent));
  values.DatMode = 1;
  values.ApplyAllUA = 1;
  Run(Request(kBoardGet, kBoardHost + kReaderAgent));
  for (const auto& got : proxy.Requests()) {
    EXPECT_EQ(got.Header("User-Agent"), "Monazilla/1.00 (Reader/1.0)");
    EXPECT_EQ(got.HeaderCount("Accept-Language"), 0u);
  }
}

TEST_F(PassThroughTest, RequestWithoutAgentGetsNoAgent) {
  values.EnableFakeUA = 1;
  values.DatMode = 2;
  values.ApplyAllUA = 1;
  Run(Request(kBoardGet, kBoardHost + "Accept: */*\r\n"));
  const auto got = Upstream();
  EXPECT_EQ(got.HeaderCount("User-Agent"), 0u);
  EXPECT_EQ(got.HeaderCount("Accept-Language"), 0u);
}

TEST_F(PassThroughTest, AgentOfOtherHostsIsKept) {
  values.EnableFakeUA = 1;
  values.DatMode = 2;
  values.ApplyAllUA = 1;
  Run(Request("GET http://www.example.test/ HTTP/1.1", "Host: www.example.test\r\n" + kReaderAgent));
  EXPECT_EQ(Upstream().Header("User-Agent"), "Monazilla/1.00 (Reader/1.0)");
}

// ---------------------------------------------------------------------------
// Form content type of posts

TEST_F(PassThroughTest, FormContentTypeIsAddedToBoardPostsOnce) {
  values.WriteUrlencoded = 1;
  Run(Request(kBoardPost, kBoardHost + kReaderAgent, "bbs=board&key=1"));
  Run(Request(kBoardPost, kBoardHost + kReaderAgent + "Content-Type: " + kFormType + "\r\n", "bbs=board&key=1"));
  const auto received = proxy.Requests();
  ASSERT_EQ(received.size(), 2u);
  for (const auto& got : received) {
    EXPECT_EQ(got.HeaderCount("Content-Type"), 1u);
    EXPECT_EQ(got.Header("Content-Type"), kFormType);
  }
}

TEST_F(PassThroughTest, FormContentTypeIsNotAddedWhereItDoesNotApply) {
  values.WriteUrlencoded = 0;
  Run(Request(kBoardPost, kBoardHost + kReaderAgent, "a=1"));  // setting off
  values.WriteUrlencoded = 1;
  Run(Request(kBoardPost, kBoardHost, "a=1"));                 // no User-Agent line
  Run(Request(kBoardGet, kBoardHost + kReaderAgent));          // not a post
  Run(Request("POST http://www.example.test/f HTTP/1.1", "Host: www.example.test\r\n" + kReaderAgent, "a=1"));
  const auto received = proxy.Requests();
  ASSERT_EQ(received.size(), 4u);
  for (const auto& got : received) EXPECT_EQ(got.HeaderCount("Content-Type"), 0u) << got.requestLine;
}

// ---------------------------------------------------------------------------
// Accept line of posts

TEST_F(PassThroughTest, AcceptHeaderReplacesTheReadersAcceptOnlyInBoardPosts) {
  values.WriteAcceptHeader = 1;
  values.AcceptHeader = CDoubleString::FromUtf8("Accept: text/html,application/xhtml+xml,*/*;q=0.8");
  Run(Request(kBoardPost, kBoardHost + "Accept: */*\r\n", "a=1"));
  Run(Request(kBoardGet, kBoardHost + "Accept: */*\r\n"));
  Run(Request("POST http://www.example.test/f HTTP/1.1", "Host: www.example.test\r\nAccept: */*\r\n", "a=1"));
  Run(Request(kBoardPost, kBoardHost, "a=1"));  // no Accept line of the reader
  values.WriteAcceptHeader = 0;
  Run(Request(kBoardPost, kBoardHost + "Accept: */*\r\n", "a=1"));
  const auto received = proxy.Requests();
  ASSERT_EQ(received.size(), 5u);
  EXPECT_EQ(received[0].Header("Accept"), "text/html,application/xhtml+xml,*/*;q=0.8");
  EXPECT_EQ(received[1].Header("Accept"), "*/*");
  EXPECT_EQ(received[2].Header("Accept"), "*/*");
  EXPECT_EQ(received[3].Header("Accept"), "*/*");  // the client's accept type
  EXPECT_EQ(received[4].Header("Accept"), "*/*");
  for (const auto& got : received) EXPECT_EQ(got.HeaderCount("Accept"), 1u);
}

// ---------------------------------------------------------------------------
// Board host step: https upgrade and Referer of posts

TEST_F(PassThroughTest, HtmlSslFetchesBoardPagesWithHttpsAndAnswersAsUsual) {
  values.HtmlSSL = 1;
  proxy.Enqueue(ScriptedResponse::Ok("<html>thread</html>", "text/html"));
  const auto outcome = Run(Request(kBoardGet, kBoardHost + kReaderAgent));
  ASSERT_EQ(outcome.result, 0);
  const auto received = proxy.Requests();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].requestLine, "CONNECT agree.5ch.io:443 HTTP/1.1");
  EXPECT_EQ(received[1].requestLine, "GET /test/read.cgi/board/1234567890/ HTTP/1.1");
  EXPECT_TRUE(received[1].tls);
  EXPECT_EQ(received[1].Header("Host"), "agree.5ch.io");
  EXPECT_EQ(outcome.readerGot,
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 19\r\n\r\n<html>thread</html>");
}

TEST_F(PassThroughTest, HttpsUpgradeOnlyWithHtmlSslAndOnlyForBoardHosts) {
  values.HtmlSSL = 0;
  Run(Request(kBoardGet, kBoardHost));
  values.HtmlSSL = 1;
  Run(Request("GET http://www.example.test/ HTTP/1.1", "Host: www.example.test\r\n"));
  const auto received = proxy.Requests();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].requestLine, kBoardGet);
  EXPECT_EQ(received[1].requestLine, "GET http://www.example.test/ HTTP/1.1");
  EXPECT_FALSE(received[1].tls);
}

TEST_F(PassThroughTest, RefererOfBoardPostsGoesHttpsButNotOfGets) {
  Run(Request(kBoardPost, kBoardHost + "Referer: http://agree.5ch.io/test/read.cgi/board/1/\r\n", "a=1"));
  Run(Request(kBoardGet, kBoardHost + "Referer: http://agree.5ch.io/board/\r\n"));
  Run(Request("POST http://www.example.test/f HTTP/1.1",
              "Host: www.example.test\r\nReferer: http://www.example.test/\r\n", "a=1"));
  const auto received = proxy.Requests();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].Header("Referer"), "https://agree.5ch.io/test/read.cgi/board/1/");
  EXPECT_EQ(received[1].Header("Referer"), "http://agree.5ch.io/board/");
  EXPECT_EQ(received[2].Header("Referer"), "http://www.example.test/");
}

// ---------------------------------------------------------------------------
// URLs naming port 443

TEST_F(PassThroughTest, UrlsNamingPort443AreFetchedWithHttps) {
  Run(Request("GET http://www.example.test:443/x HTTP/1.1", "Host: www.example.test:443\r\n"));
  Run(Request("GET www.example.test:443 HTTP/1.1", "Host: www.example.test:443\r\n"));
  // The second request may reuse the first one's tunnel.
  auto received = proxy.Requests();
  ASSERT_GE(received.size(), 3u);
  EXPECT_EQ(received[0].requestLine, "CONNECT www.example.test:443 HTTP/1.1");
  std::erase_if(received, [](const ReceivedRequest& r) { return r.method == "CONNECT"; });
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].requestLine, "GET /x HTTP/1.1");
  EXPECT_EQ(received[1].requestLine, "GET / HTTP/1.1");
  EXPECT_TRUE(received[0].tls);
  EXPECT_TRUE(received[1].tls);
}

// ---------------------------------------------------------------------------
// Answers passed back

TEST_F(PassThroughTest, ChunkedAnswerReachesTheReaderDechunked) {
  ScriptedResponse answer = ScriptedResponse::Ok(std::string(3000, 'c') + "end", "text/html");
  answer.framing = ScriptedResponse::Framing::kChunked;
  answer.chunkSize = 512;
  proxy.Enqueue(answer);
  const auto outcome = Run(Request(kBoardGet, kBoardHost));
  ASSERT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.readerGot, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nxransfer-Encoding: chunked\r\n\r\n" +
                                   std::string(3000, 'c') + "end");
}

TEST_F(PassThroughTest, GzipAnswerReachesTheReaderUnchanged) {
  ScriptedResponse answer = ScriptedResponse::Ok(std::string(4000, 'g'), "text/plain");
  answer.gzip = true;
  proxy.Enqueue(answer);
  const auto outcome =
      Run(Request(kBoardGet, kBoardHost + "Accept-Encoding: gzip\r\n"));
  ASSERT_EQ(outcome.result, 0);
  EXPECT_TRUE(outcome.readerGot.ends_with("\r\n\r\n" + answer.WireBody()));
  EXPECT_EQ(Upstream().Header("Accept-Encoding"), "gzip");
}

TEST_F(PassThroughTest, ConnectionCloseOfTheServerClosesTheReaderConnection) {
  ScriptedResponse closing = ScriptedResponse::Ok("bye");
  closing.closeConnection = true;
  proxy.Enqueue(closing);
  EXPECT_EQ(Run(Request(kBoardGet, kBoardHost)).closeFlag, 1);
  EXPECT_EQ(Run(Request(kBoardGet, kBoardHost)).closeFlag, 0);
}

TEST_F(PassThroughTest, RedirectIsPassedBackNotFollowed) {
  proxy.Enqueue(ScriptedResponse::Status(301, "Moved Permanently", {{"Location", "https://agree.5ch.io/"}}, ""));
  const auto outcome = Run(Request(kBoardGet, kBoardHost));
  ASSERT_EQ(outcome.result, 0);
  EXPECT_EQ(proxy.RequestCount(), 1u);
  EXPECT_EQ(outcome.readerGot.rfind("HTTP/1.1 301 Moved Permanently\r\nLocation: https://agree.5ch.io/\r\n", 0), 0u);
}

// ---------------------------------------------------------------------------
// Framing and hop-by-hop fields

TEST_F(PassThroughTest, HttpsUpgradeLeavesNoPort80Behind) {
  values.HtmlSSL = 1;
  struct Row {
    const char* url;
    const char* host;
    const char* sentHost;
  };
  const Row rows[] = {
      {"http://egg.5ch.net/test/read.cgi/b/1/", "egg.5ch.net", "egg.5ch.io"},
      {"http://egg.5ch.net:80/test/read.cgi/b/1/", "egg.5ch.net:80", "egg.5ch.io"},
      {"http://egg.5ch.net:443/test/read.cgi/b/1/", "egg.5ch.net:443", "egg.5ch.io:443"},
  };
  for (const Row& row : rows) {
    const auto outcome = Run(Request(std::string("GET ") + row.url + " HTTP/1.1", std::string("Host: ") + row.host + "\r\n"));
    ASSERT_EQ(outcome.result, 0) << row.url;
    const auto got = Upstream();
    EXPECT_TRUE(got.tls) << row.url;
    EXPECT_EQ(got.target, "/test/read.cgi/b/1/") << row.url;
    EXPECT_EQ(got.Header("Host"), row.sentHost) << row.url;
  }
  for (const auto& got : proxy.Requests()) {
    if (got.method == "CONNECT") {
      EXPECT_EQ(got.target, "egg.5ch.io:443");
    }
  }
}

TEST_F(PassThroughTest, BodyIsExactlyItsLengthAndWhatFollowsClosesTheConnection) {
  const std::string next = "GET http://www.example.test/next HTTP/1.1\r\nHost: www.example.test\r\n\r\n";
  const std::string post = "POST http://www.example.test/f HTTP/1.1";
  struct Row {
    std::string request;
    std::string body;
    int closeFlag;
  };
  const Row rows[] = {
      {Request(post, "Host: www.example.test\r\nContent-Length: 5\r\n", "hello" + next), "hello", 1},
      {Request(post, "Host: www.example.test\r\ncontent-length: 5\r\n", "hello\r\n"), "hello", 0},
      {Request("GET http://www.example.test/ HTTP/1.1", "Host: www.example.test\r\n", next), "", 1},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const auto outcome = Run(rows[i].request);
    EXPECT_EQ(proxy.RequestCount(), i + 1) << "only the first request goes up: " << i;
    EXPECT_EQ(Upstream().body, rows[i].body) << i;
    EXPECT_EQ(outcome.closeFlag, rows[i].closeFlag) << i;
  }
}

TEST_F(PassThroughTest, HopByHopFieldsStayWithTheReader) {
  Run(Request("POST http://www.example.test/f HTTP/1.1",
              "Host: www.example.test\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\nProxy-Connection: close\r\n"
              "Connection: keep-alive, X-Hop\r\nKeep-Alive: timeout=5\r\nte: trailers\r\nTrailer: X-Sum\r\n"
              "Upgrade: h2c\r\nX-Hop: 1\r\n  folded into X-Hop\r\nTransfer-Encoding: chunked\r\nX-Kept: 2\r\n",
              "a=1"));
  const auto got = Upstream();
  for (const char* name : {"Proxy-Authorization", "Keep-Alive", "TE", "Trailer", "Upgrade", "X-Hop", "Transfer-Encoding"}) {
    EXPECT_EQ(got.HeaderCount(name), 0u) << name;
  }
  EXPECT_NE(got.Header("Proxy-Connection"), "close") << "the upstream client may send its own";
  EXPECT_EQ(got.Header("X-Kept"), "2");
  EXPECT_EQ(got.Header("Content-Length"), "3");
  EXPECT_EQ(got.body, "a=1");
}

}  // namespace
}  // namespace tav

// ---------------------------------------------------------------------------
// Through the whole proxy: reader -> listener and worker -> pass-through ->
// fake upstream (named as the proxy's upstream proxy).

namespace tav::test {
namespace {

class PassThroughViaProxy : public ::testing::Test {
 protected:
  PassThroughViaProxy() { env.ClearProxyAndCaVariables(); }

  std::unique_ptr<ProxyHarness> StartProxy(const std::function<void(SettingValues&)>& more = {}) {
    return std::make_unique<ProxyHarness>([&](SettingValues& v) {
      v.ProxyMode = 2;
      v.Proxy = CDoubleString::FromUtf8(upstream.Authority());
      v.DatMode = 0;
      if (more) more(v);
    });
  }

  static std::string Get(const std::string& path, const std::string& extra = {}) {
    return "GET http://www.example.test" + path + " HTTP/1.1\r\nHost: www.example.test\r\n" + extra + "\r\n";
  }

  ScopedEnvironment env;
  FakeHttpServer upstream;
};

TEST_F(PassThroughViaProxy, AnswerReachesTheReaderAndTheLogRow) {
  const ScriptedResponse answer = ScriptedResponse::Ok("<html>page</html>", "text/html");
  upstream.Enqueue(answer);
  auto proxy = StartProxy();
  LoopbackClient reader(proxy->Port());
  reader.Send(Get("/page?x=1"));
  EXPECT_EQ(reader.ReadAtLeast(answer.Wire().size()), answer.Wire());
  ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(1));
  const auto row = proxy->Shell().FinishedRows()[0];
  const std::string head = answer.Wire().substr(0, answer.Wire().size() - answer.body.size());
  const std::u16string size = Utf8ToUtf16(std::to_string(head.size() * 2 + answer.body.size()));
  EXPECT_EQ(row.cells[4], u"直接");
  EXPECT_EQ(row.cells[5], u"成功");
  EXPECT_EQ(row.cells[6], size);
  EXPECT_EQ(row.cells[7], size);
  EXPECT_EQ(upstream.Requests().at(0).target, "http://www.example.test/page?x=1");
}

TEST_F(PassThroughViaProxy, ConnectionStaysOpenWithoutConnectionClose) {
  const ScriptedResponse first = ScriptedResponse::Ok("first");
  const ScriptedResponse second = ScriptedResponse::Ok("second");
  upstream.Enqueue(first);
  upstream.Enqueue(second);
  auto proxy = StartProxy();
  LoopbackClient reader(proxy->Port());
  reader.Send(Get("/1"));
  EXPECT_EQ(reader.ReadAtLeast(first.Wire().size()), first.Wire());
  reader.Send(Get("/2"));
  EXPECT_EQ(reader.ReadAtLeast(second.Wire().size()), second.Wire());
  EXPECT_EQ(upstream.RequestCount(), 2u);
}

TEST_F(PassThroughViaProxy, ConnectionCloseOfTheServerClosesTheReaderConnection) {
  ScriptedResponse closing = ScriptedResponse::Ok("bye");
  closing.closeConnection = true;
  upstream.Enqueue(closing);
  auto proxy = StartProxy();
  LoopbackClient reader(proxy->Port());
  reader.Send(Get("/"));
  EXPECT_EQ(reader.ReadAtLeast(closing.Wire().size()), closing.Wire());
  // Well before the 3-second idle limit would close it.
  EXPECT_TRUE(reader.WaitForClose(1500));
}

TEST_F(PassThroughViaProxy, StallingServerEndsByTheReceiveTimeoutAndFreesTheWorker) {
  upstream.Enqueue(ScriptedResponse::Silence());
  const ScriptedResponse next = ScriptedResponse::Ok("next");
  upstream.Enqueue(next);
  auto proxy = StartProxy([](SettingValues& v) { v.ReceiveTimeOut = 1000; });
  LoopbackClient reader(proxy->Port());
  const auto start = std::chrono::steady_clock::now();
  reader.Send(Get("/stall"));
  ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(1, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  // The reader is told and its connection closed; the next one is served.
  EXPECT_TRUE(reader.ReadAll(2000).starts_with("HTTP/1.1 504 Gateway Timeout\r\n"));
  LoopbackClient again(proxy->Port());
  again.Send(Get("/next"));
  EXPECT_EQ(again.ReadAtLeast(next.Wire().size()), next.Wire());
}

TEST_F(PassThroughViaProxy, ChunkedAnswersArriveDechunkedAndEndWithTheConnection) {
  auto proxy = StartProxy();
  const std::string plainChunks = "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
  const std::string gzip = GzipCompress("hello world");
  char gzipSize[16];
  std::snprintf(gzipSize, sizeof gzipSize, "%zx", gzip.size());
  const std::pair<std::string, std::string> rows[] = {
      {"Transfer-Encoding: chunked", plainChunks},
      {"transfer-encoding: chunked", plainChunks},
      {"Transfer-Encoding: gzip, chunked", std::string(gzipSize) + "\r\n" + gzip + "\r\n0\r\n\r\n"},
  };
  for (const auto& [line, chunks] : rows) {
    upstream.Enqueue(ScriptedResponse::Raw("HTTP/1.1 200 OK\r\n" + line + "\r\n\r\n" + chunks, false));
    LoopbackClient reader(proxy->Port());
    const auto start = std::chrono::steady_clock::now();
    reader.Send(Get("/chunked"));
    const auto answer = HttpAnswer::Split(reader.ReadAll(2500));
    // Ended by the proxy's close, long before the idle limit.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << line;
    EXPECT_EQ(answer.head, "HTTP/1.1 200 OK\r\nx" + line.substr(1) + "\r\n\r\n");
    EXPECT_EQ(answer.body, "hello world") << line;
  }
}

TEST_F(PassThroughViaProxy, PipelinedRequestIsNotTakenForABody) {
  const ScriptedResponse first = ScriptedResponse::Ok("first");
  upstream.Enqueue(first);
  auto proxy = StartProxy();
  LoopbackClient reader(proxy->Port());
  reader.Send("POST http://www.example.test/f HTTP/1.1\r\nHost: www.example.test\r\nContent-Length: 5\r\n\r\nhello" +
              Get("/second"));
  EXPECT_EQ(reader.ReadAll(2000), first.Wire());
  EXPECT_TRUE(reader.WaitForClose(300)) << "closed after the first answer";
  ASSERT_EQ(upstream.RequestCount(), 1u);
  EXPECT_EQ(upstream.Requests()[0].body, "hello");
}

TEST_F(PassThroughViaProxy, AmbiguousFramingIsRefusedAsABadRequest) {
  auto proxy = StartProxy();
  const std::string requestLine = "POST http://www.example.test/f HTTP/1.1";
  for (const std::string fields :
       {"Content-Length: 3\r\nTransfer-Encoding: chunked\r\n", "Content-Length: 3\r\nX-A: 1\rX-B: 2\r\n"}) {
    LoopbackClient reader(proxy->Port());
    reader.Send(requestLine + "\r\nHost: www.example.test\r\n" + fields + "\r\nabc");
    EXPECT_TRUE(reader.WaitForClose(1500)) << fields;
  }
  ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(2));
  for (const auto& row : proxy->Shell().FinishedRows()) {
    EXPECT_EQ(row.cells[3], u"不正リクエスト(" + Utf8ToUtf16(requestLine) + u")");
    EXPECT_EQ(row.cells[5], u"失敗");
  }
  EXPECT_EQ(upstream.RequestCount(), 0u);
}

}  // namespace
}  // namespace tav::test
