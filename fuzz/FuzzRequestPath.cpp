// One reader request along the whole path: intake, classification, dispatch
// and the dat answer, against a fake board in this process that answers
// every upstream request with a canned page. Whatever the bytes, the
// dispatch must come back with one of its results and the proxy must go on.
//
// Input: byte 0 chooses DatMode (0-6), DiffMode, the regex switch and the
// layout of the board's page; byte 1 chooses header lines added after the
// request line (a Range from a table of starts, If-Modified-Since,
// Connection: close); the rest is the request. Each input is dispatched
// twice with one dat cache, so that the second dispatch meets the thread
// cached by the first.
//
// Nothing leaves the loopback address: every upstream request goes through
// the fake board as the configured upstream proxy, and the resolver knows
// no name but the fake board's own address and port.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "acquire/CDatCache.h"
#include "acquire/ConverterTestPages.h"
#include "acquire/ApiSessionCache.h"
#include "config/CSetting.h"
#include "platform/CBregOnig.h"
#include "net/CGateway.h"
#include "platform/HostResolver.h"
#include "server/Dispatcher.h"

namespace {

using tav::testpages::Layout;

constexpr int kLayouts = 7;  // five page layouts, a JSON answer, an error page

std::string CannedPage(int layout) {
  using namespace tav::testpages;
  std::vector<Post> posts = Numbered({1, 2, 4, 5});
  posts[1].mail = "sage";
  switch (layout) {
    case 0:
      return Page(Layout::kDiv, "スレ", posts);
    case 1:
      return Page(Layout::kDtSpan, "スレ", posts);
    case 2:
      return Page(Layout::kMeta, "スレ", posts);
    case 3:
      return Page(Layout::kMetaWithoutId, "スレ", posts);
    case 4:
      return Page(Layout::kDl, "スレ", posts);
    case 5:
      return "<html><body>503 Service Unavailable</body></html>";
    default:
      return Page(Layout::kDiv, "もうずっと人大杉", posts);
  }
}

// The JSON endpoint's answer: two posts and a title.
constexpr std::string_view kJsonAnswer =
    R"({"total_count":2,"thread":[1,2,3,4,5,"title"],"comments":[[1,"name","sage",1500000000,"abcd","",)"
    R"("message one"],[2,"  two  ","","1500000100","efgh","123","message  two"]]})";

class FakeBoard {
 public:
  FakeBoard() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_, 64) != 0) {
      std::abort();
    }
    socklen_t length = sizeof address;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    std::thread([this] { Serve(); }).detach();
  }

  int Port() const { return port_; }
  void SetLayout(int layout) { layout_ = layout; }

 private:
  void Serve() {
    for (;;) {
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Answer(fd);
      ::close(fd);
    }
  }

  void Answer(int fd) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < (1u << 20)) {
      pollfd entry{fd, POLLIN, 0};
      if (::poll(&entry, 1, 1000) <= 0) return;
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    std::string body;
    std::string status = "200 OK";
    if (request.starts_with("CONNECT ")) {
      status = "403 Forbidden";  // no tunnels beyond this process
    } else if (request.find("/public/newapi/client.php") != std::string::npos) {
      body = kJsonAnswer;
    } else {
      body = CannedPage(layout_.load());
    }
    const std::string reply = "HTTP/1.1 " + status + "\r\nDate: Sat, 01 Jan 2000 00:00:00 GMT\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    std::string_view rest = reply;
    while (!rest.empty()) {
      const ssize_t sent = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
      if (sent <= 0) return;
      rest.remove_prefix(static_cast<std::size_t>(sent));
    }
  }

  int listen_ = -1;
  int port_ = 0;
  std::atomic<int> layout_{0};
};

FakeBoard& Board() {
  static FakeBoard* board = new FakeBoard;  // serves until the process ends
  return *board;
}

// Only the fake board's own address and port resolve.
int FakeBoardOnly(const char* host, const char* service, const addrinfo* hints, addrinfo** result) {
  if (host == nullptr || service == nullptr || std::string_view(host) != "127.0.0.1" ||
      std::string_view(service) != std::to_string(Board().Port())) {
    return EAI_NONAME;
  }
  addrinfo numeric{};
  if (hints != nullptr) numeric = *hints;
  numeric.ai_flags |= AI_NUMERICHOST | AI_NUMERICSERV;
  return ::getaddrinfo(host, service, &numeric, result);
}

tav::CSetting& Setting() {
  static tav::CSetting* setting = [] {
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    tav::SetResolverForTesting(&FakeBoardOnly);
    return new tav::CSetting;
  }();
  return *setting;
}

std::string RangeLine(std::uint8_t choice) {
  static const char* const kRanges[] = {"0-", "10-", "-500", "2147483648-", "abc-", "1-2,5-6", "100000-", "99"};
  return std::string("Range: bytes=") + kRanges[choice % 8] + "\r\n";
}

// The request with the chosen header lines after its first line.
std::string WithHeaderLines(std::string_view request, std::uint8_t variants) {
  std::string lines;
  if ((variants & 0x08) != 0) lines += RangeLine(variants);
  if ((variants & 0x10) != 0) lines += "If-Modified-Since: Sat, 01 Jan 2000 00:00:00 GMT\r\n";
  if ((variants & 0x20) != 0) lines += "Connection: close\r\n";
  std::string text(request);
  const std::size_t lineEnd = text.find("\r\n");
  if (lineEnd == std::string::npos) return text + "\r\n" + lines + "\r\n";
  text.insert(lineEnd + 2, lines);
  return text;
}

void Drain(int fd) {
  char buffer[65536];
  while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t control = data[0];
  const std::uint8_t variants = data[1];
  const std::string request =
      WithHeaderLines(std::string_view(reinterpret_cast<const char*>(data + 2), size - 2), variants);

  tav::CSetting& setting = Setting();
  FakeBoard& board = Board();
  board.SetLayout((control >> 5) % kLayouts);
  setting.Update([&](tav::SettingValues& v) {
    v.DatMode = control % 7;
    v.DiffMode = (control >> 3) & 1;
    v.BregexpMode = (control >> 4) & 1;
    v.ProxyMode = 2;
    v.Proxy.SetNarrow("127.0.0.1:" + std::to_string(board.Port()));
    v.SubjectSubback = 1;
    v.KakoLogHtml = (variants >> 6) & 1;
    v.FixFTPBug = (variants >> 7) & 1;
    v.ReceiveTimeOut = 1000;
  });

  int reader[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, reader) != 0) return 0;
  static const tav::CBregOnig engine(true);
  static tav::ApiSessionCache session;
  tav::CDatCache cache;
  for (int round = 0; round < 2; ++round) {
    tav::CGateway ctx;
    ctx.regex = &engine;
    ctx.apiSession = &session;
    ctx.cfg = setting.Snapshot();
    ctx.datCache = &cache;
    ctx.readerSocket = reader[0];
    // A fault would mean something was thrown: the code paths never may.
    if (tav::DispatchRequest(ctx, request) == tav::DispatchResult::Fault) std::abort();
    Drain(reader[1]);
  }
  ::close(reader[0]);
  ::close(reader[1]);
  return 0;
}
