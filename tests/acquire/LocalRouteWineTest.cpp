// The local dat route end to end under Wine: the proxy drives a fake reader
// (tests/winfake, a Windows program with the real reader's window classes)
// through the real bridge, in a Wine prefix of the tests' own that is made
// once in the build folder, on an Xvfb display. Each test runs its own copy
// of the fake reader, so tests running side by side never find each other's.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "acquire/DrivenReader.h"
#include "platform/ProgramFolder.h"
#include "platform/WineReaderWindows.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace tav::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kHost[] = "egg.5ch.net";
constexpr char kThreadUrl[] = "http://egg.5ch.io/test/read.cgi/software/1234567890/";
const std::string kDat = "a<>b<>c<>d<>title\ne<>f<>g<>h<>\n";  // 31 bytes
constexpr auto kPrefixWait = 240s;
constexpr auto kReaderStartWait = 60s;

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

std::string DatRequest(const std::string& rangeLine = "") {
  return std::string("GET http://") + kHost + "/software/dat/1234567890.dat HTTP/1.1\r\nHost: " + kHost +
         "\r\nUser-Agent: Monazilla/1.00 JaneStyle/4.23\r\n" + rangeLine + "\r\n";
}

std::string Full(const std::string& text) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(text.size()) +
         "\r\nConnection: keep-alive\r\nVary: Accept-Encoding\r\nServer: cloudflare-nginx\r\n\r\n" + text;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class LocalRouteWineTest : public ::testing::Test {
 protected:
  // One Xvfb for the test program; the prefix is made by whichever test
  // program gets to it first, the others wait on its lock.
  static void SetUpTestSuite() {
    wine_ = FindExecutable("wine");
    const std::string xvfb = FindExecutable("Xvfb");
    if (wine_.empty() || xvfb.empty() || !fs::exists(TAVRILOX_WINEBRIDGE_EXE) ||
        !fs::exists(TAVRILOX_FAKE_READER_EXE)) {
      return;
    }
    display_ = new ChildProcess({xvfb, "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
    const auto lines = display_->StdoutLines(1, 20000);
    if (!lines.empty()) displayName_ = ":" + lines[0];
  }
  static void TearDownTestSuite() {
    delete display_;
    display_ = nullptr;
  }

  void SetUp() override {
    if (wine_.empty())
      GTEST_SKIP() << "Wine is not installed (Debian's wine and wine64): the Wine test cannot run";
    if (!fs::exists(TAVRILOX_WINEBRIDGE_EXE) || !fs::exists(TAVRILOX_FAKE_READER_EXE)) {
      GTEST_SKIP()
          << "built without MinGW (g++-mingw-w64-x86-64): no bridge or fake reader to run under Wine";
    }
    if (FindExecutable("Xvfb").empty())
      GTEST_SKIP() << "Xvfb is not installed: Wine has no display for the reader";
    ASSERT_FALSE(displayName_.empty()) << "Xvfb did not start";
    environment_.Set("WINEPREFIX", std::string(TAVRILOX_TEST_WINEPREFIX));
    environment_.Set("DISPLAY", displayName_);
    environment_.Set("WINEDEBUG", "-all");
    environment_.Set("WINEDLLOVERRIDES", "mscoree,mshtml=");  // no Mono or Gecko installers
    ASSERT_TRUE(MakePrefix());

    fs::create_directories(ReaderFolder());
    fs::copy_file(TAVRILOX_FAKE_READER_EXE, ReaderExe());
    WriteBytes(ReaderFolder() + "/canned.dat", kDat);
    WineBridgeOptions options;
    options.bridgeProgram = TAVRILOX_WINEBRIDGE_EXE;
    windows_ = std::make_shared<WineReaderWindows>(options);
  }

  // Makes the prefix unless an earlier run did; under a lock, so that test
  // programs running side by side make it once.
  bool MakePrefix() {
    const std::string prefix = TAVRILOX_TEST_WINEPREFIX;
    const int lock = ::open((prefix + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) return false;
    bool made = fs::exists(prefix + "/system.reg") && fs::exists(prefix + "/.made");
    if (!made) {
      ChildProcess boot({wine_, "wineboot", "-i"});
      made = boot.Wait(static_cast<int>(std::chrono::milliseconds(kPrefixWait).count())) == 0;
      if (made) WriteBytes(prefix + "/.made", "");
    }
    ::close(lock);
    return made;
  }

  std::string ReaderFolder() const { return folder_.Path() + "/jane"; }
  std::string ReaderExe() const { return ReaderFolder() + "/Jane2ch.exe"; }
  std::string ReaderLog() const { return ReadBytes(ReaderFolder() + "/fake-reader.log"); }

  // Path in the local form, LogsPath in the reader's: winepath both ways.
  std::unique_ptr<ProxyHarness> StartProxy(int receiveTimeOut) {
    const std::string logs = "Z:" + ReaderFolder() + "/Logs";
    std::string logsInReaderForm = logs;
    std::replace(logsInReaderForm.begin(), logsInReaderForm.end(), '/', '\\');
    fs::create_directories(ReaderFolder() + "/Logs");
    auto proxy = std::make_unique<ProxyHarness>([&](SettingValues& v) {
      v.DatMode = 3;
      v.JaneStylePath = CDoubleString::FromUtf8(ReaderExe());
      v.LogsPath = CDoubleString::FromUtf8(logsInReaderForm);
      v.ReceiveTimeOut = receiveTimeOut;
    });
    proxy->Server().Reader().Use(windows_);
    return proxy;
  }

  // The fake reader started directly, as a user would have started it.
  void StartReaderOurselves() {
    reader_ = std::make_unique<ChildProcess>(std::vector<std::string>{wine_, ReaderExe()});
    ASSERT_TRUE(WaitFor([&] { return Count(ReaderLog(), "started") == 1; }, kReaderStartWait));
  }

  std::string Ask(ProxyHarness& proxy, const std::string& request) {
    const std::size_t rowsBefore = proxy.Shell().FinishedRows().size();
    LoopbackClient reader(proxy.Port());
    reader.Send(request);
    std::string answer = reader.ReadAll(90000);
    EXPECT_TRUE(proxy.Shell().WaitForFinishedRows(rowsBefore + 1, 90000));
    return answer;
  }

  static inline std::string wine_;
  static inline ChildProcess* display_ = nullptr;
  static inline std::string displayName_;
  ScopedEnvironment environment_;
  TempDir folder_;
  std::shared_ptr<WineReaderWindows> windows_;
  std::unique_ptr<ChildProcess> reader_;
};

TEST_F(LocalRouteWineTest, FindsTheRunningReaderAndAnswersFullPartialAndNotModified) {
  StartReaderOurselves();
  auto proxy = StartProxy(30000);
  EXPECT_EQ(Ask(*proxy, DatRequest()), Full(kDat));
  EXPECT_EQ(Ask(*proxy, DatRequest("Range: bytes=18-\r\n")),
            "HTTP/1.1 206 Partial Content\r\nServer: cloudflare-nginx\r\nContent-Type: text/plain\r\n"
            "Content-Length: 13\r\nConnection: close\r\nAccept-Ranges: bytes\r\nContent-Range: bytes "
            "18-30/31\r\n\r\n" +
                kDat.substr(18));

  // A bridge that died is started again for the next request.
  const pid_t firstBridge = windows_->BridgePid();
  ASSERT_GT(firstBridge, 0);
  ::kill(firstBridge, SIGKILL);
  EXPECT_EQ(Ask(*proxy, DatRequest("Range: bytes=30-\r\n")),
            "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n");
  EXPECT_NE(windows_->BridgePid(), firstBridge);

  const std::string log = ReaderLog();
  EXPECT_EQ(Count(log, "started"), 1u) << "the running reader was used, not started again";
  EXPECT_EQ(Count(log, std::string("typed ") + kThreadUrl), 3u);
  EXPECT_EQ(Count(log, "command 724"), 2u * 2u * 3u) << "two utility windows, before and after each fetch";
  // The view open at the start and the one opened for each thread.
  EXPECT_EQ(Count(log, "page view closed"), 1u + 3u) << log;
  for (const auto& row : proxy->Shell().FinishedRows()) EXPECT_EQ(row.cells[5], u"成功");
}

TEST_F(LocalRouteWineTest, StartsAReaderThatIsNotRunningAndClosesItAtTheEnd) {
  auto proxy = StartProxy(30000);
  EXPECT_EQ(Ask(*proxy, DatRequest()), Full(kDat));
  EXPECT_EQ(Count(ReaderLog(), "started"), 1u);
  proxy.reset();  // the program ends
  EXPECT_TRUE(WaitFor([&] { return Count(ReaderLog(), "\nclosed\n") == 1u; }, 20s)) << ReaderLog();
}

TEST_F(LocalRouteWineTest, AReaderThatNeverSavesTheFileGivesNothingAfterReceiveTimeOut) {
  fs::remove(ReaderFolder() + "/canned.dat");
  StartReaderOurselves();
  auto proxy = StartProxy(1000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask(*proxy, DatRequest()), "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_EQ(proxy->Shell().FinishedRows().back().cells[5], u"失敗(-1,0x00000000)");
  EXPECT_EQ(Count(ReaderLog(), std::string("typed ") + kThreadUrl), 1u);
}

}  // namespace
}  // namespace tav::test
