// The API dat route end to end: reader -> proxy (API mode) -> fake API over
// TLS, and what the reader receives back.

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "ApiTestSupport.h"
#include "acquire/ApiRoute.h"
#include "platform/TextCodec.h"

namespace tav::test {
namespace {

constexpr std::string_view kNotModified = "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n";

std::string PastLogText() {
  return Sjis(
      "過去ログ倉庫<><>Over 1000 Thread<>ID:????????"
      "<> このスレッドは過去ログです。<br><>\n");
}

// A gzip body of exactly `size` bytes whose text starts with `text`; random
// filler (which does not compress) brings it to the size.
std::string GzipOfSize(const std::string& text, std::size_t size) {
  std::mt19937 random(12345);
  // Random bytes take about a byte each: start a little below the size.
  std::string filler;
  while (filler.size() + text.size() + 64 < size) filler += static_cast<char>(random() & 0xff);
  while (filler.size() < size) {
    filler += static_cast<char>(random() & 0xff);
    const std::string gzip = GzipCompress(text + filler);
    if (gzip.size() == size) return gzip;
  }
  ADD_FAILURE() << "no gzip body of " << size << " bytes";
  return {};
}

ScriptedResponse GzipAnswer(std::string compressed) {
  return ScriptedResponse::Status(200, "OK", {{"Content-Type", "text/plain"}, {"Content-Encoding", "gzip"}},
                                  std::move(compressed));
}

class ApiRoute : public ApiEndToEnd {};

TEST_F(ApiRoute, SignsTheDatRequestAndPassesTheAnswerOnAsReceived) {
  StartProxy();
  ScriptedResponse dat = ScriptedResponse::Status(
      200, "OK", {{"Content-Type", "text/plain"}, {"X-Api-Note", "from the api"}}, SmallDat());
  QueueDat(dat);
  const std::string answer = Exchange(DatRequest());

  EXPECT_EQ(answer, dat.Wire()) << "status line, headers and body exactly as the API sent them";
  const auto dats = DatRequests();
  ASSERT_EQ(dats.size(), 1u);
  const ReceivedRequest& request = dats[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/v1/egg/software/1234567890");
  EXPECT_TRUE(request.tls);
  for (const auto& target : ConnectTargets()) EXPECT_EQ(target, "api.5ch.net:443");
  const std::string hobo = ExpectedHmac(kHmKey, "/v1/egg/software/1234567890SID1" + std::string(kAppKey));
  EXPECT_EQ(request.body, "sid=SID1&hobo=" + hobo + "&appkey=" + kAppKey);
  EXPECT_EQ(request.Header("User-Agent"), kDatAgent);
  EXPECT_EQ(request.Header("Connection"), "close");
  EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.Header("Accept"), "*/*");
  EXPECT_EQ(request.HeaderCount("Range"), 0u);
  EXPECT_EQ(request.HeaderCount("Accept-Encoding"), 0u);
  EXPECT_EQ(request.HeaderCount("If-Modified-Since"), 0u);

  const LogRow row = LastRow();
  EXPECT_EQ(row.cells[4], u"API");
  EXPECT_EQ(row.cells[5], u"成功");
  EXPECT_EQ(row.cells[7], Utf8ToUtf16(std::to_string(answer.size())));
}

TEST_F(ApiRoute, SendsTheRangeInsteadOfGzipAndTheReadersIfModifiedSince) {
  StartProxy();
  Exchange(
      DatRequest("Range: bytes=12345-\r\nAccept-Encoding: gzip\r\n"
                 "If-Modified-Since: Sat, 01 Jun 2024 10:00:00 GMT\r\n"));
  const auto dats = DatRequests();
  ASSERT_EQ(dats.size(), 1u);
  const ReceivedRequest& request = dats[0];
  EXPECT_EQ(request.Header("Range"), "bytes=12345-");
  EXPECT_EQ(request.HeaderCount("Accept-Encoding"), 0u);
  EXPECT_EQ(request.Header("If-Modified-Since"), "Sat, 01 Jun 2024 10:00:00 GMT");
  EXPECT_NE(request.head.find("Range: bytes=12345-\r\n"), std::string::npos);
}

TEST_F(ApiRoute, PassesACompressedAnswerOnUnchanged) {
  StartProxy();
  std::string dat;
  for (int i = 0; i < 200; ++i) dat += "name<>sage<>2024/01/01<> post " + std::to_string(i) + " <>\n";
  ScriptedResponse answer = ScriptedResponse::Status(200, "OK", {{"X-Api-Note", "compressed"}}, dat);
  answer.gzip = true;
  QueueDat(answer);

  const std::string received = Exchange(DatRequest("Accept-Encoding: gzip\r\n"));
  ASSERT_EQ(DatRequests().size(), 1u);
  EXPECT_EQ(DatRequests()[0].Header("Accept-Encoding"), "gzip");
  EXPECT_EQ(DatRequests()[0].HeaderCount("Range"), 0u);
  EXPECT_EQ(received, answer.Wire());
  const HttpAnswer split = HttpAnswer::Split(received);
  EXPECT_EQ(split.Header("Content-Encoding"), "gzip");
  EXPECT_EQ(split.Header("X-Api-Note"), "compressed");
  EXPECT_EQ(split.body, answer.WireBody());
}

TEST_F(ApiRoute, ANotAuthorizedAnswerLeadsToOneFreshLoginAndRetry) {
  StartProxy([](SettingValues& v) { v.SIDTime = -1; });
  Exchange(DatRequest());  // SID1 is cached now
  ASSERT_EQ(CachedSessionId(), "SID1");

  QueueDat(ScriptedResponse::Ok("ng (not authorized)"));
  ScriptedResponse dat = ScriptedResponse::Ok(SmallDat());
  QueueDat(dat);
  const std::string answer = Exchange(DatRequest());

  EXPECT_EQ(answer, dat.Wire());
  EXPECT_EQ(Logins().size(), 2u) << "the retry logs in although SIDTime -1 would keep the old id";
  const auto dats = DatRequests();
  ASSERT_EQ(dats.size(), 3u);
  EXPECT_EQ(FormValue(dats[1].body, "sid"), "SID1");
  EXPECT_EQ(FormValue(dats[2].body, "sid"), "SID2");
  EXPECT_EQ(FormValue(dats[2].body, "hobo"),
            ExpectedHmac(kHmKey, "/v1/egg/software/1234567890SID2" + std::string(kAppKey)));
  EXPECT_EQ(CachedSessionId(), "SID2");
  EXPECT_EQ(LastStatus(), u"成功");
}

TEST_F(ApiRoute, TwoNotAuthorizedAnswersInARowExpireTheSession) {
  StartProxy();
  QueueDat(ScriptedResponse::Ok("ng (not authorized)"));
  QueueDat(ScriptedResponse::Ok("ng (not authorized)"));
  QueueDat(ScriptedResponse::Ok(SmallDat()));  // never asked for

  EXPECT_EQ(Exchange(DatRequest()), "") << "nothing written";
  EXPECT_EQ(LastStatus(), u"SID期限切れ");
  EXPECT_EQ(CachedSessionId(), "");
  EXPECT_EQ(Logins().size(), 2u);
  EXPECT_EQ(DatRequests().size(), 2u) << "one retry only";
  EXPECT_TRUE(proxy_->Shell().Balloons().empty());
}

TEST_F(ApiRoute, AnotherErrorAnswerBecomesABalloonAndNotModified) {
  StartProxy();
  const std::string error = Sjis("ng (スレッドが見つかりません)");
  QueueDat(ScriptedResponse::Ok(error));

  EXPECT_EQ(Exchange(DatRequest()), kNotModified);
  EXPECT_EQ(proxy_->Shell().Balloons(), (std::vector<std::u16string>{u"ng (スレッドが見つかりません)"}));
  EXPECT_EQ(LastStatus(), u"成功");
  EXPECT_EQ(LastRow().cells[7], Utf8ToUtf16(std::to_string(kNotModified.size())));
  EXPECT_EQ(CachedSessionId(), "SID1") << "only \"not authorized\" clears the session";
}

TEST_F(ApiRoute, AMissingThreadIsNotModifiedOnlyForAConditionalRequest) {
  StartProxy();
  const std::string conditional = "If-Modified-Since: Sat, 01 Jun 2024 10:00:00 GMT\r\n";
  const std::vector<ScriptedResponse> missing = {
      ScriptedResponse::Ok("x"),  // "Content-Length: 1"
      ScriptedResponse::Ok("404 no such thread"),
      ScriptedResponse::Status(404, "Not Found", {}, "NG thread"),
  };
  for (const ScriptedResponse& answer : missing) {
    SCOPED_TRACE(answer.body);
    QueueDat(answer);
    EXPECT_EQ(Exchange(DatRequest(conditional)), kNotModified);
    EXPECT_EQ(LastStatus(), u"成功");

    QueueDat(answer);
    EXPECT_EQ(Exchange(DatRequest()), "");
    EXPECT_TRUE(LastStatus().starts_with(u"失敗(-2,")) << Utf16ToUtf8(LastStatus());
  }
}

TEST_F(ApiRoute, ShortBodiesAreComparedOnlyAsFarAsTheyReach) {
  StartProxy();
  for (const std::string body : {"ng", "40", "N", ""}) {
    SCOPED_TRACE(body);
    ScriptedResponse answer = ScriptedResponse::Status(404, "Not Found", {}, body);
    QueueDat(answer);
    const std::string received = Exchange(DatRequest());
    if (body.size() == 1) {
      EXPECT_EQ(received, "") << "a one-byte body is the missing-thread answer";
    } else {
      EXPECT_EQ(received, answer.Wire()) << "too short to be an error answer: passed on";
    }
  }
  EXPECT_TRUE(proxy_->Shell().Balloons().empty());
}

TEST_F(ApiRoute, AShortArchiveNoticeEndsTheRouteWithPastLog) {
  StartProxy();
  const std::string notice = GzipOfSize(PastLogText(), 1999);
  QueueDat(GzipAnswer(notice));
  EXPECT_EQ(Exchange(DatRequest("Accept-Encoding: gzip\r\n")), "");
  EXPECT_EQ(LastStatus(), u"過去ログ");

  const std::string longer = GzipOfSize(PastLogText(), 2000);
  const ScriptedResponse passed = GzipAnswer(longer);
  QueueDat(passed);
  EXPECT_EQ(Exchange(DatRequest("Accept-Encoding: gzip\r\n")), passed.Wire())
      << "2000 bytes and more are passed on without the check";
  EXPECT_EQ(LastStatus(), u"成功");

  QueueDat(ScriptedResponse::Ok(PastLogText()));
  EXPECT_EQ(Exchange(DatRequest()), "") << "an uncompressed notice is found as well";
  EXPECT_EQ(LastStatus(), u"過去ログ");
}

TEST_F(ApiRoute, APastLogGoesOnToTheArchivedThreadRouteWhenEnabled) {
  StartProxy([](SettingValues& v) { v.KakoLogHtml = 1; });
  QueueDat(ScriptedResponse::Ok(PastLogText()));
  Exchange(DatRequest());
  ASSERT_TRUE(proxy_->Shell().WaitForFinishedRows(2));
  const auto rows = proxy_->Shell().FinishedRows();
  EXPECT_EQ(rows[0].cells[5], u"過去ログ");
  EXPECT_EQ(rows[1].cells[4], u"HTML(過去)");
}

TEST_F(ApiRoute, BrokenShortGzipAnswersAreGzipErrors) {
  StartProxy();
  std::string oversized = GzipCompress(SmallDat());
  // The stated size (the last four bytes, little-endian) 0xF0001.
  oversized.replace(oversized.size() - 4, 4, std::string("\x01\x00\x0f\x00", 4));
  QueueDat(GzipAnswer(oversized));
  EXPECT_EQ(Exchange(DatRequest("Accept-Encoding: gzip\r\n")), "");
  EXPECT_EQ(LastStatus(), u"gzip error");

  // A gzip header, then a deflate block of the reserved type.
  const std::string damaged = std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) +
                              std::string(20, '\xff') + std::string("\0\0\0\0\x20\0\0\0", 8);
  QueueDat(GzipAnswer(damaged));
  EXPECT_EQ(Exchange(DatRequest("Accept-Encoding: gzip\r\n")), "");
  EXPECT_EQ(LastStatus(), u"gzip error");
}

TEST_F(ApiRoute, TheBoardNoticeIsAnsweredNotModified) {
  StartProxy();
  QueueDat(ScriptedResponse::Ok(Sjis("２ちゃんねる ★<><>2024/01/01<> この板は API では読めません <>\n")));
  EXPECT_EQ(Exchange(DatRequest()), kNotModified);
  EXPECT_EQ(LastStatus(), u"成功");
}

TEST_F(ApiRoute, AFailedApiRequestIsReported) {
  StartProxy();
  QueueDat(ScriptedResponse::Raw("not http at all\r\n\r\n", true));
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_EQ(LastStatus(), u"SendHttpRequest失敗");
}

TEST_F(ApiRoute, MissingKeysWarnOnEveryRequestWithoutAnyTraffic) {
  StartProxy([](SettingValues& v) { v.ApiProfiles[0].AppKey.Clear(); });
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_EQ(proxy_->Shell().Warnings(),
            (std::vector<std::u16string>{u"APIキーが設定されていません", u"APIキーが設定されていません"}));
  EXPECT_TRUE(LastStatus().starts_with(u"失敗(-1,"));

  proxy_->Setting().Update([](SettingValues& v) {
    v.ApiProfiles[0].AppKey = CDoubleString::FromUtf8(kAppKey);
    v.ApiProfiles[0].HMKey.Clear();
  });
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_EQ(proxy_->Shell().Warnings().size(), 3u);
  EXPECT_EQ(api_.ConnectionCount(), 0u) << "no traffic at all";
}

TEST_F(ApiRoute, AMissingProfileIsRefusedWithAWarning) {
  StartProxy([](SettingValues& v) { v.Current = 1; });  // one profile only
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_TRUE(LastStatus().starts_with(u"失敗(-1,"));

  proxy_->Setting().Update([](SettingValues& v) {
    v.Current = 0;
    v.ApiProfiles.clear();
  });
  EXPECT_EQ(Exchange(DatRequest()), "");
  proxy_->Setting().Update([](SettingValues& v) {
    v.ApiProfiles.emplace_back();
    v.Current = -1;
  });
  EXPECT_EQ(Exchange(DatRequest()), "");
  EXPECT_EQ(proxy_->Shell().Warnings().size(), 3u);
  EXPECT_EQ(api_.ConnectionCount(), 0u);
}

TEST_F(ApiRoute, RefusesRequestsWhosePartsAreTooLong) {
  StartProxy();
  const std::string longHost = std::string(245, 'h') + ".5ch.net";  // 253 characters: fine
  Exchange(DatRequest({}, longHost));
  EXPECT_EQ(LastStatus(), u"成功");
  EXPECT_EQ(DatRequests().size(), 1u);

  const std::string tooLongHost = std::string(248, 'h') + ".5ch.net";  // 256 characters
  EXPECT_EQ(Exchange(DatRequest({}, tooLongHost)), "");
  EXPECT_TRUE(LastStatus().starts_with(u"失敗(-1,"));

  EXPECT_EQ(Exchange(DatRequest({}, kBoardHost, "/" + std::string(256, 'b') + "/dat/1234567890.dat")), "");
  EXPECT_TRUE(LastStatus().starts_with(u"失敗(-1,"));

  // Board and key at their limits: with an application key of 500
  // characters the signature text is exactly 1023 characters long; one more
  // and it is refused.
  const std::string path = "/" + std::string(255, 'b') + "/dat/" + std::string(255, '1') + ".dat";
  proxy_->Setting().Update(
      [](SettingValues& v) { v.ApiProfiles[0].AppKey = CDoubleString::FromUtf8(std::string(500, 'k')); });
  Exchange(DatRequest({}, kBoardHost, path));
  EXPECT_EQ(LastStatus(), u"成功");
  ASSERT_EQ(DatRequests().size(), 2u);
  EXPECT_EQ(DatRequests()[1].target, "/v1/egg/" + std::string(255, 'b') + "/" + std::string(255, '1'));

  proxy_->Setting().Update(
      [](SettingValues& v) { v.ApiProfiles[0].AppKey = CDoubleString::FromUtf8(std::string(501, 'k')); });
  EXPECT_EQ(Exchange(DatRequest({}, kBoardHost, path)), "");
  EXPECT_TRUE(LastStatus().starts_with(u"失敗(-1,"));
  EXPECT_EQ(DatRequests().size(), 2u) << "nothing sent for a refused request";
}

TEST_F(ApiRoute, ConcurrentRequestsShareOneSessionCache) {
  StartProxy([](SettingValues& v) { v.SIDTime = -1; });
  constexpr int kReaders = 4;
  std::vector<std::string> answers(kReaders);
  std::vector<std::thread> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.emplace_back([&, i] {
      LoopbackClient reader(proxy_->Port());
      reader.Send(DatRequest());
      answers[static_cast<std::size_t>(i)] = reader.ReadAll(10000);
    });
  }
  for (auto& reader : readers) reader.join();
  ASSERT_TRUE(proxy_->Shell().WaitForFinishedRows(kReaders, 10000));

  const std::size_t logins = Logins().size();
  EXPECT_GE(logins, 1u);
  EXPECT_LE(logins, static_cast<std::size_t>(kReaders));
  for (const auto& answer : answers) EXPECT_EQ(HttpAnswer::Split(answer).body, SmallDat());
  for (const auto& request : DatRequests()) {
    const std::string sid = FormValue(request.body, "sid");
    EXPECT_TRUE(sid.starts_with("SID") && std::stoul(sid.substr(3)) <= logins) << sid;
  }
  const std::string cached = CachedSessionId();
  EXPECT_TRUE(cached.starts_with("SID")) << cached;

  // Once cached, the session is shared: no further login.
  Exchange(DatRequest());
  EXPECT_EQ(Logins().size(), logins);
}

}  // namespace
}  // namespace tav::test
