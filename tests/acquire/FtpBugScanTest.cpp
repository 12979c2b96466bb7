// The FTP-bug scan end to end against one thread on a fake board, reached
// as the upstream proxy so that its requests name the real board host.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "acquire/FtpBugScan.h"
#include "config/CSetting.h"
#include "support/FakeHttpServer.h"
#include "support/FakeThreadBoard.h"
#include "support/ScopedEnvironment.h"
#include "support/TestCertificateAuthority.h"

namespace tav::test {
namespace {

using namespace std::chrono_literals;
using Ranges = std::vector<std::string>;

constexpr char16_t kFinishedWithPosts[] = u"検索終了.";
constexpr char16_t kFinishedWithout[] = u"このスレッドにftpバグはありません.";
constexpr char16_t kMissingThread[] = u"スレッド情報がおかしいです.";
constexpr char16_t kMissingInput[] = u"未入力のスレッド情報があります.";

// Run() reports on the calling thread.
class RecordingListener : public IFtpBugScanListener {
 public:
  void ScanStatusChanged(const std::u16string& status) override { statuses.push_back(status); }
  void ScanPostsChanged(const std::vector<std::int32_t>& posts) override { shownPosts = posts; }
  void ScanFinished(const FtpBugScanResult&) override {}

  std::vector<std::u16string> statuses;
  std::vector<std::int32_t> shownPosts;
};

class FtpBugScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    environment_.ClearProxyAndCaVariables();
    setting_.Update([this](SettingValues& v) {
      v.ProxyMode = 2;
      v.Proxy = CDoubleString::FromUtf8(server_.Authority());
    });
    server_.SetHandler(board_.Handler());
  }

  FtpBugScanResult Scan(const FtpBugScanInput& input = {"egg", "applism", "1517988732"}) {
    FtpBugScan scan(setting_, listener_, FtpBugScanOptions{0ms});
    return scan.Run(input);
  }

  ScopedEnvironment environment_;
  CSetting setting_;
  FakeThreadBoard board_;
  FakeHttpServer server_;
  RecordingListener listener_;
};

TEST_F(FtpBugScanTest, BrokenPostIsFoundPairByPairThenPostByPost) {
  board_.broken = {4};
  FtpBugScanResult result = Scan();

  EXPECT_EQ(board_.Ranges(server_), (Ranges{"subject.txt", "1-2", "3-4", "3", "4", "5-6"}));
  auto requests = server_.Requests();
  EXPECT_EQ(requests[0].target, "http://egg.5ch.io/applism/subject.txt");
  EXPECT_EQ(requests[2].target, "http://egg.5ch.io/test/read.cgi/applism/1517988732/3-4");
  EXPECT_EQ(requests[2].Header("Accept").value_or(""), "text/html, application/xhtml+xml, */*");
  EXPECT_EQ(requests[2].Header("Accept-Language").value_or(""), "ja,en-us;q=0.7,en;q=0.3");
  EXPECT_EQ(requests[2].Header("User-Agent"), setting_.Snapshot()->HtmlUserAgent.Narrow());

  EXPECT_EQ(result.end, FtpBugScanEnd::kFinished);
  EXPECT_EQ(result.posts, std::vector<std::int32_t>{4});
  EXPECT_EQ(listener_.shownPosts, std::vector<std::int32_t>{4});
  EXPECT_EQ(result.status, kFinishedWithPosts);
  EXPECT_EQ(listener_.statuses,
            (std::vector<std::u16string>{u"Check res 1/6...", u"Check res 1/6... ok.", u"Check res 3/6...",
                                         u"Check res 3/6... ftpバグ発見!", u"Check res 5/6...",
                                         u"Check res 5/6... ok.", kFinishedWithPosts}));
}

TEST_F(FtpBugScanTest, ThreadsWithoutBrokenPostsAndCountsFromTheLastPostPage) {
  struct Row {
    const char* what;
    int posts;
    bool listed;
    testpages::Layout layout;
    Ranges ranges;
  };
  const Row rows[] = {
      {"4 posts", 4, true, testpages::Layout::kDiv, {"subject.txt", "1-2", "3-4"}},
      {"5 posts", 5, true, testpages::Layout::kDiv, {"subject.txt", "1-2", "3-4", "5-6"}},
      {"not listed, div page", 3, false, testpages::Layout::kDiv, {"subject.txt", "l1", "1-2", "3-4"}},
      {"not listed, meta page", 4, false, testpages::Layout::kMeta, {"subject.txt", "l1", "1-2", "3-4"}},
  };
  for (const Row& row : rows) {
    FakeHttpServer server;
    FakeThreadBoard board;
    board.posts = row.posts;
    board.listed = row.listed;
    board.layout = row.layout;
    server.SetHandler(board.Handler());
    setting_.Update([&](SettingValues& v) { v.Proxy = CDoubleString::FromUtf8(server.Authority()); });
    FtpBugScanResult result = Scan();
    EXPECT_EQ(board.Ranges(server), row.ranges) << row.what;
    EXPECT_EQ(result.end, FtpBugScanEnd::kFinished) << row.what;
    EXPECT_TRUE(result.posts.empty()) << row.what;
    EXPECT_EQ(result.status, kFinishedWithout) << row.what;
  }
}

TEST_F(FtpBugScanTest, HtmlSslAsksForTheListAndEveryPageOverHttps) {
  FakeHttpServer secureBoard(FakeHttpServer::Options{.tls = false, .acceptConnect = true});
  secureBoard.SetHandler(board_.Handler());
  environment_.Set("SSL_CERT_FILE", TestCertificateAuthority::Instance().CaFile());
  setting_.Update([&](SettingValues& v) {
    v.HtmlSSL = 1;
    v.Proxy = CDoubleString::FromUtf8(secureBoard.Authority());
  });
  board_.posts = 2;
  EXPECT_EQ(Scan().end, FtpBugScanEnd::kFinished);
  Ranges overTls;
  for (const ReceivedRequest& request : secureBoard.Requests()) {
    if (request.tls) overTls.push_back(board_.RangeOf(request) + "@" + request.Header("Host").value_or(""));
  }
  EXPECT_EQ(overTls, (Ranges{"subject.txt@egg.5ch.io", "1-2@egg.5ch.io"}));
}

TEST_F(FtpBugScanTest, ScansThatEndEarly) {
  // A thread the board has not: no count anywhere, so the scan heads for
  // 1000 posts and stops at the first pair.
  board_.listed = false;
  board_.exists = false;
  FtpBugScanResult result = Scan();
  EXPECT_EQ(board_.Ranges(server_), (Ranges{"subject.txt", "l1", "1-2"}));
  EXPECT_EQ(result.end, FtpBugScanEnd::kMissingThread);
  EXPECT_EQ(result.status, kMissingThread);
  EXPECT_EQ(listener_.statuses.front(), u"Check res 1/1000...");

  // Nothing to ask for: no request at all.
  result = Scan({"egg", "", "1517988732"});
  EXPECT_EQ(result.end, FtpBugScanEnd::kMissingInput);
  EXPECT_EQ(result.status, kMissingInput);
  EXPECT_EQ(server_.RequestCount(), 3u);

  // An error page is no proof that the pair is sound.
  server_.SetHandler([this](const ReceivedRequest& request) {
    return board_.RangeOf(request) == "3-4" ? ScriptedResponse::Status(503, "Service Unavailable", {}, "busy")
                                            : board_.Answer(request);
  });
  board_.listed = true;
  board_.exists = true;
  result = Scan();
  EXPECT_EQ(result.end, FtpBugScanEnd::kFailed);
  EXPECT_EQ(result.status, u"Check res 3/6... 不明なエラーです.");

  // A board that cannot be reached.
  setting_.Update([](SettingValues& v) { v.Proxy = CDoubleString::FromUtf8("127.0.0.1:1"); });
  result = Scan();
  EXPECT_EQ(result.end, FtpBugScanEnd::kFailed);
  EXPECT_EQ(result.status, u"Check res 1/1000... 不明なエラーです.");
}

}  // namespace
}  // namespace tav::test
