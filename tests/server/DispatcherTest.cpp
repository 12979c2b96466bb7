#include <gtest/gtest.h>

#include "net/CGateway.h"
#include "server/Dispatcher.h"
#include "net/RequestParser.h"
#include "config/CSetting.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"

namespace tav::test {
namespace {

Request Parse(std::string_view text) {
  Request request;
  EXPECT_EQ(ParseRequestHeader(text, request, true), 0);
  return request;
}

std::string Get(std::string_view host, std::string_view path) {
  return "GET http://" + std::string(host) + std::string(path) + " HTTP/1.1\r\nHost: " + std::string(host) +
         "\r\n\r\n";
}

TEST(Classify, BoardRequestsByPathAndHost) {
  auto cfg = std::make_shared<SettingValues>();
  auto classify = [&](std::string_view host, std::string_view path) {
    return ClassifyRequest(*cfg, Parse(Get(host, path)));
  };
  EXPECT_EQ(classify("egg.2ch.net", "/board/dat/123.dat"), ClassDat);
  EXPECT_EQ(classify("egg.5ch.net", "/board/dat/123.dat"), ClassDat);
  EXPECT_EQ(classify("pie.bbspink.com", "/board/dat/123.dat"), ClassDat);
  EXPECT_EQ(classify("www.example.test", "/board/dat/123.dat"), ClassPassThrough);
  EXPECT_EQ(classify("egg.2ch.net", "/board/kako/1/subject.txt"), ClassSubject);
  EXPECT_EQ(classify("headline.2ch.net", "/bbynews/dat/1.dat"), ClassHeadlineDat);
  EXPECT_EQ(classify("egg.2ch.net", "/board/kako/123/1234567890.dat"), ClassPassThrough);
  cfg->KakoLogHtml = 1;
  EXPECT_EQ(classify("egg.2ch.net", "/board/kako/123/dat/1234567890.dat"), ClassKakoHtml);
  EXPECT_EQ(classify("egg.2ch.net", "/test/read.cgi/board/1/"), ClassPassThrough);
}

TEST(Classify, AutoRulesPickTheModeInOrder) {
  auto cfg = std::make_shared<SettingValues>();
  cfg->DatMode = 6;
  cfg->AutoRules = {CAutoRule{u"#carpenter", 4}, CAutoRule{u"/news/", 1}, CAutoRule{u"*", 2}};
  EXPECT_EQ(EffectiveMode(*cfg, Parse(Get("carpenter.2ch.net", "/a/dat/1.dat"))), 4);
  EXPECT_EQ(EffectiveMode(*cfg, Parse(Get("egg.2ch.net", "/news/dat/1.dat"))), 1);
  EXPECT_EQ(EffectiveMode(*cfg, Parse(Get("egg.2ch.net", "/a/dat/1.dat"))), 2);
  cfg->AutoRules = {CAutoRule{u"#carpenter", 4}};
  EXPECT_EQ(EffectiveMode(*cfg, Parse(Get("egg.2ch.net", "/a/dat/1.dat"))), 6) << "no rule matched";
  cfg->DatMode = 3;
  EXPECT_EQ(EffectiveMode(*cfg, Parse(Get("carpenter.2ch.net", "/a/dat/1.dat"))), 3);
}

// Dat requests end up in the route of their mode, with its label; the routes
// that fail here write nothing and are logged as failures.
TEST(Dispatch, LabelsFollowModeAndRules) {
  ProxyHarness proxy([](SettingValues& v) {
    v.DatMode = 6;
    v.AutoRules = {CAutoRule{u"#carpenter", 0}, CAutoRule{u"#jsonhost", 4}, CAutoRule{u"*", 3}};
  });
  auto send = [&](std::string_view host, std::string_view path) {
    LoopbackClient reader(proxy.Port());
    reader.Send(Get(host, path));
    reader.WaitForClose(1500);
  };
  send("carpenter.2ch.net", "/a/dat/1.dat");
  send("jsonhost.2ch.net", "/a/dat/2.dat");
  send("egg.2ch.net", "/a/dat/3.dat");
  send("www.example.test", "/a/dat/4.dat");
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(4));
  auto rows = proxy.Shell().FinishedRows();
  EXPECT_EQ(rows[0].cells[4], u"直接");
  EXPECT_EQ(rows[1].cells[4], u"JSON");
  EXPECT_EQ(rows[1].cells[5], u"失敗(-1,0x00000000)") << "the JSON route's own failure";
  EXPECT_EQ(rows[1].image, 0);
  EXPECT_EQ(rows[2].cells[4], u"Style");
  EXPECT_EQ(rows[3].cells[4], u"直接");
  EXPECT_EQ(rows[3].cells[5], u"成功");
  EXPECT_EQ(rows[3].image, 1);
  EXPECT_EQ(rows[0].cells[1].size(), 19u) << "local time column";
}

TEST(Dispatch, ConnectIsLabelledSsl) {
  ProxyHarness proxy;
  LoopbackClient reader(proxy.Port());
  // A loopback target that refuses: the tunnel connects directly, so a name
  // here would be looked up outside the machine.
  reader.Send(std::string("CONNECT ") + kRefusingProxy + " HTTP/1.1\r\nHost: " + kRefusingProxy + "\r\n\r\n");
  ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(1));
  EXPECT_EQ(proxy.Shell().FinishedRows()[0].cells[4], u"SSL");
}

// The reader gets the proxy's own answer and its connection closes; the row
// and the tray show the failure.
TEST(Dispatch, UpstreamFailuresAreAnsweredAndLoggedAsFailures) {
  std::string gone;
  {
    FakeHttpServer server;
    gone = server.Authority();
  }
  FakeHttpServer silent;
  silent.SetHandler([](const ReceivedRequest&) { return ScriptedResponse::Silence(); });
  FakeHttpServer refusing;  // an upstream proxy that wants credentials
  refusing.SetHandler([](const ReceivedRequest&) {
    return ScriptedResponse::Status(407, "Proxy Authentication Required", {{"Proxy-Authenticate", "Basic"}});
  });
  FakeHttpServer cutting;
  cutting.SetHandler(
      [](const ReceivedRequest&) { return ScriptedResponse::Raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort"); });
  const std::string kBadGateway = "HTTP/1.1 502 Bad Gateway\r\n";
  const auto get = [](const std::string& url, const std::string& host) {
    return "GET " + url + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
  };
  const auto connect = [](const std::string& target) {
    return "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n";
  };
  struct Row {
    std::string upstreamProxy;  // empty: direct
    std::string request;
    std::string answerStart;
    std::string answerMentions;
    std::u16string status;
  };
  const Row rows[] = {
      {"", get("http://" + gone + "/", gone), kBadGateway, gone, u"connect() 失敗"},
      {"", get("http://no-such-host.invalid/", "no-such-host.invalid"), kBadGateway, "no-such-host.invalid:80",
       u"gethostbyname() 失敗"},
      {silent.Authority(), get("http://www.example.test/", "www.example.test"), "HTTP/1.1 504 Gateway Timeout\r\n",
       "www.example.test:80", u"受信タイムアウト"},
      {refusing.Authority(), get("https://www.example.test/", "www.example.test"), kBadGateway, "407",
       u"プロキシエラー"},
      {cutting.Authority(), get("http://www.example.test/", "www.example.test"),
       "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", "short", u"失敗"},
      {"", connect(gone), kBadGateway, gone, u"失敗"},
      {"", connect("no!such!host.invalid:443"), kBadGateway, "no!such!host.invalid:443", u"失敗"},
  };
  for (const Row& row : rows) {
    ProxyHarness proxy([&](SettingValues& v) {
      v.ProxyMode = row.upstreamProxy.empty() ? 0 : 2;
      v.Proxy = CDoubleString::FromUtf8(row.upstreamProxy);
      v.ReceiveTimeOut = 1000;
    });
    LoopbackClient reader(proxy.Port());
    reader.Send(row.request);
    const std::string answer = reader.ReadAll(2500);
    EXPECT_TRUE(reader.WaitForClose(300)) << "closed before the idle limit: " << row.request;
    EXPECT_TRUE(answer.starts_with(row.answerStart)) << answer;
    EXPECT_NE(answer.find(row.answerMentions), std::string::npos) << answer;
    ASSERT_TRUE(proxy.Shell().WaitForFinishedRows(1)) << row.request;
    const auto finished = proxy.Shell().FinishedRows()[0];
    EXPECT_EQ(finished.cells[5], row.status) << row.request;
    EXPECT_EQ(finished.image, 0) << row.request;
    EXPECT_TRUE(proxy.Shell().TrayErrorFlag()) << row.request;
  }
}

}  // namespace
}  // namespace tav::test
