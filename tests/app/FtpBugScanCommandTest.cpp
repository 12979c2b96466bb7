// tavrilox --ftpbug-scan against one thread on a fake board, which the
// settings file names as the upstream proxy.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "config/CSetting.h"
#include "support/ChildProcess.h"
#include "support/FakeHttpServer.h"
#include "support/FakeThreadBoard.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace tav::test {
namespace {

constexpr int kTimeoutMs = 20000;

class FtpBugScanCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    environment_.ClearProxyAndCaVariables();
    server_.SetHandler(board_.Handler());
    std::ofstream(ini_) << "[Network]\nProxyMode=2\nProxy=" << server_.Authority()
                        << "\n[FTPBug]\nCount=2\nIta00=software\nThread00=1437650830\nRes00=296\n"
                           "Ita01=applism\nThread01=1517988732\nRes01=9\n";
  }

  ScopedEnvironment environment_;
  TempDir dir_;
  std::string ini_ = dir_.File("Tavrilox.ini");
  FakeThreadBoard board_;
  FakeHttpServer server_;
};

TEST_F(FtpBugScanCommandTest, PrintsTheBrokenPostsAndRegistersThem) {
  board_.broken = {4};
  ChildProcess scan(
      {TAVRILOX_BINARY, "--ftpbug-scan", "egg", "applism", "1517988732", "--ini", ini_, "--register"});
  EXPECT_EQ(scan.StdoutLines(1, kTimeoutMs), std::vector<std::string>{"4"});
  EXPECT_EQ(scan.Wait(kTimeoutMs), 0) << scan.Stderr();
  EXPECT_TRUE(scan.WaitForStderr("Check res 3/6... ftpバグ発見!\nCheck res 5/6...\n", kTimeoutMs))
      << scan.Stderr();
  EXPECT_TRUE(scan.WaitForStderr("検索終了.\n", kTimeoutMs));
  EXPECT_EQ(board_.Ranges(server_), (std::vector<std::string>{"subject.txt", "1-2", "3-4", "3", "4", "5-6"}));

  CSetting saved;
  ASSERT_EQ(saved.Load(ini_), 0);
  const auto& entries = saved.Snapshot()->FtpBugEntries;
  ASSERT_EQ(entries.size(), 2u) << "the thread's entry is replaced, not added";
  EXPECT_EQ(entries[1].thread, u"1517988732");
  EXPECT_EQ(entries[1].posts, std::vector<std::int32_t>{4});
  EXPECT_EQ(entries[0].posts, std::vector<std::int32_t>{296});
}

TEST_F(FtpBugScanCommandTest, AMissingThreadPrintsAnEmptyLineAndFails) {
  board_.exists = false;
  ChildProcess scan({TAVRILOX_BINARY, "--ftpbug-scan", "egg", "applism", "1517988732", "--ini", ini_});
  EXPECT_EQ(scan.StdoutLines(1, kTimeoutMs), std::vector<std::string>{""});
  EXPECT_EQ(scan.Wait(kTimeoutMs), 1);
  EXPECT_TRUE(scan.WaitForStderr("スレッド情報がおかしいです.\n", kTimeoutMs)) << scan.Stderr();
}

}  // namespace
}  // namespace tav::test
