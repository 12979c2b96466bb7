// The local dat route end to end over loopback: a reader asks the proxy in
// "Style" mode, the proxy drives a reader instance on an in-process fake
// desktop, whose Enter handler saves the thread into a real log folder that
// the route watches.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "acquire/FakeReaderWindows.h"
#include "acquire/LocalRoute.h"
#include "acquire/DrivenReader.h"
#include "platform/TextCodec.h"
#include "support/FileBytes.h"
#include "support/LoopbackClient.h"
#include "support/ProxyHarness.h"
#include "support/TempDir.h"

namespace tav::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kReaderPath[] = "/opt/jane/Jane2ch.exe";
constexpr char16_t kReaderImage[] = u"z:\\OPT\\jane\\JANE2CH.exe";  // as the window system reports it
constexpr char kHost[] = "egg.5ch.net";
constexpr char kBoard[] = "software";
constexpr char kKey[] = "1234567890";
constexpr char kThreadUrl[] = "http://egg.5ch.io/test/read.cgi/software/1234567890/";
const std::string kDat = "a<>b<>c<>d<>title\ne<>f<>g<>h<>\n";  // 31 bytes

std::string DatRequest(const std::string& host, const std::string& rangeLine = "") {
  return "GET http://" + host + "/" + kBoard + "/dat/" + kKey + ".dat HTTP/1.1\r\nHost: " + host +
         "\r\nUser-Agent: Monazilla/1.00 JaneStyle/4.23\r\n" + rangeLine + "\r\n";
}

std::string Range(std::size_t start) { return "Range: bytes=" + std::to_string(start) + "-\r\n"; }

std::string Full(const std::string& text) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(text.size()) +
         "\r\nConnection: keep-alive\r\nVary: Accept-Encoding\r\nServer: cloudflare-nginx\r\n\r\n" + text;
}

std::string Partial(const std::string& text, std::size_t start) {
  const std::string tail = text.substr(start);
  return "HTTP/1.1 206 Partial Content\r\nServer: cloudflare-nginx\r\nContent-Type: "
         "text/plain\r\nContent-Length: " +
         std::to_string(tail.size()) +
         "\r\nConnection: close\r\nAccept-Ranges: bytes\r\nContent-Range: bytes " + std::to_string(start) +
         "-" + std::to_string(text.size() - 1) + "/" + std::to_string(text.size()) + "\r\n\r\n" + tail;
}

const std::string kNotModified = "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n";

// "<board>/<key>" of a typed read.cgi address.
std::string ThreadOf(const std::u16string& typed) {
  const std::string url = Utf16ToUtf8(typed);
  const std::string marker = "/test/read.cgi/";
  const std::size_t at = url.find(marker);
  if (at == std::string::npos) return {};
  std::string rest = url.substr(at + marker.size());
  return rest.substr(0, rest.rfind('/'));
}

class LocalRouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The reader saves what it is asked for into its log folder and opens a
    // page view for it, as the real one does.
    desktop_->onEnter = [this](WindowHandle, const std::u16string& typed) {
      if (reader_.main != WindowHandle::kNone)
        desktop_->AddChild("opened view", reader_.main, u"Internet Explorer_Server");
      if (save_) save_(ThreadOf(typed));
    };
    save_ = [this](const std::string& thread) { Save(thread, dat_); };
  }

  std::string LogsFolder() const { return logs_.Path() + "/Logs"; }

  // Saves a new file each time: a file that is only changed does not count.
  void Save(const std::string& thread, const std::string& text) {
    const std::string path = LogsFolder() + "/" + thread + ".dat";
    fs::create_directories(fs::path(path).parent_path());
    fs::remove(path);
    WriteBytes(path, text);
  }

  // A proxy in Style mode whose driven reader lives on the fake desktop.
  // LogsPath is given in the reader's form, Path in the local one.
  std::unique_ptr<ProxyHarness> StartProxy(const ProxyHarness::Configure& configure = {}) {
    fs::create_directories(LogsFolder());
    std::u16string logs = u"Z:" + Utf8ToUtf16(LogsFolder());
    std::replace(logs.begin(), logs.end(), u'/', u'\\');
    auto proxy = std::make_unique<ProxyHarness>([&](SettingValues& v) {
      v.DatMode = 3;
      v.JaneStylePath = CDoubleString::FromUtf8(kReaderPath);
      v.LogsPath = CDoubleString::FromWide(logs);
      v.ReceiveTimeOut = 1000;
      if (configure) configure(v);
    });
    proxy->Server().Reader().Use(desktop_);
    proxy->Server().Reader().SetPause(
        [this](std::chrono::milliseconds ms) { desktop_->Record("pause " + std::to_string(ms.count())); });
    return proxy;
  }

  std::string Ask(ProxyHarness& proxy, const std::string& request) {
    const std::size_t rowsBefore = proxy.Shell().FinishedRows().size();
    LoopbackClient reader(proxy.Port());
    reader.Send(request);
    std::string answer = reader.ReadAll(8000);
    EXPECT_TRUE(proxy.Shell().WaitForFinishedRows(rowsBefore + 1, 8000));
    const auto rows = proxy.Shell().FinishedRows();
    if (!rows.empty()) lastRow_ = rows.back();
    return answer;
  }

  std::shared_ptr<FakeReaderWindows> desktop_ = std::make_shared<FakeReaderWindows>();
  FakeReaderWindows::Reader reader_;
  TempDir logs_;
  std::string dat_ = kDat;
  std::function<void(const std::string& thread)> save_;
  LogRow lastRow_;
};

TEST_F(LocalRouteTest, AnswersFromTheFileTheRunningReaderSaved) {
  reader_ = desktop_->AddReader(kReaderImage);
  auto proxy = StartProxy();
  EXPECT_EQ(Ask(*proxy, DatRequest(kHost)), Full(kDat));
  EXPECT_EQ(lastRow_.cells[4], u"Style");
  EXPECT_EQ(lastRow_.cells[5], u"成功");
  EXPECT_EQ(lastRow_.cells[7], Utf8ToUtf16(std::to_string(Full(kDat).size())));
  // No start and no wait before the address is typed; page views closed on
  // both searches; command 724 before and after the fetch.
  EXPECT_EQ(
      desktop_->Calls(),
      (std::vector<std::string>{"close pageview", "minimise main", "command utilityA 724",
                                "command utilityB 724", std::string("text edit ") + kThreadUrl, "enter edit",
                                "close opened view", "command utilityA 724", "command utilityB 724"}));
  EXPECT_EQ(proxy->Server().Reader().MainWindow(), reader_.main);
  EXPECT_TRUE(proxy->Shell().Warnings().empty());
}

TEST_F(LocalRouteTest, AnswersByItsOwnRangeRule) {
  reader_ = desktop_->AddReader(kReaderImage);
  auto proxy = StartProxy();
  const std::string notice = Sjis("２ちゃんねる ★") + "<><><>x<>title\nmore<><><>y<>\n";
  std::string withNul = kDat;
  withNul[3] = '\0';
  std::string withStar = kDat;
  withStar[3] = '*';
  struct Case {
    const char* what;
    std::string saved;
    std::string rangeLine;
    std::string expected;
  } cases[] = {
      {"no range: full", kDat, "", Full(kDat)},
      {"range at the length: full again", kDat, Range(kDat.size()), Full(kDat)},
      {"range past the length: full", kDat, Range(kDat.size() + 5), Full(kDat)},
      {"range inside: the tail", kDat, Range(18), Partial(kDat, 18)},
      {"range at the start: all as partial", kDat, Range(0), Partial(kDat, 0)},
      {"only the last line feed is new: not modified", kDat, Range(kDat.size() - 1), kNotModified},
      {"a text that begins with the notice: not modified", notice, Range(3), kNotModified},
      {"NUL bytes reach the reader as stars", withNul, "", Full(withStar)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dat_ = c.saved;
    EXPECT_EQ(Ask(*proxy, DatRequest(kHost, c.rangeLine)), c.expected);
    EXPECT_EQ(lastRow_.cells[5], u"成功");
  }
}

TEST_F(LocalRouteTest, TypesTheAddressUnderTheBoardDomainOfTheRequest) {
  reader_ = desktop_->AddReader(kReaderImage);
  struct Case {
    const char* host;
    int use5ch;
    const char* typed;
  } cases[] = {
      {"egg.5ch.net", 1, "http://egg.5ch.io/test/read.cgi/software/1234567890/"},
      {"egg.5ch.net", 0, "http://egg.2ch.net/test/read.cgi/software/1234567890/"},
      {"mercury.bbspink.com", 1, "http://mercury.bbspink.com/test/read.cgi/software/1234567890/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    auto proxy = StartProxy([&](SettingValues& v) { v.Use5ch = c.use5ch; });
    EXPECT_EQ(Ask(*proxy, DatRequest(c.host)), Full(kDat));
    EXPECT_EQ(desktop_->CountCalls(std::string("text edit ") + c.typed), 1u);
  }
}

TEST_F(LocalRouteTest, StartsTheReaderThroughTheShellWhenItIsNotRunning) {
  desktop_->onStart = [this](const std::u16string&) { reader_ = desktop_->AddReader(kReaderImage); };
  auto proxy = StartProxy();
  EXPECT_EQ(Ask(*proxy, DatRequest(kHost)), Full(kDat));
  const auto calls = desktop_->Calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
            (std::vector<std::string>{"start Z:\\opt\\jane\\Jane2ch.exe", "pause 1000", "front main 1000",
                                      "close pageview"}));
}

TEST_F(LocalRouteTest, SetupFailuresWarnAndAnswerNothing) {
  struct Case {
    const char* what;
    std::function<void(FakeReaderWindows&, SettingValues&)> arrange;
    std::vector<std::u16string> warnings;
    std::size_t pauses;
    std::u16string message;
  } cases[] = {
      {"empty Path",
       [](FakeReaderWindows&, SettingValues& v) { v.JaneStylePath.Clear(); },
       {u"JaneStyleの設定がされていません"},
       0,
       u""},
      {"empty LogsPath",
       [](FakeReaderWindows&, SettingValues& v) { v.LogsPath.Clear(); },
       {u"JaneStyleの設定がされていません"},
       0,
       u""},
      {"a reader that does not come up within ReceiveTimeOut",
       [](FakeReaderWindows&, SettingValues& v) { v.ReceiveTimeOut = 3000; },
       {u"JaneStyleの補足に失敗しました"},
       3,
       u""},
      {"a reader without an address box",
       [](FakeReaderWindows& d, SettingValues&) {
         d.AddTop("main", u"TMainWnd", u"Jane Style", kReaderImage);
       },
       {u"JaneStyle小ウィンドウの補足に失敗しました"},
       6,
       u""},
      {"windows that cannot be reached at all",
       [](FakeReaderWindows& d, SettingValues&) { d.unavailable = "wine was not found"; },
       {},
       0,
       u"Tavrilox v0.17α|JaneStyleを操作できません: wine was not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    desktop_ = std::make_shared<FakeReaderWindows>();
    auto proxy = StartProxy([&](SettingValues& v) { c.arrange(*desktop_, v); });
    EXPECT_EQ(Ask(*proxy, DatRequest(kHost)), "");
    // The row names the failure as the warning did (an unreachable reader
    // is one that was not found).
    EXPECT_EQ(lastRow_.cells[5], c.warnings.empty() ? u"JaneStyleの補足に失敗しました" : c.warnings[0]);
    EXPECT_EQ(proxy->Shell().Warnings(), c.warnings);
    EXPECT_EQ(desktop_->CountCalls("pause"), c.pauses);
    EXPECT_EQ(desktop_->CountCalls("text"), 0u);
    if (!c.message.empty()) {
      EXPECT_EQ(proxy->Shell().Messages(), std::vector<std::u16string>{c.message});
    }
  }
}

TEST_F(LocalRouteTest, NoUsableFileInTimeAnswersNothing) {
  // Over 998 UTF-16 units from the log folder on.
  const std::string deep = std::string(kBoard) + "/" + std::string(250, 'd') + "/" + std::string(250, 'e') +
                           "/" + std::string(250, 'f') + "/" + std::string(250, 'g');
  struct Case {
    const char* what;
    std::function<void(const std::string& thread)> save;
    bool waitsOut;  // true: ends only after ReceiveTimeOut
  } cases[] = {
      {"a reader that never saves the file", [](const std::string&) {}, true},
      {"the thread's dat changed instead of added",
       [this](const std::string& thread) {
         const int fd = ::open((LogsFolder() + "/" + thread + ".dat").c_str(), O_WRONLY | O_APPEND);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(::write(fd, "x", 1), 1);
         ::close(fd);
       },
       false},
      {"another thread's dat added first", [this](const std::string&) { Save("software/999", kDat); }, false},
      {"a name longer than a change record holds", [&](const std::string&) { Save(deep + "/" + kKey, kDat); },
       true},
  };
  reader_ = desktop_->AddReader(kReaderImage);
  auto proxy = StartProxy();
  Save(std::string(kBoard) + "/" + kKey, kDat);  // for the changed-file case
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    save_ = c.save;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Ask(*proxy, DatRequest(kHost)), "");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(lastRow_.cells[5], u"失敗(-1,0x00000000)");
    if (c.waitsOut) {
      // Three empty waits of 500 ms exceed ReceiveTimeOut 1000.
      EXPECT_GE(took, 1500ms);
    } else {
      EXPECT_LT(took, 1000ms);
    }
    // The page views are closed and command 724 is sent after every watch.
    const auto calls = desktop_->Calls();
    EXPECT_EQ(calls.back(), "command utilityB 724");
    EXPECT_EQ(calls[calls.size() - 3], "close opened view");
  }
}

TEST_F(LocalRouteTest, AFileStillBeingWrittenIsReadOnceItsWriterLetsGo) {
  reader_ = desktop_->AddReader(kReaderImage);
  std::thread writer;
  save_ = [&](const std::string& thread) {
    fs::create_directories(fs::path(LogsFolder() + "/" + thread).parent_path());
    const int fd = ::open((LogsFolder() + "/" + thread + ".dat").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, kDat.data(), 10), 10);
    writer = std::thread([fd] {
      std::this_thread::sleep_for(700ms);
      EXPECT_EQ(::write(fd, kDat.data() + 10, kDat.size() - 10), static_cast<ssize_t>(kDat.size() - 10));
      ::close(fd);
    });
  };
  auto proxy = StartProxy([](SettingValues& v) { v.ReceiveTimeOut = 3000; });
  EXPECT_EQ(Ask(*proxy, DatRequest(kHost)), Full(kDat));
  writer.join();
}

TEST_F(LocalRouteTest, TheReaderIsClosedWhenTheProgramEnds) {
  reader_ = desktop_->AddReader(kReaderImage);
  auto proxy = StartProxy();
  Ask(*proxy, DatRequest(kHost));
  EXPECT_EQ(desktop_->CountCalls("postclose"), 0u);
  proxy.reset();
  EXPECT_EQ(desktop_->Calls().back(), "postclose main");
}

}  // namespace
}  // namespace tav::test
