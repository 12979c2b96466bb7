// The thread list route end to end: a reader asks the proxy for a board's
// subject.txt or for a headline board's dat, and the proxy asks a fake board
// (reached as the upstream proxy, so that its requests name the real board
// hosts) for the board's subback.html or index.html.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ConverterTestPages.h"
#include "acquire/HtmlConverter.h"
#include "acquire/SubjectRoute.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"
#include "support/ScopedEnvironment.h"
#include "support/TestCertificateAuthority.h"

namespace tav::test {
namespace {

using testpages::Layout;

constexpr char kBoardDate[] = "Tue, 08 Dec 2026 16:05:05 GMT";
constexpr char kReaderAgent[] = "Monazilla/1.00 JaneStyle/4.23";
constexpr char kSubjectUrl[] = "http://egg.2ch.net/applism/subject.txt";
// The domain the boards are asked under with the "5ch" switch on.
const std::string kSecondary = SettingValues{}.Domains.Secondary;

std::string ReaderRequest(const std::string& url, const std::string& extra = "") {
  const std::size_t hostStart = url.find("//") + 2;
  const std::string host = url.substr(hostStart, url.find('/', hostStart) - hostStart);
  return "GET " + url + " HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: " + kReaderAgent +
         "\r\nAccept-Encoding: gzip\r\n" + extra + "\r\n";
}

ScriptedResponse HtmlAnswer(std::string page) {
  return ScriptedResponse::Status(
      200, "OK", {{"Date", kBoardDate}, {"Content-Type", "text/html; charset=Shift_JIS"}}, std::move(page));
}

// A list link as the subback page writes it.
std::string ListLink(const std::string& key, int number, const std::string& title) {
  return "<a href=\"" + key + "/l50\">" + std::to_string(number) + ": " + title + "</a>\n";
}

// A subback page in Shift_JIS around the given links, with the page's own
// navigation links before and after them.
std::string SubbackPage(const std::string& links) {
  return Sjis(
             "<html><head><title>スレッド一覧</title></head><body>\n"
             "<div><a href=\"../\">■掲示板に戻る■</a> <a href=\"./\">全部</a></div>\n<small id=\"trad\">\n") +
         links +
         Sjis(
             "</small>\n<div align=\"right\"><a "
             "href=\"//www.5ch.net/\">5ちゃんねる</a></div></body></html>\n");
}

class SubjectRouteTest : public ::testing::Test {
 protected:
  void SetUp() override { environment_.ClearProxyAndCaVariables(); }

  std::unique_ptr<ProxyHarness> StartProxy(const ProxyHarness::Configure& configure = {}) {
    const std::string upstream = board_.Authority();
    return std::make_unique<ProxyHarness>([&](SettingValues& values) {
      values.DatMode = 2;
      values.SubjectSubback = 1;
      values.ProxyMode = 2;
      values.Proxy = CDoubleString::FromUtf8(upstream);
      if (configure) configure(values);
    });
  }


  static LogRow OnlyRow(ProxyHarness& proxy) {
    EXPECT_TRUE(proxy.Shell().WaitForFinishedRows(1));
    auto rows = proxy.Shell().FinishedRows();
    return rows.empty() ? LogRow{} : rows[0];
  }

  ScopedEnvironment environment_;
  FakeHttpServer board_;
};

// --- subject.txt from subback.html -----------------------------------------

TEST_F(SubjectRouteTest, TwoListLinksGiveTwoLinesAnsweredInFull) {
  auto proxy = StartProxy();
  board_.Enqueue(HtmlAnswer(ListLink("1517988732", 1, "A (10)") + ListLink("1517000001", 2, "B (20)")));
  auto answer = HttpAnswer::Split(proxy->Ask(ReaderRequest(kSubjectUrl)));

  EXPECT_EQ(answer.head.substr(0, 17), "HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(answer.Header("Content-Length"), "46");
  EXPECT_EQ(answer.Header("Last-Modified"), kBoardDate);
  EXPECT_EQ(answer.body, "1517988732.dat<>A (10)\n1517000001.dat<>B (20)\n");
  LogRow row = OnlyRow(*proxy);
  EXPECT_EQ(row.cells[4], u"HTML");
  EXPECT_EQ(row.cells[5], u"成功");
  EXPECT_NE(row.cells[6], u"0") << "the fetch shows its progress in the row";
  EXPECT_EQ(row.cells[7], Utf8ToUtf16(std::to_string(answer.head.size() + answer.body.size())));
}

TEST_F(SubjectRouteTest, AsksForTheSubbackPageWithTheReadersAgentAndNoCompression) {
  auto proxy = StartProxy();
  board_.Enqueue(HtmlAnswer(""));
  board_.Enqueue(HtmlAnswer(""));
  proxy->Ask(ReaderRequest(kSubjectUrl));
  proxy->Ask(ReaderRequest(kSubjectUrl, "If-Modified-Since: Mon, 07 Dec 2026 00:00:00 GMT\r\n"));
  auto requests = board_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const ReceivedRequest& plain = requests[0];
  EXPECT_EQ(plain.requestLine, "GET http://egg" + kSecondary + "/applism/subback.html HTTP/1.1");
  EXPECT_EQ(plain.Header("User-Agent").value_or(""), kReaderAgent);
  EXPECT_EQ(plain.Header("Accept").value_or(""), "text/html, application/xhtml+xml, */*");
  EXPECT_EQ(plain.Header("Accept-Language").value_or(""), "ja,en-us;q=0.7,en;q=0.3");
  EXPECT_EQ(plain.Header("Connection").value_or(""), "close");
  EXPECT_FALSE(plain.Header("Accept-Encoding").has_value());
  EXPECT_FALSE(plain.Header("If-Modified-Since").has_value());
  EXPECT_EQ(requests[1].Header("If-Modified-Since").value_or(""), "Mon, 07 Dec 2026 00:00:00 GMT");
}

TEST_F(SubjectRouteTest, DomainFollowsTheSwitchAndTheAdultDomain) {
  auto proxy = StartProxy([](SettingValues& v) { v.Use5ch = 0; });
  board_.Enqueue(HtmlAnswer(""));
  board_.Enqueue(HtmlAnswer(""));
  proxy->Ask(ReaderRequest("http://egg.5ch.net/applism/subject.txt"));
  proxy->Ask(ReaderRequest("http://mercury.bbspink.com/adult/subject.txt"));
  auto requests = board_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "http://egg.2ch.net/applism/subback.html");
  EXPECT_EQ(requests[1].target, "http://mercury.bbspink.com/adult/subback.html");
}

TEST_F(SubjectRouteTest, HtmlSslFetchesTheSubbackPageOverHttps) {
  FakeHttpServer secureBoard(FakeHttpServer::Options{.tls = false, .acceptConnect = true});
  environment_.Set("SSL_CERT_FILE", TestCertificateAuthority::Instance().CaFile());
  const std::string upstream = secureBoard.Authority();
  ProxyHarness proxy([&](SettingValues& v) {
    v.SubjectSubback = 1;
    v.HtmlSSL = 1;
    v.ProxyMode = 2;
    v.Proxy = CDoubleString::FromUtf8(upstream);
  });
  secureBoard.Enqueue(HtmlAnswer(SubbackPage(ListLink("1517988732", 1, "A (10)"))));
  auto answer = HttpAnswer::Split(proxy.Ask(ReaderRequest(kSubjectUrl)));
  EXPECT_EQ(answer.body, "1517988732.dat<>A (10)\n");
  auto requests = secureBoard.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_TRUE(requests.back().tls);
  EXPECT_EQ(requests.back().target, "/applism/subback.html");
  EXPECT_EQ(requests.back().Header("Host").value_or(""), "egg" + kSecondary);
}

TEST_F(SubjectRouteTest, NavigationLinksAreSkippedAndARangeStillGetsTheWholeList) {
  auto proxy = StartProxy();
  const std::string page =
      SubbackPage(ListLink("1517988732", 1, Sjis("【速報】テスト スレ (1000)")) + "<a href=\"../kako/\">" +
                  Sjis("過去ログ") + "</a>\n" + ListLink("1400000000", 2, Sjis("雑談 ★2 (5)")));
  const std::string list = "1517988732.dat<>" + Sjis("【速報】テスト スレ (1000)") + "\n1400000000.dat<>" +
                           Sjis("雑談 ★2 (5)") + "\n";
  board_.Enqueue(HtmlAnswer(page));
  board_.Enqueue(HtmlAnswer(page));

  auto whole = HttpAnswer::Split(proxy->Ask(ReaderRequest(kSubjectUrl)));
  EXPECT_EQ(whole.body, list);
  auto ranged = HttpAnswer::Split(proxy->Ask(ReaderRequest(kSubjectUrl, "Range: bytes=20-\r\n")));
  EXPECT_EQ(ranged.head.substr(0, 17), "HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(ranged.Header("Content-Range"), "");
  EXPECT_EQ(ranged.Header("Content-Length"), std::to_string(list.size()));
  EXPECT_EQ(ranged.body, list);
}

TEST_F(SubjectRouteTest, KeyIsCutAtTheFirstSlashOfAShortLinkText) {
  auto proxy = StartProxy();
  // The last link's text is shorter than 20 bytes and the page ends with it.
  board_.Enqueue(HtmlAnswer(ListLink("1517988732", 1, "A (10)") + "<a href=\"12/l50\">: x</a>"));
  auto answer = HttpAnswer::Split(proxy->Ask(ReaderRequest(kSubjectUrl)));
  EXPECT_EQ(answer.body, "1517988732.dat<>A (10)\n12.dat<>x\n");
}

TEST_F(SubjectRouteTest, MalformedListLinksFailWithNothingSent) {
  struct Case {
    std::string badLink;
    std::u16string status;
  };
  const Case cases[] = {
      // "/l50" only after the first 20 bytes: the key has no "/".
      {"<a href=\"123456789012345678901/l50\">3: C (1)</a>", u"失敗(-1,0x00000000)"},
      {"<a href=\"1517000003/l50\">3 C (1)</a>", u"失敗(-2,0x00000000)"},
  };
  for (const Case& c : cases) {
    auto proxy = StartProxy();
    board_.Enqueue(HtmlAnswer(SubbackPage(ListLink("1517988732", 1, "A (10)") + c.badLink)));
    EXPECT_EQ(proxy->Ask(ReaderRequest(kSubjectUrl)), "") << c.badLink;
    LogRow row = OnlyRow(*proxy);
    EXPECT_EQ(row.cells[5], c.status);
    EXPECT_EQ(row.cells[7], u"0");
    EXPECT_EQ(row.image, 0);
  }
}

TEST_F(SubjectRouteTest, GzipSubbackPageIsInflated) {
  auto proxy = StartProxy();
  ScriptedResponse gzipped = HtmlAnswer(SubbackPage(ListLink("1517988732", 1, "A (10)")));
  gzipped.gzip = true;
  board_.Enqueue(gzipped);
  auto answer = HttpAnswer::Split(proxy->Ask(ReaderRequest(kSubjectUrl)));
  EXPECT_EQ(answer.body, "1517988732.dat<>A (10)\n");
}

TEST_F(SubjectRouteTest, UnusableGzipIsAFailureWithoutASecondAttempt) {
  const std::string compressed = GzipCompress(SubbackPage(ListLink("1517988732", 1, "A (10)")));
  std::string oversized = compressed;
  oversized.replace(oversized.size() - 4, 4, std::string("\x01\x00\x0F\x00", 4));  // states 983,041 bytes
  std::string damaged = compressed;
  damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x55);
  std::string truncated = compressed.substr(0, 10);
  truncated += compressed.substr(compressed.size() - 4);

  for (const std::string& body : {oversized, damaged, truncated}) {
    auto proxy = StartProxy();
    const std::size_t before = board_.RequestCount();
    board_.Enqueue(ScriptedResponse::Status(200, "OK", {{"Content-Encoding", "gzip"}}, body));
    EXPECT_EQ(proxy->Ask(ReaderRequest(kSubjectUrl)), "");
    EXPECT_EQ(OnlyRow(*proxy).cells[5], u"gzip error");
    EXPECT_EQ(board_.RequestCount(), before + 1) << "the page is not asked for again";
  }
}

TEST_F(SubjectRouteTest, EmptyBodyGivesAnEmptyList) {
  auto proxy = StartProxy();
  board_.Enqueue(HtmlAnswer(""));
  auto answer = HttpAnswer::Split(proxy->Ask(ReaderRequest(kSubjectUrl)));
  EXPECT_EQ(answer.head.substr(0, 17), "HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(answer.Header("Content-Length"), "0");
  EXPECT_EQ(answer.body, "");
  EXPECT_EQ(OnlyRow(*proxy).cells[5], u"成功");
}

TEST_F(SubjectRouteTest, NotModifiedBoardGivesANotModifiedAnswer) {
  auto proxy = StartProxy();
  board_.Enqueue(ScriptedResponse::Status(304, "Not Modified", {{"Date", kBoardDate}}));
  std::string answer =
      proxy->Ask(ReaderRequest(kSubjectUrl, "If-Modified-Since: Mon, 07 Dec 2026 00:00:00 GMT\r\n"));
  EXPECT_EQ(answer, std::string("HTTP/1.1 304 Not Modified\r\nConnection: close\r\nLast-Modified: ") +
                        kBoardDate + "\r\n\r\n");
  LogRow row = OnlyRow(*proxy);
  EXPECT_EQ(row.cells[5], u"成功");
  EXPECT_EQ(row.cells[7], Utf8ToUtf16(std::to_string(answer.size())));
}

TEST_F(SubjectRouteTest, ErrorPageIsNotTakenForAnEmptyList) {
  auto proxy = StartProxy();
  board_.Enqueue(ScriptedResponse::Status(503, "Service Unavailable", {}, "<html>busy</html>"));
  EXPECT_EQ(proxy->Ask(ReaderRequest(kSubjectUrl)), "");
  LogRow row = OnlyRow(*proxy);
  EXPECT_EQ(row.cells[5], u"取得失敗");
  EXPECT_EQ(row.cells[7], u"0");
}

TEST_F(SubjectRouteTest, FailedFetchSendsNothing) {
  auto proxy = StartProxy();
  board_.Enqueue(ScriptedResponse::Raw("not http at all\r\n\r\n"));
  EXPECT_EQ(proxy->Ask(ReaderRequest(kSubjectUrl)), "");
  EXPECT_EQ(OnlyRow(*proxy).cells[5], u"SendHttpRequest失敗");
}

TEST_F(SubjectRouteTest, SubjectSubbackOffPassesSubjectTxtThrough) {
  auto proxy = StartProxy([](SettingValues& v) { v.SubjectSubback = 0; });
  board_.Enqueue(ScriptedResponse::Ok("1517988732.dat<>from the board (3)\n"));
  auto answer = HttpAnswer::Split(proxy->Ask(ReaderRequest(kSubjectUrl, "Connection: close\r\n")));
  EXPECT_EQ(answer.body, "1517988732.dat<>from the board (3)\n");
  ASSERT_EQ(board_.RequestCount(), 1u);
  EXPECT_EQ(board_.Requests()[0].target.substr(board_.Requests()[0].target.find("/applism/")),
            "/applism/subject.txt");
  EXPECT_EQ(OnlyRow(*proxy).cells[4], u"直接");
}

// --- headline dat requests ---------------------------------------------------

constexpr char kHeadlineDatUrl[] = "http://headline.2ch.net/bbynews/dat/1600000000.dat";

std::string IndexPage(const std::string& links) {
  return Sjis("<html><head><title>ヘッドライン</title></head><body>\n<ul>\n") + links +
         "</ul></body></html>\n";
}

std::string IndexLink(const std::string& href, const std::string& title) {
  return "<li><a href=\"" + href + "\">" + Sjis(title) + "</a></li>\n";
}

TEST_F(SubjectRouteTest, HeadlineRequestIsAnsweredFromTheLinkedThread) {
  auto proxy = StartProxy();
  ScriptedResponse index = HtmlAnswer(
      IndexPage(IndexLink("../bbynews/1600000000.html", "リンクのみ") +  // the key, but no read.cgi
                IndexLink("https://asahi.5ch.net/test/read.cgi/newsplus/1599999999/", "別スレ") +
                IndexLink("https://ex.5ch.net/test/read.cgi/news/1600000000/l50", "本スレ")));
  index.gzip = true;
  board_.Enqueue(index);
  const std::string page = testpages::Page(Layout::kDiv, "本スレ", testpages::Numbered({1, 2, 3}));
  board_.Enqueue(HtmlAnswer(page));

  auto answer = HttpAnswer::Split(
      proxy->Ask(ReaderRequest(kHeadlineDatUrl, "If-Modified-Since: Mon, 07 Dec 2026 00:00:00 GMT\r\n")));
  ASSERT_FALSE(testpages::DatOf(page).empty());
  EXPECT_EQ(answer.body, testpages::DatOf(page));

  auto requests = board_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const ReceivedRequest& indexRequest = requests[0];
  EXPECT_EQ(indexRequest.target, "http://headline" + kSecondary + "/bbynews/index.html");
  EXPECT_EQ(indexRequest.Header("User-Agent").value_or(""), kReaderAgent);
  EXPECT_EQ(indexRequest.Header("Accept").value_or(""), "text/html, application/xhtml+xml, */*");
  EXPECT_EQ(indexRequest.Header("Accept-Language").value_or(""), "ja,en-us;q=0.7,en;q=0.3");
  EXPECT_FALSE(indexRequest.Header("If-Modified-Since").has_value());
  EXPECT_FALSE(indexRequest.Header("Accept-Encoding").has_value());
  EXPECT_EQ(requests[1].target, "http://ex" + kSecondary + "/test/read.cgi/news/1600000000/");

  LogRow row = OnlyRow(*proxy);
  EXPECT_EQ(row.cells[2], u"ex.2ch.net");
  EXPECT_EQ(row.cells[3], u"GET /news/dat/1600000000.dat");
  EXPECT_EQ(row.cells[4], u"HTML");
  EXPECT_EQ(row.cells[5], u"成功");
}

TEST_F(SubjectRouteTest, HeadlineRequestStaysAsItWasWithoutAUsableLink) {
  const std::string unchangedThread = "http://headline" + kSecondary + "/test/read.cgi/bbynews/1600000000/";
  const std::string pages[] = {
      IndexPage(IndexLink("https://ex.5ch.net/test/read.cgi/news/1599999999/", "別スレ")),
      IndexPage(""),
      // Links that name the key but lack what the new address is read from.
      IndexLink("/test/read.cgi/news/1600000000/", "no slashes"),
      IndexLink("https://ex.5ch.net/test/read.cgi/news?key=1600000000", "board only"),
      IndexLink("https://ex.5ch.net/test/read.cgi/news/1600000000", "key only"),
      // A label that would move the fetch to another host.
      IndexLink("http://localhost:8080/test/read.cgi/news/1600000000/", "other host"),
      IndexLink("http://user@ex.5ch.net/test/read.cgi/news/1600000000/", "other host"),
      // A board or key that is not a plain name.
      IndexLink("https://ex.5ch.net/test/read.cgi/../1600000000/", "dots"),
      IndexLink("https://ex.5ch.net/test/read.cgi/news/1600000000?x/", "query"),
  };
  for (const std::string& index : pages) {
    auto proxy = StartProxy();
    const std::size_t before = board_.RequestCount();
    board_.Enqueue(HtmlAnswer(index));
    board_.Enqueue(HtmlAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1}))));
    proxy->Ask(ReaderRequest(kHeadlineDatUrl));
    auto requests = board_.Requests();
    ASSERT_EQ(requests.size(), before + 2) << index;
    EXPECT_EQ(requests.back().target, unchangedThread) << index;
    EXPECT_EQ(OnlyRow(*proxy).cells[2], u"headline.2ch.net");
  }
}

TEST_F(SubjectRouteTest, HeadlineRequestWithoutAKeyIsNotTiedToTheFirstThread) {
  auto proxy = StartProxy();
  board_.SetHandler([](const ReceivedRequest&) {
    return HtmlAnswer(IndexPage(IndexLink("https://ex.5ch.net/test/read.cgi/news/1600000000/", "本スレ")));
  });
  proxy->Ask(ReaderRequest("http://headline.2ch.net/bbynews/dat/.dat"));
  for (const ReceivedRequest& request : board_.Requests()) {
    EXPECT_EQ(request.target.find("//ex."), std::string::npos) << request.target;
  }
  EXPECT_EQ(OnlyRow(*proxy).cells[2], u"headline.2ch.net");
}

TEST_F(SubjectRouteTest, HeadlineRequestStaysAsItWasWhenTheIndexCannotBeRead) {
  std::string oversized = GzipCompress(IndexPage(""));
  oversized.replace(oversized.size() - 4, 4, std::string("\x01\x00\x0F\x00", 4));
  const ScriptedResponse failures[] = {
      ScriptedResponse::Raw("not http at all\r\n\r\n"),
      ScriptedResponse::Status(200, "OK", {{"Content-Encoding", "gzip"}}, oversized),
  };
  for (const ScriptedResponse& failure : failures) {
    auto proxy = StartProxy();
    const std::size_t before = board_.RequestCount();
    board_.Enqueue(failure);
    board_.Enqueue(HtmlAnswer(testpages::Page(Layout::kDiv, "t", testpages::Numbered({1}))));
    proxy->Ask(ReaderRequest(kHeadlineDatUrl));
    auto requests = board_.Requests();
    ASSERT_EQ(requests.size(), before + 2);
    EXPECT_EQ(requests.back().target, "http://headline" + kSecondary + "/test/read.cgi/bbynews/1600000000/");
  }
}

}  // namespace
}  // namespace tav::test
