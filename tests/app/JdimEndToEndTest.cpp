// A real Linux reader against the proxy: JDim runs under Xvfb in a network
// namespace of its own that has nothing but a loopback interface, and reaches
// the proxy only through a relay. The proxy's upstream is a fake board that
// answers the thread's read.cgi page. JDim must store exactly the dat that the
// proxy made of that page.
//
// JDim is set up unattended: a partial jd.conf in its cache folder sends all
// its board and data traffic through the proxy and points every other
// address it knows at 127.0.0.1, and a boards.xml names the board, so that
// no board list is fetched.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "acquire/ConverterTestPages.h"
#include "acquire/HtmlConverter.h"
#include "platform/CBregOnig.h"
#include "platform/ProgramFolder.h"
#include "platform/TextCodec.h"
#include "support/FakeHttpServer.h"
#include "support/LoopbackOnlyProcess.h"
#include "support/ProxyHarness.h"
#include "support/ScopedEnvironment.h"
#include "support/TcpRelay.h"
#include "support/TestCertificateAuthority.h"

namespace tav::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testpages::Layout;

constexpr char kHost[] = "egg.5ch.net";
constexpr char kBoard[] = "applism";
constexpr char kKey[] = "1517988732";
constexpr char kReadCgiPath[] = "/test/read.cgi/applism/1517988732/";
constexpr char kBoardDate[] = "Tue, 08 Dec 2026 16:05:05 GMT";
constexpr auto kDatWait = 60s;    // from JDim's start to the stored dat
constexpr auto kStoreWait = 10s;  // from the proxy's answer to the stored dat

// Starts Xvfb on a display it picks itself, then JDim on that display, and
// ends both when it gets SIGTERM. Both get SIGKILL should this shell die.
constexpr char kRunScript[] = R"sh(
xvfb_pid=
jdim_pid=
finish() {
  [ -n "$jdim_pid" ] && kill -TERM "$jdim_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill -TERM "$xvfb_pid" 2>/dev/null
  wait
  exit "$1"
}
trap 'finish 0' TERM INT HUP
setpriv --pdeathsig KILL -- "$XVFB" -displayfd 3 -nolisten tcp -screen 0 1280x800x24 \
  3>"$WORK/display" 2>"$WORK/xvfb.log" &
xvfb_pid=$!
tries=0
until grep -qs '^[0-9][0-9]*$' "$WORK/display"; do
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then echo "Xvfb ended before it was ready"; finish 1; fi
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ]; then echo "Xvfb was not ready within 20 s"; finish 1; fi
  sleep 0.1
done
echo "Xvfb ready on display :$(cat "$WORK/display")"
DISPLAY=":$(cat "$WORK/display")" setpriv --pdeathsig KILL -- "$JDIM" -s --geometry=1200x760-0+0 "$THREAD_URL" \
  >"$WORK/jdim.log" 2>&1 &
jdim_pid=$!
wait "$jdim_pid"
echo "JDim ended by itself with status $?"
jdim_pid=
finish 1
)sh";

// `name` joined to the first directory of PATH that holds it; empty when none does.

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tavrilox-jdim-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// JDim's settings, as `key = value` lines; JDim fills in every key left out.
// Board, posting and data traffic goes to the proxy without cookies; the
// other addresses JDim fetches point at the namespace's own loopback, where
// nothing listens.
std::string JdimConfig(int proxyPort) {
  std::string config;
  for (const std::string suffix : {"_for2ch", "_for2ch_w", "_for_data"}) {
    config += "use_proxy" + suffix + " = 1\n";
    config += "proxy" + suffix + " = 127.0.0.1\n";
    config += "proxy_port" + suffix + " = " + std::to_string(proxyPort) + "\n";
    config += "send_cookie_to_proxy" + suffix + " = 0\n";
  }
  for (const char* key :
       {"url_bbsmenu", "url_login2ch", "url_loginbe", "url_search_title", "url_search_web"}) {
    config += std::string(key) + " = http://127.0.0.1:9/\n";
  }
  config += "instruct_tglart = 0\n";    // no hint dialog over the thread view
  config += "check_update_boot = 0\n";  // no update check at start
  return config;
}

// The board list JDim keeps in its cache folder, in the form JDim writes it.
std::string BoardList(const std::string& scheme) {
  const std::string url = scheme + "://" + kHost + "/" + kBoard + "/";
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<boardlist path=\"0\" y=\"0\">\n";
  xml += "  <subdir name=\"テスト\">\n";
  xml += "    <board name=\"スマホアプリ\" url=\"" + url + "\" />\n";
  xml += "  </subdir>\n";
  xml += "</boardlist>\n";
  return xml;
}

// A small thread with what a dat line must carry over: a mail field, a line
// break, an anchor link with an entity, a name with an "@".
std::vector<testpages::Post> ThreadPosts() {
  std::vector<testpages::Post> posts = testpages::Numbered({1, 2, 3, 4});
  posts[0].message = " JDimで読むスレ <br> 二行目 ";
  posts[1].mail = "sage";
  posts[2].message =
      " <a href=\"../test/read.cgi/applism/1517988732/1\" rel=\"noopener noreferrer\" "
      "target=\"_blank\">&gt;&gt;1</a> <br> 了解 ";
  posts[3].name = "名無しさん@お腹いっぱい。";
  return posts;
}

// The dat the proxy makes of `page` with the settings it runs with.
std::string DatTheProxyMakes(CSetting& setting, const std::string& page) {
  auto cfg = setting.Snapshot();
  std::string out;
  ConvertCall call;
  const CBregOnig engine(true);
  ConvertPage(ChooseConverter(page, *cfg, engine), page, out, call, *cfg, engine);
  return out;
}

bool IsThreadPage(const ReceivedRequest& request) {
  const std::string_view target = request.target;
  return request.method == "GET" && target.ends_with(kReadCgiPath);
}

// The access-log row of JDim's dat request, once the proxy has finished it.
std::optional<LogRow> FinishedDatRow(const RecordingShell& shell) {
  for (const auto& row : shell.FinishedRows()) {
    if (row.cells[4] == u"HTML") return row;
  }
  return std::nullopt;
}

// Polls `done` until it holds, `keepGoing` fails, or `timeout` passes.
bool WaitUntil(const std::function<bool()>& done, const std::function<bool()>& keepGoing,
               std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (!keepGoing() || std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

// JDim asks for the dat of a board it knows under http with the target
// "http://egg.5ch.net:80/applism/dat/1517988732.dat", and for one it knows
// under https with "https://egg.5ch.net:443/...", both in plain text to the
// proxy; the proxy fetches the page of the latter with https. Either way the
// page is fetched from the board domain in use.
class JdimEndToEnd : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    jdim_ = FindExecutable("jdim");
    xvfb_ = FindExecutable("Xvfb");
    if (jdim_.empty() || xvfb_.empty() || FindExecutable("setpriv").empty()) {
      GTEST_SKIP() << "needs jdim, Xvfb and setpriv in PATH (scripts/install-deps.sh installs them)";
    }
    ASSERT_FALSE(work_.Path().empty());
    fs::create_directories(Cache());
    fs::create_directories(Home());
    environment_.ClearProxyAndCaVariables();
    environment_.Set("SSL_CERT_FILE", TestCertificateAuthority::Instance().CaFile());
  }

  fs::path Cache() const { return work_ / "cache"; }
  fs::path Home() const { return work_ / "home"; }

  // JDim under Xvfb with `threadUrl` to open, waiting in its namespace.
  std::unique_ptr<LoopbackOnlyProcess> PrepareReader(const std::string& threadUrl) const {
    const fs::path home = Home();
    LoopbackOnlyProcess::Command command;
    command.argv = {"/bin/sh", "-c", kRunScript, "jdim-run"};
    command.environment = {"PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                           "HOME=" + home.string(),
                           "XDG_CONFIG_HOME=" + (home / ".config").string(),
                           "XDG_CACHE_HOME=" + (home / ".cache").string(),
                           "XDG_DATA_HOME=" + (home / ".local/share").string(),
                           "XDG_STATE_HOME=" + (home / ".local/state").string(),
                           "LANG=C.UTF-8",
                           "NO_AT_BRIDGE=1",
                           "GSETTINGS_BACKEND=memory",
                           "JDIM_CACHE=" + Cache().string(),
                           "WORK=" + work_.Path().string(),
                           "XVFB=" + xvfb_,
                           "JDIM=" + jdim_,
                           "THREAD_URL=" + threadUrl};
    command.outputPath = (work_ / "run.log").string();
    return std::make_unique<LoopbackOnlyProcess>(std::move(command));
  }

  // Everything that tells what went wrong.
  std::string Diagnostics(const FakeHttpServer& board, const RecordingShell& shell) const {
    std::string text = "\nboard requests:\n";
    for (const auto& request : board.Requests()) {
      text += "  " + request.requestLine + (request.tls ? " (tls)" : "") + "\n";
    }
    text += "proxy log:\n";
    for (const auto& row : shell.FinishedRows()) {
      text += " ";
      for (const auto& cell : row.cells) text += " | " + Utf16ToUtf8(cell);
      text += "\n";
    }
    for (const char* log : {"run.log", "jdim.log", "xvfb.log"}) {
      text += std::string(log) + ":\n" + ReadFile(work_ / log);
    }
    return text;
  }

  TempDir work_;
  ScopedEnvironment environment_;
  std::string jdim_;
  std::string xvfb_;
};

TEST_P(JdimEndToEnd, StoresTheDatTheProxyMadeOfTheBoardPage) {
  const std::string scheme = GetParam();
  const std::string page = testpages::Page(Layout::kDiv, "JDimで読むスレ", ThreadPosts());
  // Plays the board for plain requests and, after a CONNECT, for https ones.
  FakeHttpServer board(FakeHttpServer::Options{.tls = false, .acceptConnect = true});
  board.SetHandler([&page](const ReceivedRequest& request) {
    if (!IsThreadPage(request)) return ScriptedResponse::Status(404, "Not Found");
    return ScriptedResponse::Status(
        200, "OK", {{"Date", kBoardDate}, {"Content-Type", "text/html; charset=Shift_JIS"}}, page);
  });
  const std::string upstream = board.Authority();
  ProxyHarness proxy([&](SettingValues& values) {
    values.DatMode = 2;
    values.ProxyMode = 2;
    values.Proxy = CDoubleString::FromUtf8(upstream);
  });
  const std::string expectedDat = DatTheProxyMakes(proxy.Setting(), page);
  ASSERT_FALSE(expectedDat.empty());

  auto reader = PrepareReader(scheme + "://" + kHost + kReadCgiPath);
  if (!reader->Prepared()) {
    GTEST_SKIP() << "cannot shut JDim into a loopback-only network namespace (needs root): "
                 << reader->WhyNot();
  }
  WriteFile(Cache() / "jd.conf", JdimConfig(reader->ListenerPort()));
  WriteFile(Cache() / "boards.xml", BoardList(scheme));
  TcpRelay relay(reader->TakeListener(), proxy.Port());
  ASSERT_TRUE(reader->Start());

  // Stored, or given up: JDim ended or gave up the load, the proxy failed
  // the request, or JDim has had the answer for a while.
  const fs::path dat = Cache() / kHost / kBoard / (std::string(kKey) + ".dat");
  std::optional<std::chrono::steady_clock::time_point> answeredAt;
  const bool stored =
      WaitUntil([&] { return ReadFile(dat) == expectedDat; },
                [&] {
                  auto row = FinishedDatRow(proxy.Shell());
                  if (row && !answeredAt) answeredAt = std::chrono::steady_clock::now();
                  return reader->Running() && (!row || row->cells[5] == u"成功") &&
                         (!answeredAt || std::chrono::steady_clock::now() - *answeredAt < kStoreWait) &&
                         ReadFile(work_ / "jdim.log").find("load failed") == std::string::npos;
                },
                kDatWait);
  reader->Stop();
  relay.Stop();
  const std::string diagnostics = Diagnostics(board, proxy.Shell());

  EXPECT_TRUE(stored) << "JDim did not store the dat the proxy made" << diagnostics;
  EXPECT_EQ(ReadFile(dat), expectedDat) << diagnostics;
  auto row = FinishedDatRow(proxy.Shell());
  ASSERT_TRUE(row.has_value()) << diagnostics;
  EXPECT_EQ(row->cells[2], Utf8ToUtf16(kHost)) << "no port in the host";
  EXPECT_EQ(row->cells[5], u"成功");

  // The proxy asked the board for the thread's read.cgi page once, on the
  // thread's server under the board domain in use: JDim's 5ch.net is an
  // alias the proxy moves there.
  std::vector<ReceivedRequest> pages;
  for (const auto& request : board.Requests()) {
    if (IsThreadPage(request)) pages.push_back(request);
  }
  ASSERT_EQ(pages.size(), 1u) << diagnostics;
  const std::string server = "egg" + proxy.Setting().Snapshot()->Domains.Secondary;
  EXPECT_EQ(pages[0].Header("Host").value_or(""), server);
  EXPECT_EQ(pages[0].tls, scheme == "https");
  if (scheme == "http") {
    EXPECT_EQ(pages[0].target, "http://" + server + kReadCgiPath);
  }
  EXPECT_GE(relay.ConnectionCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(BoardScheme, JdimEndToEnd, ::testing::Values("http", "https"),
                         [](const ::testing::TestParamInfo<std::string>& scheme) { return scheme.param; });

}  // namespace
}  // namespace tav::test
