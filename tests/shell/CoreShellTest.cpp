#include <gtest/gtest.h>

#include <chrono>

#include "config/CSetting.h"
#include "net/Request.h"
#include "net/RouteResult.h"
#include "platform/TextCodec.h"
#include "support/ParsedRequest.h"
#include "support/RecordingShell.h"

namespace tav::test {
namespace {

constexpr std::uint32_t kFirst = 41;
constexpr std::uint32_t kSecond = 42;

RouteResult Failed(int code, std::uint32_t detail = 0) {
  RouteResult result = RouteResult::Failure(code);
  result.errorDetail = detail;
  return result;
}

TEST(AccessLogEvents, ARequestBecomesOneRowWithItsRouteAndResult) {
  struct Case {
    RouteResult result;
    std::u16string status;
    int image;
  };
  RouteResult overload = RouteResult::Answered(48);
  overload.overload = true;
  const Case cases[] = {
      {RouteResult::Answered(1234), u"成功", kImageSuccess},
      {Failed(kCodeFailed), u"失敗", kImageFailure},
      {Failed(kCodeSendFailed), u"SendHttpRequest失敗", kImageFailure},
      {RouteResult::FromCode(-99, 0), u"ftp:// bug thread ?", kImageFailure},
      {RouteResult::FromCode(-999, 0), u"過去ログ", kImageFailure},
      {Failed(-5, 0x2F), u"失敗(-5,0x0000002F)", kImageFailure},
      {overload, u"人大杉", kImageSuccess},
  };
  for (const Case& c : cases) {
    CSetting setting;
    RecordingShell shell(setting);
    shell.RequestStarted(kFirst, Parsed("GET http://egg.5ch.io/a/dat/1.dat HTTP/1.1\r\nHost: egg.5ch.io\r\n\r\n"));
    shell.RouteChosen(kFirst, RouteKind::Html);
    shell.BytesReceived(kFirst, 900);
    shell.RequestFinished(kFirst, c.result);
    ASSERT_TRUE(shell.WaitForFinishedRows(1));
    const LogRow row = shell.FinishedRows()[0];
    EXPECT_EQ(row.cells[2], u"egg.5ch.io");
    EXPECT_EQ(row.cells[3], u"GET /a/dat/1.dat");
    EXPECT_EQ(row.cells[4], u"HTML");
    EXPECT_EQ(row.cells[5], c.status);
    EXPECT_EQ(row.cells[6], u"900");
    EXPECT_EQ(row.cells[7], Utf8ToUtf16(std::to_string(c.result.Ok() ? c.result.bytesSent : 0)))
        << Utf16ToUtf8(c.status);
    EXPECT_EQ(row.image, c.image) << Utf16ToUtf8(c.status);
  }
}

// A long transfer whose row was pushed out keeps reporting its bytes; each
// report must cost nothing.
TEST(AccessLogEvents, ReportsForAPushedOutRowAreDroppedAtOnce) {
  CSetting setting;
  setting.Update([](SettingValues& v) { v.LogMax = 1; });
  RecordingShell shell(setting);
  const Request request = Parsed("CONNECT 127.0.0.1:9 HTTP/1.1\r\nHost: 127.0.0.1:9\r\n\r\n");
  shell.RequestStarted(kFirst, request);
  shell.RequestStarted(kSecond, request);
  constexpr int kReports = 200;  // 10 s if each one waited 50 ms for the row
  const auto start = std::chrono::steady_clock::now();
  for (int i = 1; i <= kReports; ++i) shell.BytesReceived(kFirst, i * 4096);
  shell.RequestFinished(kFirst, RouteResult::Answered(1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(shell.FinishedRows().empty());
  ASSERT_EQ(shell.Log().Count(), 1);
  EXPECT_EQ(shell.Log().Rows()[0].itemData, kSecond);
}

TEST(CoreShell, TrayErrorStaysUntilAcceptOrPointer) {
  CSetting setting;
  RecordingShell shell(setting);
  shell.ConnectionAccepted();
  EXPECT_EQ(shell.TrayState(), 102);
  shell.RequestFailed();
  shell.ConnectionClosed();
  EXPECT_EQ(shell.TrayState(), 101);
  EXPECT_TRUE(shell.TrayErrorFlag());
  shell.PointerOverTrayIcon();
  EXPECT_EQ(shell.TrayState(), 100);
  EXPECT_EQ(shell.RestoreState(), 100);
  EXPECT_FALSE(shell.TrayErrorFlag());

  shell.AcceptFailed();
  EXPECT_EQ(shell.TrayState(), 101);
  EXPECT_EQ(shell.RestoreState(), 101);
  EXPECT_EQ(shell.StatusText(), u"accept() に失敗しました。");
  shell.ConnectionAccepted();
  EXPECT_FALSE(shell.TrayErrorFlag());
  shell.ConnectionClosed();
  EXPECT_EQ(shell.TrayState(), 100);
}

TEST(CoreShell, StartupFailureWarnsAndCutsTheStatusAtItsLineBreak) {
  CSetting setting;
  RecordingShell shell(setting);
  shell.StartupFailed(3);
  ASSERT_EQ(shell.Warnings().size(), 1u);
  EXPECT_EQ(shell.Warnings()[0], u".iniファイルの読み込みに失敗しました。\n初回起動時なら設定をしてください。");
  EXPECT_EQ(shell.StatusText(), u".iniファイルの読み込みに失敗しました。");
  EXPECT_EQ(shell.TrayState(), 101);
  EXPECT_EQ(shell.RestoreState(), 101);
}

TEST(CoreShell, ModeTextNamesTheProfileOnlyWhenThereIsOne) {
  CSetting setting;
  RecordingShell shell(setting);
  EXPECT_EQ(shell.ModeText(), u"127.0.0.1:8822 / モード：HTML");
  EXPECT_EQ(shell.TooltipText(), u"Tavrilox v0.17α - HTML");
  setting.Update([](SettingValues& v) { v.DatMode = 1; });
  EXPECT_EQ(shell.ModeText(), u"127.0.0.1:8822 / モード：API(JaneStyle)");
  setting.Update([](SettingValues& v) { v.Current = 5; });
  EXPECT_EQ(shell.ModeText(), u"127.0.0.1:8822 / モード：API");
  setting.Update([](SettingValues& v) { v.DatMode = 9; });
  EXPECT_EQ(shell.TooltipText(), u"Tavrilox v0.17α - 不明");
}

TEST(CoreShell, WarningArgumentFillsThePlaceholder) {
  CSetting setting;
  RecordingShell shell(setting);
  shell.ShowWarning(33035, u"NG");
  EXPECT_EQ(shell.Warnings().back(), u"恐らくAPIキーが間違っています。(NG)");
}

}  // namespace
}  // namespace tav::test
