#include <gtest/gtest.h>

#include "config/CSetting.h"
#include "support/RecordingShell.h"

namespace tav::test {
namespace {

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
