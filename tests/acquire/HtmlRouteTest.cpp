// The HTML route end to end: a reader asks the proxy for a dat, the proxy
// asks a fake board (reached as the upstream proxy, so that its request names
// the real board host) for the thread's read.cgi page and answers with the
// dat converted from it.

#include "acquire/HtmlRoute.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ConverterTestPages.h"
#include "acquire/HtmlConverter.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"
#include "support/ScopedEnvironment.h"
#include "support/TestCertificateAuthority.h"

namespace tav::test {
namespace {

using namespace std::chrono_literals;
using testpages::Layout;

constexpr char kBoardDate[] = "Tue, 08 Dec 2026 16:05:05 GMT";
constexpr char kThreadPath[] = "/applism/dat/1517988732.dat";

std::string DatRequest(const std::string& host, const std::string& path, const std::string& extra = "") {
  return "GET http://" + host + path + " HTTP/1.1\r\nHost: " + host +
         "\r\nUser-Agent: Monazilla/1.00 JaneStyle/4.23\r\nAccept-Encoding: gzip\r\n" + extra + "\r\n";
}

std::string RangeLine(std::size_t start) { return "Range: bytes=" + std::to_string(start) + "-\r\n"; }

ScriptedResponse PageAnswer(std::string page) {
  return ScriptedResponse::Status(200, "OK", {{"Date", kBoardDate}, {"Content-Type", "text/html; charset=Shift_JIS"}},
                                  std::move(page));
}

class HtmlRouteTest : public ::testing::Test {
 protected:
  void SetUp() override { environment_.ClearProxyAndCaVariables(); }

  std::unique_ptr<ProxyHarness> StartProxy(const ProxyHarness::Configure& configure = {}) {
    const std::string upstream = board_.Authority();
    return std::make_unique<ProxyHarness>([&](SettingValues& values) {
      values.DatMode = 2;
      values.ProxyMode = 2;
      values.Proxy = CDoubleString::FromUtf8(upstream);
      if (configure) configure(values);
    });
  }


  ScopedEnvironment environment_;
  FakeHttpServer board_;
};

TEST_F(HtmlRouteTest, EveryLayoutIsAnsweredAsADat) {
  for (Layout layout : {Layout::kDiv, Layout::kDtSpan, Layout::kMeta, Layout::kDl}) {
    auto proxy = StartProxy();
    std::string page = testpages::Page(layout, "テスト", testpages::Numbered({1, 2, 3}));
    board_.Enqueue(PageAnswer(page));
    auto answer = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath)));
    std::string expected = testpages::DatOf(page);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(answer.head.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(answer.Header("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(answer.Header("Last-Modified"), kBoardDate);
    EXPECT_EQ(answer.body, expected) << "layout " << static_cast<int>(layout);
    ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(1));
    auto row = proxy->Shell().FinishedRows()[0];
    EXPECT_EQ(row.cells[4], u"HTML");
    EXPECT_EQ(row.cells[5], u"成功");
    EXPECT_EQ(row.cells[7], Utf8ToUtf16(std::to_string(answer.head.size() + answer.body.size())));
  }
}

TEST_F(HtmlRouteTest, AsksTheBoardForTheReadCgiPageWithItsHeaderLines) {
  auto proxy = StartProxy();
  board_.Enqueue(PageAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1}))));
  proxy->Ask(DatRequest("egg.2ch.net", kThreadPath, "If-Modified-Since: Mon, 07 Dec 2026 00:00:00 GMT\r\n"));
  ASSERT_EQ(board_.RequestCount(), 1u);
  auto request = board_.Requests()[0];
  EXPECT_EQ(request.requestLine, "GET http://egg.5ch.io/test/read.cgi/applism/1517988732/ HTTP/1.1");
  EXPECT_EQ(request.Header("User-Agent").value_or(""),
            "Mozilla/5.0 (Windows NT 6.3; WOW64; Trident/7.0; Touch; rv:11.0) like Gecko");
  EXPECT_EQ(request.Header("Accept-Language").value_or(""), "ja,en-US;q=0.7,en;q=0.3");
  EXPECT_EQ(request.Header("Accept-Encoding").value_or(""), "gzip, deflate");
  EXPECT_EQ(request.Header("If-Modified-Since").value_or(""), "Mon, 07 Dec 2026 00:00:00 GMT");
  EXPECT_EQ(request.Header("Accept").value_or(""), "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
}

TEST_F(HtmlRouteTest, DomainFollowsTheSwitchAndTheAdultDomain) {
  auto proxy = StartProxy([](SettingValues& v) { v.Use5ch = 0; });
  for (int i = 0; i < 2; ++i) board_.Enqueue(PageAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1}))));
  proxy->Ask(DatRequest("egg.5ch.net", kThreadPath));
  proxy->Ask(DatRequest("pie.bbspink.com", "/adult/dat/1.dat"));
  ASSERT_EQ(board_.RequestCount(), 2u);
  EXPECT_EQ(board_.Requests()[0].target, "http://egg.2ch.net/test/read.cgi/applism/1517988732/");
  EXPECT_EQ(board_.Requests()[1].target, "http://pie.bbspink.com/test/read.cgi/adult/1/");
}

TEST_F(HtmlRouteTest, AliasHostsAndExplicitPortsReachTheSecondaryDomain) {
  auto proxy = StartProxy();
  for (int i = 0; i < 2; ++i) board_.Enqueue(PageAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1}))));
  // The way JDim asks: the scheme and the default port in the target and Host.
  proxy->Ask("GET http://egg.5ch.net:80/applism/dat/1517988732.dat HTTP/1.1\r\nHost: egg.5ch.net:80\r\n"
              "Connection: close\r\nAccept-Encoding: gzip\r\nUser-Agent: Monazilla/1.00 JD\r\n\r\n");
  proxy->Ask(DatRequest("egg.5ch.io", kThreadPath));
  ASSERT_EQ(board_.RequestCount(), 2u);
  EXPECT_EQ(board_.Requests()[0].target, "http://egg.5ch.io/test/read.cgi/applism/1517988732/");
  EXPECT_EQ(board_.Requests()[1].target, "http://egg.5ch.io/test/read.cgi/applism/1517988732/");
}

TEST_F(HtmlRouteTest, HtmlSslFetchesThePageOverHttps) {
  FakeHttpServer secureBoard(FakeHttpServer::Options{.tls = false, .acceptConnect = true});
  environment_.Set("SSL_CERT_FILE", TestCertificateAuthority::Instance().CaFile());
  const std::string upstream = secureBoard.Authority();
  ProxyHarness proxy([&](SettingValues& v) {
    v.HtmlSSL = 1;
    v.ProxyMode = 2;
    v.Proxy = CDoubleString::FromUtf8(upstream);
  });
  std::string page = testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 2}));
  secureBoard.Enqueue(PageAnswer(page));
  auto answer = HttpAnswer::Split(proxy.Ask(DatRequest("egg.2ch.net", kThreadPath)));
  EXPECT_EQ(answer.body, testpages::DatOf(page));
  auto requests = secureBoard.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_TRUE(requests.back().tls);
  EXPECT_EQ(requests.back().Header("Host").value_or(""), "egg.5ch.io");
}

TEST_F(HtmlRouteTest, RangeRequestsGetPartialAndNotModifiedAnswers) {
  auto proxy = StartProxy();
  std::string page = testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 2, 3}));
  std::string dat = testpages::DatOf(page);
  const std::size_t middle = dat.find('\n') + 1;
  for (int i = 0; i < 3; ++i) board_.Enqueue(PageAnswer(page));

  auto partial = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath, RangeLine(middle))));
  EXPECT_EQ(partial.head.substr(0, 28), "HTTP/1.1 206 Partial Content");
  EXPECT_EQ(partial.Header("Content-Range"),
            "bytes " + std::to_string(middle) + "-" + std::to_string(dat.size() - 1) + "/" + std::to_string(dat.size()));
  EXPECT_EQ(partial.body, dat.substr(middle));

  auto same = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath, RangeLine(dat.size()))));
  EXPECT_EQ(same.head, std::string("HTTP/1.1 304 Not Modified\r\nConnection: close\r\nLast-Modified: ") + kBoardDate +
                           "\r\n\r\n");

  auto beyond = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath, RangeLine(dat.size() + 5))));
  EXPECT_EQ(beyond.body, "*");
  EXPECT_EQ(beyond.Header("Content-Range"), "bytes " + std::to_string(dat.size() + 5) + "-" +
                                                std::to_string(dat.size() - 1) + "/" + std::to_string(dat.size()));
}

TEST_F(HtmlRouteTest, DiffModeAsksOnlyForNewPosts) {
  auto proxy = StartProxy([](SettingValues& v) { v.DiffMode = 1; });
  std::string first = testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 2, 3}));
  std::string firstDat = testpages::DatOf(first);
  board_.Enqueue(PageAnswer(first));
  // The reader already holds posts 1 and 2.
  const std::size_t held = firstDat.find('\n', firstDat.find('\n') + 1) + 1;
  auto answer = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath, RangeLine(held))));
  EXPECT_EQ(answer.body, firstDat.substr(held));
  EXPECT_EQ(board_.Requests().back().target, "http://egg.5ch.io/test/read.cgi/applism/1517988732/");

  // Refresh: the board is asked for posts 3- and sends post 1, 3, 4, 5.
  std::string refresh = testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 3, 4, 5}));
  board_.Enqueue(PageAnswer(refresh));
  auto update = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath, RangeLine(firstDat.size()))));
  EXPECT_EQ(board_.Requests().back().target, "http://egg.5ch.io/test/read.cgi/applism/1517988732/3-");
  std::string all = testpages::DatOf(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 2, 3, 4, 5})));
  EXPECT_EQ(update.head.substr(0, 12), "HTTP/1.1 206");
  EXPECT_EQ(update.body, all.substr(firstDat.size()));
  EXPECT_EQ(update.Header("Content-Range"), "bytes " + std::to_string(firstDat.size()) + "-" +
                                                std::to_string(all.size() - 1) + "/" + std::to_string(all.size()));
  ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(2));
  EXPECT_EQ(proxy->Shell().FinishedRows()[1].cells[7],
            Utf8ToUtf16(std::to_string(update.head.size() + update.body.size())));

  // Nothing new: 304.
  board_.Enqueue(PageAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 5}))));
  auto none = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath, RangeLine(all.size()))));
  EXPECT_EQ(board_.Requests().back().target, "http://egg.5ch.io/test/read.cgi/applism/1517988732/5-");
  EXPECT_EQ(none.head.substr(0, 12), "HTTP/1.1 304");
}

// Whatever the reader writes after "bytes=", the answer follows from the
// range start read from the digits before the "-" (none: 0; too large: no
// range), and the proxy goes on serving.
TEST_F(HtmlRouteTest, EveryRangeValueIsAnsweredByItsStart) {
  struct Row {
    const char* range;
    int uncached;        // no cache entry, or DiffMode off: cut from the whole dat
    int cachedDiffMode;  // DiffMode on and the thread cached: only new posts count
  };
  const Row rows[] = {
      {"-500", 206, 304},        // start 0
      {"0-", 206, 304},          // start 0
      {"10-20", 206, 304},       // start 10; the end is ignored
      {"2147483648-", 200, 200}, // does not fit: no range
      {"abc-", 206, 304},        // start 0
      {"1-2,5-6", 206, 304},     // start 1
  };
  // The whole thread is 1, 2, 3; asked for the posts after the cached ones,
  // the board has nothing new.
  board_.SetHandler([](const ReceivedRequest& request) {
    const bool newPostsOnly = request.target.ends_with("-");
    return PageAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered(newPostsOnly ? std::initializer_list<int>{1, 3}
                                                                                          : std::initializer_list<int>{1, 2, 3})));
  });
  auto status = [](const std::string& answer) { return answer.substr(0, 12); };
  int key = 1000;
  for (int diffMode : {0, 1}) {
    auto proxy = StartProxy([diffMode](SettingValues& v) { v.DiffMode = diffMode; });
    for (const Row& row : rows) {
      for (bool cached : {false, true}) {
        const std::string path = "/a/dat/" + std::to_string(++key) + ".dat";
        if (cached) proxy->Ask(DatRequest("egg.2ch.net", path, RangeLine(0)));
        const std::string answer =
            proxy->Ask(DatRequest("egg.2ch.net", path, std::string("Range: bytes=") + row.range + "\r\n"));
        const int expected = cached && diffMode == 1 ? row.cachedDiffMode : row.uncached;
        EXPECT_EQ(status(answer), "HTTP/1.1 " + std::to_string(expected))
            << row.range << (cached ? " cached" : " uncached") << " DiffMode " << diffMode;
        EXPECT_EQ(status(proxy->Ask(DatRequest("egg.2ch.net", path))), "HTTP/1.1 200") << "still serving";
      }
    }
  }
}

TEST_F(HtmlRouteTest, DiffModeCacheEvictsTheOldestThread) {
  auto proxy = StartProxy([](SettingValues& v) {
    v.DiffMode = 1;
    v.DatCacheCount = 2;
  });
  board_.SetHandler([](const ReceivedRequest&) {
    return PageAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 2, 3})));
  });
  for (const char* key : {"/a/dat/1.dat", "/a/dat/2.dat", "/a/dat/3.dat", "/a/dat/1.dat", "/a/dat/3.dat"}) {
    proxy->Ask(DatRequest("egg.2ch.net", key, RangeLine(10)));
  }
  auto requests = board_.Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[3].target, "http://egg.5ch.io/test/read.cgi/a/1/") << "thread 1 was evicted by thread 3";
  EXPECT_EQ(requests[4].target, "http://egg.5ch.io/test/read.cgi/a/3/3-") << "thread 3 is still cached";
}

TEST_F(HtmlRouteTest, ArchivedPathsUseTheHtmlRouteOnlyWithKakoLogHtml) {
  std::string page = testpages::Page(Layout::kDiv, "t", testpages::Numbered({1}));
  {
    auto proxy = StartProxy([](SettingValues& v) { v.KakoLogHtml = 1; });
    board_.Enqueue(PageAnswer(page));
    auto answer = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", "/applism/kako/1517/15179/1517988732.dat")));
    EXPECT_EQ(answer.body, testpages::DatOf(page));
    EXPECT_EQ(board_.Requests().back().target, "http://egg.5ch.io/test/read.cgi/applism/1517988732/");
    ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(1));
    EXPECT_EQ(proxy->Shell().FinishedRows()[0].cells[4], u"HTML(過去)");
  }
  {
    auto proxy = StartProxy();
    board_.Enqueue(ScriptedResponse::Ok("raw archive"));
    proxy->Ask(DatRequest("egg.2ch.net", "/applism/kako/1517/15179/1517988732.dat", "Connection: close\r\n"));
    EXPECT_EQ(board_.Requests().back().target, "http://egg.5ch.io/applism/kako/1517/15179/1517988732.dat");
    ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(1));
    EXPECT_EQ(proxy->Shell().FinishedRows()[0].cells[4], u"直接");
  }
}

TEST_F(HtmlRouteTest, OverloadedBoardGetsANotModifiedAnswer) {
  auto proxy = StartProxy();
  board_.Enqueue(PageAnswer(testpages::Page(Layout::kDiv, "もうずっと人大杉", testpages::Numbered({1}))));
  std::string answer = proxy->Ask(DatRequest("egg.2ch.net", kThreadPath));
  EXPECT_EQ(answer, "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n");
  ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(1));
  EXPECT_EQ(proxy->Shell().FinishedRows()[0].cells[5], u"人大杉");
}

TEST_F(HtmlRouteTest, OriginErrorSendsNothingAndOpensTheFtpBugTool) {
  auto proxy = StartProxy([](SettingValues& v) { v.FixFTPBug = 1; });
  board_.Enqueue(ScriptedResponse::Status(520, "Origin Error", {}, "broken"));
  EXPECT_EQ(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath)), "");
  ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(1));
  auto row = proxy->Shell().FinishedRows()[0];
  EXPECT_EQ(row.cells[5], u"ftp:// bug thread ?");
  EXPECT_EQ(row.image, 0);
  EXPECT_EQ(proxy->Shell().FtpBugDialogs(), std::vector<std::string>{"egg/applism/1517988732"});
}

TEST_F(HtmlRouteTest, OversizedGzipIsAskedForAgainUncompressed) {
  auto proxy = StartProxy();
  std::string page = testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 2}));
  std::string gzip = GzipCompress(page);
  gzip.replace(gzip.size() - 4, 4, std::string("\x01\x00\x0F\x00", 4));  // states 983,041 bytes
  board_.Enqueue(ScriptedResponse::Status(200, "OK", {{"Content-Encoding", "gzip"}}, gzip));
  board_.Enqueue(PageAnswer(page));
  auto answer = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath)));
  EXPECT_EQ(answer.body, testpages::DatOf(page));
  auto requests = board_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].Header("Accept-Encoding").has_value());
  EXPECT_FALSE(requests[1].Header("Accept-Encoding").has_value());
}

TEST_F(HtmlRouteTest, GzipPageIsInflated) {
  auto proxy = StartProxy();
  std::string page = testpages::Page(Layout::kDtSpan, "t", testpages::Numbered({1, 2}));
  board_.Enqueue(ScriptedResponse::Status(200, "OK", {{"Content-Encoding", "gzip"}}, GzipCompress(page)));
  auto answer = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath)));
  EXPECT_EQ(answer.body, testpages::DatOf(page));
}

TEST_F(HtmlRouteTest, BrokenPostsAreLeftOutOfASegmentedFetch) {
  auto proxy = StartProxy([](SettingValues& v) {
    v.FixFTPBug = 1;
    v.FtpBugEntries = {FtpBugEntry{u"applism", u"1517988732", {5, 9}}};
  });
  board_.Enqueue(PageAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 2, 3, 4}))));
  board_.Enqueue(PageAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 6, 7, 8}))));
  board_.Enqueue(PageAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 10, 11}))));
  auto answer = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath)));

  auto requests = board_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, "http://egg.5ch.io/test/read.cgi/applism/1517988732/1-4");
  EXPECT_EQ(requests[1].target, "http://egg.5ch.io/test/read.cgi/applism/1517988732/6-8");
  EXPECT_EQ(requests[2].target, "http://egg.5ch.io/test/read.cgi/applism/1517988732/10-");

  // Posts 1-4, a filler for 5, 6-8, a filler for 9, 10 and 11: one line each.
  std::string filler = Sjis("ftpバグ<>ftpバグ<>ftpバグ<>ftpバグ<>\n");
  std::string whole = testpages::DatOf(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})));
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < whole.size();) {
    std::size_t end = whole.find('\n', at) + 1;
    lines.push_back(whole.substr(at, end - at));
    at = end;
  }
  ASSERT_EQ(lines.size(), 11u);
  std::string expected;
  for (std::size_t i = 0; i < lines.size(); ++i) expected += (i == 4 || i == 8) ? filler : lines[i];
  EXPECT_EQ(answer.body, expected);
}

TEST_F(HtmlRouteTest, PageWithoutPostsFailsAndSendsNothing) {
  auto proxy = StartProxy();
  board_.Enqueue(PageAnswer(Sjis("<html>\n<head><title>エラー</title>\n</head>\n<body>not found</body></html>\n")));
  EXPECT_EQ(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath)), "");
  ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(1));
  EXPECT_EQ(proxy->Shell().FinishedRows()[0].cells[5].substr(0, 6), u"失敗(-6,");
}

TEST_F(HtmlRouteTest, TodaysLayoutsAnswerTheirDatAndARangeRefreshContinuesIt) {
  const std::string title = "今日のスレ";
  for (bool regexMode : {true, false}) {
    for (Layout layout : {Layout::kClearPost, Layout::kClearPostAdult}) {
      SCOPED_TRACE(std::string(regexMode ? "regex mode, " : "") + (layout == Layout::kClearPost ? "main" : "adult"));
      auto proxy = StartProxy([&](SettingValues& v) { v.BregexpMode = regexMode ? 1 : 0; });
      board_.Enqueue(PageAnswer(testpages::Page(layout, title, testpages::TodaysPosts(5))));
      auto full = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath)));
      EXPECT_EQ(full.head.substr(0, 15), "HTTP/1.1 200 OK");
      EXPECT_EQ(full.body, testpages::TodaysDat(5, title));

      board_.Enqueue(PageAnswer(testpages::Page(layout, title, testpages::TodaysPosts(7))));
      auto more = HttpAnswer::Split(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath, RangeLine(full.body.size()))));
      const std::string whole = testpages::TodaysDat(7, title);
      EXPECT_EQ(more.head.substr(0, 12), "HTTP/1.1 206");
      EXPECT_EQ(full.body + more.body, whole);
      EXPECT_EQ(more.Header("Content-Range"), "bytes " + std::to_string(full.body.size()) + "-" +
                                                  std::to_string(whole.size() - 1) + "/" + std::to_string(whole.size()));
      ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(2));
      for (const auto& row : proxy->Shell().FinishedRows()) EXPECT_EQ(row.cells[5], u"成功");
    }
  }
}

TEST_F(HtmlRouteTest, EmptyBodiesAreFailures) {
  auto proxy = StartProxy();
  board_.Enqueue(ScriptedResponse::Status(302, "Found", {{"Location", "http://example.org/"}}, ""));
  board_.Enqueue(ScriptedResponse::Status(200, "OK", {}, ""));
  EXPECT_EQ(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath)), "");
  EXPECT_EQ(proxy->Ask(DatRequest("egg.2ch.net", kThreadPath)), "");
  ASSERT_TRUE(proxy->Shell().WaitForFinishedRows(2));
  auto rows = proxy->Shell().FinishedRows();
  EXPECT_EQ(rows[0].cells[5].substr(0, 8), u"失敗(-302,");
  EXPECT_EQ(rows[1].cells[5].substr(0, 8), u"失敗(-990,");
}

}  // namespace
}  // namespace tav::test
