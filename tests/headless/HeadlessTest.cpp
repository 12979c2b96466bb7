#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/CommandLine.h"
#include "platform/IniFile.h"
#include "support/ChildProcess.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackClient.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace tav::test {
namespace {

namespace fs = std::filesystem;


std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Headless, MissingSettingsFileWarnsDoesNotListenAndWritesOneAtExit) {
  TempDir dir;
  fs::path ini = dir.File("Tavrilox.ini");
  ChildProcess proxy({TAVRILOX_BINARY, "--headless", "--ini", ini.string()});
  ASSERT_TRUE(proxy.WaitForStderr(".iniファイルの読み込みに失敗しました。 初回起動時なら設定をしてください。", 5000))
      << proxy.Stderr();
  EXPECT_FALSE(fs::exists(ini));
  proxy.Signal(SIGTERM);
  EXPECT_EQ(proxy.Wait(10000), 0);
  EXPECT_EQ(proxy.Stderr().find("動作中..."), std::string::npos) << "no listener without a settings file";
  std::string written = ReadFile(ini);
  ASSERT_GE(written.size(), 2u);
  EXPECT_EQ(written.substr(0, 2), "\xFF\xFE") << "UTF-16LE with a byte order mark";
  EXPECT_NE(written.find(std::string("[\0S\0e\0t\0t\0i\0n\0g\0]\0", 18)), std::string::npos);
}

// A settings file that exists but cannot be read (here: over the size
// limit) is named at start-up and, at exit, kept under a name of its own
// beside the new file, never written over; an earlier kept file stays too.
TEST(Headless, UnreadableSettingsFileIsKeptBesideTheNewOne) {
  TempDir dir;
  fs::path ini = dir.File("Tavrilox.ini");
  std::string original(IniFile::kMaxFileBytes + 1, ';');
  original.replace(0, 9, "[Setting]");
  { std::ofstream(ini, std::ios::binary) << original; }
  const std::string earlier = "kept from an earlier run";
  { std::ofstream(ini.string() + ".unreadable", std::ios::binary) << earlier; }

  ChildProcess proxy({TAVRILOX_BINARY, "--headless", "--ini", ini.string()});
  ASSERT_TRUE(proxy.WaitForStderr(ini.string(), 5000)) << proxy.Stderr();
  EXPECT_NE(proxy.Stderr().find("larger than 32 MB"), std::string::npos) << proxy.Stderr();
  EXPECT_EQ(ReadFile(ini), original) << "untouched while running";
  proxy.Signal(SIGTERM);
  EXPECT_EQ(proxy.Wait(10000), 0);

  EXPECT_EQ(ReadFile(ini.string() + ".unreadable"), earlier);
  EXPECT_TRUE(ReadFile(ini.string() + ".unreadable.1") == original) << "kept byte for byte";
  const std::string written = ReadFile(ini);
  ASSERT_GE(written.size(), 2u);
  EXPECT_EQ(written.substr(0, 2), "\xFF\xFE") << "a new settings file";
}

TEST(Headless, PrintsOneLinePerFinishedRequest) {
  TempDir dir;
  fs::path ini = dir.File("Tavrilox.ini");
  int port = FreeLoopbackPort();
  std::ofstream(ini) << "[Setting]\nGatewayHost=127.0.0.1\nGatewayPort=" << port << "\n";
  ChildProcess proxy({TAVRILOX_BINARY, "--headless", "--ini", ini.string()});
  ASSERT_TRUE(proxy.WaitForStderr("動作中...", 5000)) << proxy.Stderr();
  {
    LoopbackClient reader(port);
    ASSERT_TRUE(reader.Connected());
    reader.Send("BREW /pot HTTP/1.1\r\n\r\n");
    reader.WaitForClose(2000);
  }
  auto lines = proxy.StdoutLines(1, 5000);
  ASSERT_EQ(lines.size(), 1u);
  std::string line = lines[0];
  ASSERT_GE(line.size(), 20u);
  EXPECT_EQ(line.substr(19), "\t\t不正リクエスト(BREW /pot HTTP/1.1)\t不明\t失敗\t22\t0");
  proxy.Signal(SIGINT);
  EXPECT_EQ(proxy.Wait(10000), 0);
}

TEST(Headless, ExitsWithAFailureWhenItCannotListenAndLeavesTheSettingsFile) {
  constexpr int kListenerFailedExit = 1;
  FakeHttpServer holder;  // keeps the port taken
  TempDir dir;
  fs::path ini = dir.File("Tavrilox.ini");
  std::ofstream(ini) << "[Setting]\nGatewayHost=127.0.0.1\nGatewayPort=" << holder.Port() << "\n";
  const std::string before = ReadFile(ini);
  ChildProcess proxy({TAVRILOX_BINARY, "--headless", "--ini", ini.string()});
  EXPECT_EQ(proxy.Wait(10000), kListenerFailedExit);
  EXPECT_TRUE(proxy.WaitForStderr("待ち受け用ポートがすでに使用中です。", 1000)) << proxy.Stderr();
  EXPECT_EQ(ReadFile(ini), before) << "the settings file is not rewritten";
}

TEST(CommandLine, InstalledProgramKeepsItsSettingsInTheConfigFolder) {
  TempDir dir;
  ScopedEnvironment env;
  env.Set("XDG_CONFIG_HOME", dir.Path());
  EXPECT_EQ(ResolveIniPath(CommandLine{}, "/usr/bin/"), dir.File("tavrilox/Tavrilox.ini"));
  fs::create_directory(dir.File("build"));
  EXPECT_EQ(ResolveIniPath(CommandLine{}, dir.Path() + "/build/"), dir.Path() + "/build/Tavrilox.ini")
      << "a program in a writable build folder keeps it beside itself";
}

TEST(CommandLine, ReadsOptionsAndRefusesUnknownOnes) {
  auto options = CommandLine::Parse({"--headless", "--ini", "/tmp/x.ini"});
  EXPECT_TRUE(options.headless);
  ASSERT_TRUE(options.iniPath.has_value());
  EXPECT_EQ(*options.iniPath, "/tmp/x.ini");
  EXPECT_TRUE(options.error.empty());
  EXPECT_FALSE(CommandLine::Parse({"--bogus"}).error.empty());
  EXPECT_FALSE(CommandLine::Parse({"--ini"}).error.empty());
  EXPECT_EQ(ResolveIniPath(options), "/tmp/x.ini");
}

}  // namespace
}  // namespace tav::test
