// The JSON route end to end: a reader asks the proxy for a dat in JSON mode,
// the proxy asks a fake JSON endpoint (reached as the upstream proxy, so that
// the request names the real endpoint host) and answers with the dat.

#include "acquire/JsonRoute.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "acquire/ScopedTimeZone.h"
#include "net/CGateway.h"
#include "net/RequestParser.h"
#include "platform/TextCodec.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"
#include "support/ReaderSocketPair.h"
#include "support/ScopedEnvironment.h"

namespace tav::test {
namespace {

using namespace std::chrono_literals;

constexpr char kBoardDate[] = "Tue, 08 Dec 2026 16:05:05 GMT";
constexpr char kReaderAgent[] = "Monazilla/1.00 JaneStyle/4.23";

// A post: [number, name, mail, time, ID, BE, message].
std::string Post(const std::string& name, const std::string& mail, const std::string& time, const std::string& id,
                 const std::string& be, const std::string& message) {
  return "[1,\"" + name + "\",\"" + mail + "\"," + time + ",\"" + id + "\",\"" + be + "\",\"" + message + "\"]";
}

std::string Answer(const std::string& totalCount, const std::string& title, const std::vector<std::string>& posts) {
  std::string comments;
  for (const auto& post : posts) comments += (comments.empty() ? "" : ",") + post;
  return "{\"total_count\":" + totalCount + ",\"thread\":[1,1,\"\",0,0,\"" + title + "\"],\"comments\":[" +
         comments + "]}";
}

// A thread of three posts and its dat (UTF-8; the wire carries Shift_JIS).
const std::string kThreadJson =
    Answer("3", "テスト スレ", {Post("名無しさん", "sage", "0", "AbCd0", "", "一行目<br>二行目"),
                                Post("二人目", "", "1700000000", "XyZ", "2BP(1000)", "返信です"),
                                Post("三人目", "", "\"1700000060\"", "Qq9", "", "&gt;&gt;1")});
const std::string kThreadDat =
    "名無しさん<>sage<>1970/01/01(木) 09:00:00.00 ID:AbCd0<>一行目<br>二行目<>テスト スレ\n"
    "二人目<><>2023/11/15(水) 07:13:20.00 ID:XyZ BE:2BP(1000)<>返信です<>\n"
    "三人目<><>2023/11/15(水) 07:14:20.00 ID:Qq9<>&gt;&gt;1<>\n";

ScriptedResponse JsonAnswer(std::string body, bool withDate = true) {
  HeaderFields headers = {{"Content-Type", "application/json; charset=UTF-8"}};
  if (withDate) headers.insert(headers.begin(), {"Date", kBoardDate});
  return ScriptedResponse::Status(200, "OK", std::move(headers), std::move(body));
}

std::string DatRequest(const std::string& host, const std::string& path, const std::string& extraLines = "") {
  return "GET http://" + host + path + " HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: " + kReaderAgent +
         "\r\nAccept-Encoding: gzip\r\n" + extraLines + "\r\n";
}

class JsonRouteTest : public ::testing::Test {
 protected:
  void SetUp() override { environment_.ClearProxyAndCaVariables(); }

  // A proxy in JSON mode whose upstream traffic goes to the fake endpoint.
  std::unique_ptr<ProxyHarness> StartProxy(const ProxyHarness::Configure& configure = {}) {
    const std::string endpoint = endpoint_.Authority();
    return std::make_unique<ProxyHarness>([&](SettingValues& values) {
      values.DatMode = 4;
      values.ProxyMode = 2;
      values.Proxy = CDoubleString::FromUtf8(endpoint);
      if (configure) configure(values);
    });
  }

  // Sends one request as the reader and returns every byte of the answer.
  std::string Ask(ProxyHarness& proxy, const std::string& request) {
    const std::size_t rowsBefore = proxy.Shell().FinishedRows().size();
    LoopbackClient reader(proxy.Port());
    EXPECT_TRUE(reader.Connected());
    reader.Send(request);
    std::string answer = reader.ReadAll(5000);
    EXPECT_TRUE(proxy.Shell().WaitForFinishedRows(rowsBefore + 1, 5000));
    return answer;
  }

  std::string AskForThread(const ProxyHarness::Configure& configure = {}, const std::string& extraLines = "") {
    auto proxy = StartProxy(configure);
    std::string answer = Ask(*proxy, DatRequest("hayabusa9.5ch.net", "/news4vip/dat/1234567890.dat", extraLines));
    rows_ = proxy->Shell().FinishedRows();
    return answer;
  }

  ReceivedRequest OnlyRequest() {
    auto requests = endpoint_.Requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? ReceivedRequest{} : requests[0];
  }

  // The finished access-log row of the last request.
  LogRow LastRow() const { return rows_.empty() ? LogRow{} : rows_.back(); }

  ScopedEnvironment environment_;
  ScopedTimeZone tokyo_{"Asia/Tokyo"};
  FakeHttpServer endpoint_;
  std::vector<LogRow> rows_;
};

std::string FullHead(std::size_t length, bool withDate = true) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(length) +
         "\r\nConnection: keep-alive\r\nVary: Accept-Encoding\r\nServer: cloudflare-nginx\r\n" +
         (withDate ? std::string("Last-Modified: ") + kBoardDate + "\r\n" : "") + "\r\n";
}

TEST_F(JsonRouteTest, AnswersTheReaderWithTheThreadAsDat) {
  endpoint_.Enqueue(JsonAnswer(kThreadJson));
  const std::string dat = Utf8ToCp932(kThreadDat);
  EXPECT_EQ(AskForThread(), FullHead(dat.size()) + dat);
  EXPECT_EQ(LastRow().cells[4], u"JSON");
  EXPECT_EQ(LastRow().cells[5], u"成功");
  EXPECT_EQ(LastRow().cells[7], Utf8ToUtf16(std::to_string(FullHead(dat.size()).size() + dat.size())));
}

TEST_F(JsonRouteTest, AsksTheSecondaryEndpointWithTheHeaderLinesInOrder) {
  endpoint_.Enqueue(JsonAnswer(kThreadJson));
  AskForThread();
  const ReceivedRequest request = OnlyRequest();
  EXPECT_EQ(request.requestLine,
            "GET http://itest.5ch.net/public/newapi/client.php?subdomain=hayabusa9&board=news4vip&dat=1234567890 "
            "HTTP/1.1");
  EXPECT_EQ(request.Header("User-Agent"), SettingValues{}.HtmlUserAgent.Narrow()) << "UseHtmlUA is on by default";
  EXPECT_EQ(request.Header("Accept"), "text/html, application/xhtml+xml, */*");
  EXPECT_EQ(request.Header("Accept-Language"), "ja,en-us;q=0.7,en;q=0.3");
  EXPECT_EQ(request.Header("Accept-Encoding"), "gzip, deflate");
  EXPECT_EQ(request.Header("X-Requested-With"), "XMLHttpRequest");
  EXPECT_EQ(request.Header("Connection"), "close");
  EXPECT_FALSE(request.Header("If-Modified-Since").has_value());

  std::vector<std::string> ours;
  for (const auto& name : request.HeaderNames()) {
    if (name == "Connection" || name == "Accept-Language" || name == "Accept-Encoding" || name == "X-Requested-With") {
      ours.push_back(name);
    }
  }
  EXPECT_EQ(ours, (std::vector<std::string>{"Connection", "Accept-Language", "Accept-Encoding", "X-Requested-With"}));
}

TEST_F(JsonRouteTest, ThePrimaryEndpointWhenThe5chSwitchIsOff) {
  endpoint_.Enqueue(JsonAnswer(kThreadJson));
  AskForThread([](SettingValues& v) { v.Use5ch = 0; });
  EXPECT_EQ(OnlyRequest().target,
            "http://itest.2ch.net/public/newapi/client.php?subdomain=hayabusa9&board=news4vip&dat=1234567890");
}

TEST_F(JsonRouteTest, TheAdultDomainHasAnEndpointOfItsOwn) {
  for (int use5ch : {0, 1}) {
    endpoint_.Enqueue(JsonAnswer(kThreadJson));
    auto proxy = StartProxy([&](SettingValues& v) { v.Use5ch = use5ch; });
    const std::string answer = Ask(*proxy, DatRequest("mercury.bbspink.com", "/erocomic/dat/1600000000.dat"));
    EXPECT_EQ(HttpAnswer::Split(answer).body, Utf8ToCp932(kThreadDat));
  }
  const auto requests = endpoint_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.target,
              "http://itest.bbspink.com/public/newapi/client.php?subdomain=mercury&board=erocomic&dat=1600000000");
  }
}

TEST_F(JsonRouteTest, TheJsonUserAgentWhenUseHtmlUAIsOffAndIfModifiedSinceIsPassedOn) {
  endpoint_.Enqueue(JsonAnswer(kThreadJson));
  AskForThread(
      [](SettingValues& v) {
        v.UseHtmlUA = 0;
        v.JsonUserAgent = CDoubleString::FromUtf8("Mozilla/5.0 (JSON test)");
      },
      "If-Modified-Since: Mon, 07 Dec 2026 10:00:00 GMT\r\n");
  const ReceivedRequest request = OnlyRequest();
  EXPECT_EQ(request.Header("User-Agent"), "Mozilla/5.0 (JSON test)");
  EXPECT_EQ(request.Header("If-Modified-Since"), "Mon, 07 Dec 2026 10:00:00 GMT");
  const auto names = request.HeaderNames();
  const auto at = [&](const char* name) { return std::find(names.begin(), names.end(), name) - names.begin(); };
  EXPECT_LT(at("Accept-Encoding"), at("If-Modified-Since"));
  EXPECT_LT(at("If-Modified-Since"), at("X-Requested-With"));
}

TEST_F(JsonRouteTest, AnArchivedThreadTakesItsKeyFromTheLastSegment) {
  endpoint_.Enqueue(JsonAnswer(kThreadJson));
  auto proxy = StartProxy();
  const std::string answer = Ask(*proxy, DatRequest("hayabusa9.5ch.net", "/news/kako/dat/1234/1234567890.dat"));
  EXPECT_EQ(HttpAnswer::Split(answer).body, Utf8ToCp932(kThreadDat));
  EXPECT_EQ(OnlyRequest().target,
            "http://itest.5ch.net/public/newapi/client.php?subdomain=hayabusa9&board=news&dat=1234567890");
}

TEST_F(JsonRouteTest, TheTitleIsOnTheFirstLineOnlyAndTheDateInLocalTime) {
  endpoint_.Enqueue(JsonAnswer(kThreadJson));
  const std::string body = Cp932ToUtf8(HttpAnswer::Split(AskForThread()).body);
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < body.size();) {
    const std::size_t end = body.find('\n', start);
    lines.push_back(body.substr(start, end - start));
    start = end + 1;
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].ends_with("<>テスト スレ"));
  EXPECT_TRUE(lines[1].ends_with("<>返信です<>"));
  EXPECT_TRUE(lines[2].ends_with("<>&gt;&gt;1<>"));
  EXPECT_NE(lines[0].find("<>1970/01/01(木) 09:00:00.00 ID:AbCd0<>"), std::string::npos);
  EXPECT_NE(lines[1].find(" ID:XyZ BE:2BP(1000)<>"), std::string::npos);
}

TEST_F(JsonRouteTest, RemoveHalfSpaceFollowsTheSetting) {
  const std::string json = Answer("1", "t", {Post("a  b", "", "0", "i", "", "one   two")});
  endpoint_.Enqueue(JsonAnswer(json));
  EXPECT_EQ(HttpAnswer::Split(AskForThread()).body,
            Utf8ToCp932("a b<><>1970/01/01(木) 09:00:00.00 ID:i<>one two<>t\n"));
  endpoint_.Enqueue(JsonAnswer(json));
  EXPECT_EQ(HttpAnswer::Split(AskForThread([](SettingValues& v) { v.JsonRemoveHalfSpace = 0; })).body,
            Utf8ToCp932("a  b<><>1970/01/01(木) 09:00:00.00 ID:i<>one   two<>t\n"));
}

TEST_F(JsonRouteTest, NoPostsGiveAnEmptyFullAnswer) {
  endpoint_.Enqueue(JsonAnswer(Answer("0", "t", {Post("n", "", "0", "", "", "m")}), false));
  EXPECT_EQ(AskForThread(), FullHead(0, false));
  EXPECT_EQ(LastRow().cells[5], u"成功");
}

TEST_F(JsonRouteTest, AGzipAnswerIsDecoded) {
  ScriptedResponse gzip = JsonAnswer(kThreadJson);
  gzip.gzip = true;
  endpoint_.Enqueue(gzip);
  const std::string dat = Utf8ToCp932(kThreadDat);
  EXPECT_EQ(AskForThread(), FullHead(dat.size()) + dat);
}

TEST_F(JsonRouteTest, AGzipAnswerTooLargeOrBrokenFails) {
  // Decoded size in the trailer: one byte more than the limit.
  std::string tooLarge = GzipCompress(kThreadJson);
  const std::uint32_t size = 0xF0001;
  for (int i = 0; i < 4; ++i) tooLarge[tooLarge.size() - 4 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  std::string broken = GzipCompress(kThreadJson);
  for (std::size_t i = 12; i < 40; ++i) broken[i] = static_cast<char>(~broken[i]);

  for (const std::string& body : {tooLarge, broken}) {
    ScriptedResponse answer = ScriptedResponse::Status(200, "OK", {{"Content-Encoding", "gzip"}}, body);
    endpoint_.Enqueue(answer);
    EXPECT_EQ(AskForThread(), "");
    EXPECT_EQ(LastRow().cells[5], u"gzip error");
  }
}

TEST_F(JsonRouteTest, ARangeGivesTheNewPostsOrNotModified) {
  const std::string dat = Utf8ToCp932(kThreadDat);
  const std::size_t firstLine = dat.find('\n') + 1;

  endpoint_.Enqueue(JsonAnswer(kThreadJson));
  const HttpAnswer partial =
      HttpAnswer::Split(AskForThread({}, "Range: bytes=" + std::to_string(firstLine) + "-\r\n"));
  EXPECT_TRUE(partial.head.starts_with("HTTP/1.1 206 Partial Content\r\n"));
  EXPECT_EQ(partial.Header("Content-Range"), "bytes " + std::to_string(firstLine) + "-" +
                                                 std::to_string(dat.size() - 1) + "/" + std::to_string(dat.size()));
  EXPECT_EQ(partial.Header("Last-Modified"), kBoardDate);
  EXPECT_EQ(partial.body, dat.substr(firstLine));

  endpoint_.Enqueue(JsonAnswer(kThreadJson));
  const std::string notModified = AskForThread({}, "Range: bytes=" + std::to_string(dat.size()) + "-\r\n");
  EXPECT_EQ(notModified, std::string("HTTP/1.1 304 Not Modified\r\nConnection: close\r\nLast-Modified: ") +
                             kBoardDate + "\r\n\r\n");
}

TEST_F(JsonRouteTest, AnHtmlErrorPageFailsWithoutAnswering) {
  endpoint_.Enqueue(ScriptedResponse::Status(503, "Service Unavailable", {{"Content-Type", "text/html"}},
                                             "<html><body><h1>503 Service Unavailable</h1></body></html>"));
  EXPECT_EQ(AskForThread(), "");
  EXPECT_EQ(LastRow().cells[4], u"JSON");
  EXPECT_EQ(LastRow().cells[5], u"失敗(-1,0x00000000)");
  EXPECT_EQ(LastRow().cells[7], u"0");
}

// The dat may take twice the answer's length; posts of little JSON each
// would make it grow many-fold, and such an answer fails.
TEST_F(JsonRouteTest, ADatBeyondTwiceTheAnswerFailsWithoutAnswering) {
  endpoint_.Enqueue(JsonAnswer(Answer("2000", "t", std::vector<std::string>(2000, "[]"))));
  EXPECT_EQ(AskForThread(), "");
  EXPECT_EQ(LastRow().cells[5], u"失敗(-1,0x00000000)");
}

TEST_F(JsonRouteTest, AnswersOfAnotherShapeFailWithoutAnswering) {
  const std::string post = Post("n", "", "0", "", "", "m");
  const std::vector<std::string> bodies = {
      "[" + Answer("1", "t", {post}) + "]",
      R"({"total_count":1,"comments":[[1,"n","",0,"","","m"]]})",
      R"({"total_count":1,"thread":[1,2,3,4,5,"t"]})",
      R"({"thread":[1,2,3,4,5,"t"],"comments":[[1,"n","",0,"","","m"]]})",
      R"({"total_count":1,"thread":[1,2,3,4,5],"comments":[[1,"n","",0,"","","m"]]})",
      R"({"total_count":1,"thread":[1,2,3,4,5,6],"comments":[[1,"n","",0,"","","m"]]})",
      R"({"total_count":1,"thread":[1,2,3,4,5,"t"],"comments":"none"})",
      R"({"total_count":"1","thread":[1,2,3,4,5,"t"],"comments":[[1,"n","",0,"","","m"]]})",
      Answer("-1", "t", {post}),
  };
  for (const std::string& body : bodies) {
    endpoint_.Enqueue(JsonAnswer(body));
    EXPECT_EQ(AskForThread(), "") << body;
    EXPECT_EQ(LastRow().cells[5], u"失敗(-1,0x00000000)") << body;
  }
}

TEST_F(JsonRouteTest, AnEmojiArrivesAsANumericCharacterReference) {
  endpoint_.Enqueue(JsonAnswer(Answer("1", "t", {Post("n", "", "0", "i", "", "やった\\ud83d\\ude00")})));
  EXPECT_EQ(HttpAnswer::Split(AskForThread()).body,
            Utf8ToCp932("n<><>1970/01/01(木) 09:00:00.00 ID:i<>やった&#128512;<>t\n"));
}

TEST_F(JsonRouteTest, AnUnreachableEndpointFails) {
  std::string unreachable;
  {
    FakeHttpServer gone;
    unreachable = gone.Authority();
  }
  auto proxy = StartProxy([&](SettingValues& v) { v.Proxy = CDoubleString::FromUtf8(unreachable); });
  EXPECT_EQ(Ask(*proxy, DatRequest("hayabusa9.5ch.net", "/news4vip/dat/1234567890.dat")), "");
  EXPECT_EQ(proxy->Shell().FinishedRows().back().cells[5], u"SendHttpRequest失敗");
}

// Paths the dispatcher never hands over in JSON mode, asked of the route
// directly.
class JsonRouteDirectTest : public JsonRouteTest {
 protected:
  int Call(const std::string& request, std::string& received) {
    auto cfg = std::make_shared<SettingValues>();
    cfg->ProxyMode = 2;
    cfg->Proxy = CDoubleString::FromUtf8(endpoint_.Authority());
    CGateway ctx;
    ctx.cfg = cfg;
    Request parsed;
    EXPECT_EQ(ParseRequestHeader(request, parsed, true), 0);
    ReaderSocketPair pair;
    pair.StartCollecting();
    ctx.readerSocket = pair.ProxySide();
    const RouteResult result = GetDatByJson(ctx, parsed, RouteOptions{});
    pair.CloseProxySide();
    received = pair.WaitForEnd(5s);
    EXPECT_EQ(result.bytesSent, static_cast<std::int64_t>(received.size()));
    return result.Ok() ? 0 : result.code;
  }
};

TEST_F(JsonRouteDirectTest, AnArchivedPathWithoutDatUsesItsLastSegment) {
  endpoint_.Enqueue(JsonAnswer(kThreadJson));
  std::string received;
  EXPECT_EQ(Call(DatRequest("hayabusa9.5ch.net", "/news/kako/1234/12345/1234567890.dat"), received), 0);
  EXPECT_EQ(HttpAnswer::Split(received).body, Utf8ToCp932(kThreadDat));
  EXPECT_EQ(OnlyRequest().target,
            "http://itest.5ch.net/public/newapi/client.php?subdomain=hayabusa9&board=news&dat=1234567890");
}

TEST_F(JsonRouteDirectTest, APathWithoutAKeyFailsBeforeAsking) {
  std::string received;
  EXPECT_EQ(Call(DatRequest("hayabusa9.5ch.net", "/test/read.cgi/news/1234567890/"), received), -1);
  EXPECT_EQ(received, "");
  EXPECT_EQ(endpoint_.RequestCount(), 0u);
}

TEST_F(JsonRouteDirectTest, ReportsTheFailureCodes) {
  std::string received;
  endpoint_.Enqueue(JsonAnswer("<html>busy</html>"));
  EXPECT_EQ(Call(DatRequest("a.5ch.net", "/b/dat/1.dat"), received), -1);
  ScriptedResponse broken = ScriptedResponse::Status(200, "OK", {}, std::string("\x1F\x8B\x08\x00garbage!", 12));
  endpoint_.Enqueue(broken);
  EXPECT_EQ(Call(DatRequest("a.5ch.net", "/b/dat/1.dat"), received), 33039);
  endpoint_.Enqueue(JsonAnswer(Answer("-7", "t", {})));
  EXPECT_EQ(Call(DatRequest("a.5ch.net", "/b/dat/1.dat"), received), -7);
  EXPECT_EQ(received, "");
  endpoint_.Stop();
  EXPECT_EQ(Call(DatRequest("a.5ch.net", "/b/dat/1.dat"), received), 33037);
}

}  // namespace
}  // namespace tav::test
