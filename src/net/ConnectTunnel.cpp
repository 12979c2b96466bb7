#include "net/ConnectTunnel.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "net/CGateway.h"
#include "net/IShell.h"
#include "net/Request.h"
#include "net/SocketSend.h"
#include "net/UpstreamClient.h"
#include "platform/HostResolver.h"

namespace tav {
namespace {

constexpr std::size_t kRequestLineLimit = 1023;
constexpr std::size_t kBlockSize = 4095;
constexpr int kIdleLimitMs = 1000;
constexpr int kDefaultReceiveTimeOut = 30000;
constexpr std::string_view kEstablished = "HTTP/1.1 200 Connection Established\r\n\r\n";

struct Endpoint {
  std::string host;
  std::string port;
};

bool IsPort(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= 1 && value <= 65535;
}

// "host:port", or an absolute URL ("scheme://host[:port]/..."). A target
// without a port that is not a URL cannot be used.
std::optional<Endpoint> ParseTarget(std::string_view target) {
  std::string_view authority = target;
  std::string defaultPort;
  if (const auto scheme = target.find("://"); scheme != std::string_view::npos) {
    const std::string_view name = target.substr(0, scheme);
    defaultPort = name == "https" ? "443" : name == "http" ? "80" : "";
    authority = target.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  }
  const auto colon = authority.rfind(':');
  Endpoint endpoint;
  if (colon == std::string_view::npos) {
    if (defaultPort.empty()) return std::nullopt;
    endpoint = {std::string(authority), defaultPort};
  } else {
    endpoint = {std::string(authority.substr(0, colon)), std::string(authority.substr(colon + 1))};
  }
  if (endpoint.host.empty() || !IsPort(endpoint.port)) return std::nullopt;
  return endpoint;
}

// The second token of the request line: the CONNECT target.
std::optional<std::string_view> TargetOf(std::string_view request) {
  const std::string_view head = request.substr(0, kRequestLineLimit);
  const std::string_view line = head.substr(0, head.find_first_of("\r\n"));
  const auto methodEnd = line.find(' ');
  if (methodEnd == 0 || methodEnd == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(methodEnd + 1);
  return rest.substr(0, rest.find(' '));
}

class Socket {
 public:
  Socket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd_ >= 0) {
      ::shutdown(fd_, SHUT_RDWR);
      ::close(fd_);
    }
  }
  int Fd() const { return fd_; }

 private:
  int fd_;
};

int ReceiveTimeOutOf(const CGateway& ctx) { return ctx.cfg ? ctx.cfg->ReceiveTimeOut : kDefaultReceiveTimeOut; }

struct AddrInfoDeleter {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

// Waits for a non-blocking connect to finish, at most ReceiveTimeOut (the
// kernel alone would try for minutes); a server shutdown ends the wait.
// True when the connection is established.
bool FinishConnect(int fd, const CGateway& ctx) {
  constexpr int kSliceMs = 200;
  const int limitMs = ReceiveTimeOutOf(ctx);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    pollfd entry{fd, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, kSliceMs);
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0) {
      int error = 0;
      socklen_t length = sizeof error;
      return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    if (ctx.Cancelled() || (limitMs > 0 && std::chrono::steady_clock::now() >= deadline)) return false;
  }
}

// Resolves the host (IPv4, the first address) and connects. 0, -3 or -4.
// The socket is non-blocking, so that a server that stops reading cannot
// hold a send (and the worker) for ever.
int Connect(const Socket& upstream, const Endpoint& endpoint, const CGateway& ctx) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (ResolveHost(endpoint.host.c_str(), endpoint.port.c_str(), &hints, &found) != 0 || found == nullptr) return -3;
  std::unique_ptr<addrinfo, AddrInfoDeleter> addresses(found);
  ::fcntl(upstream.Fd(), F_SETFL, ::fcntl(upstream.Fd(), F_GETFL) | O_NONBLOCK);
  if (::connect(upstream.Fd(), found->ai_addr, found->ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return -4;
  return FinishConnect(upstream.Fd(), ctx) ? 0 : -4;
}

// Copies bytes both ways until one second passes without traffic, either
// side closes or the server shuts down.
class Relay {
 public:
  Relay(CGateway& ctx, int reader, int server)
      : ctx_(ctx), reader_(reader), server_(server),
        waitSeconds_(WritableWaitSeconds(ReceiveTimeOutOf(ctx))) {}

  void Run() {
    for (;;) {
      pollfd sides[2] = {{reader_, POLLIN, 0}, {server_, POLLIN, 0}};
      const int ready = ::poll(sides, 2, kIdleLimitMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || ctx_.Cancelled()) return;
      if (sides[0].revents != 0 && !Carry(reader_, server_, toServer_, Direction::ToServer)) return;
      if (sides[1].revents != 0 && !Carry(server_, reader_, toReader_, Direction::ToReader)) return;
    }
  }

  std::int64_t ToServer() const { return toServer_; }
  std::int64_t ToReader() const { return toReader_; }

 private:
  enum class Direction { ToServer, ToReader };

  // One block from `from` to `to`; false when `from` has closed or failed,
  // or when `to` did not take the whole block: the stream would go on with
  // a hole in it. The counter holds what was actually passed on.
  bool Carry(int from, int to, std::int64_t& counter, Direction direction) {
    char block[kBlockSize];
    const ssize_t got = ::recv(from, block, sizeof block, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    if (got <= 0) return false;
    std::size_t sent = 0;
    const SendOutcome outcome = SendBlock(to, block, static_cast<std::size_t>(got), waitSeconds_, &sent, ctx_.cancel);
    counter += static_cast<std::int64_t>(sent);
    ShowCount(direction, counter);
    return outcome == SendOutcome::kSent;
  }

  void ShowCount(Direction direction, std::int64_t count) {
    if (ctx_.shell == nullptr) return;
    if (direction == Direction::ToServer) {
      ctx_.shell->BytesSent(ctx_.requestId, count);
    } else {
      ctx_.shell->BytesReceived(ctx_.requestId, count);
    }
  }

  CGateway& ctx_;
  const int reader_;
  const int server_;
  const int waitSeconds_;
  std::int64_t toServer_ = 0;
  std::int64_t toReader_ = 0;
};

// The reader's answer when the tunnel cannot be opened.
void AnswerFailure(CGateway& ctx, int readerSocket, const Endpoint& endpoint, int failure) {
  FetchReport report;
  report.server = endpoint.host + ":" + endpoint.port;
  report.failure = failure == -3 ? FetchFailure::kResolve : FetchFailure::kConnect;
  const std::string reason = failure == -3 || failure == -4
                                 ? DescribeFetchFailure(report)
                                 : "Tavrilox: no connection to " + report.server + " can be opened";
  SendGatewayFailure(readerSocket, GatewayFailure::kBadGateway, reason, WritableWaitSeconds(ReceiveTimeOutOf(ctx)),
                     ctx.cancel);
}

int Tunnel(CGateway& ctx, const Request& request, std::int64_t& bytesSent, std::int64_t& bytesReceived) {
  const int readerSocket = ctx.readerSocket;
  // Whatever fails before the relay, the reader's connection ends with it.
  const auto target = TargetOf(request.requestLine);
  const auto endpoint = target ? ParseTarget(*target) : std::nullopt;
  if (!endpoint) {
    ctx.closeAfter = true;
    return -1;
  }
  // A target naming port 443 is an https site; other targets name their
  // host and port themselves.
  const Socket upstream;
  if (const int failed = upstream.Fd() < 0 ? -2 : Connect(upstream, *endpoint, ctx); failed != 0) {
    ctx.closeAfter = true;
    AnswerFailure(ctx, readerSocket, *endpoint, failed);
    return failed;
  }

  SendAtOnce(upstream.Fd());
  SendAtOnce(readerSocket);
  SendBlock(readerSocket, kEstablished.data(), kEstablished.size(), WritableWaitSeconds(ReceiveTimeOutOf(ctx)),
            nullptr, ctx.cancel);
  Relay relay(ctx, readerSocket, upstream.Fd());
  relay.Run();
  bytesSent = relay.ToServer();
  bytesReceived = relay.ToReader();
  return 0;
}

}  // namespace

RouteResult HandleConnect(CGateway& ctx, const Request& request, const RouteOptions&) {
  RouteResult result;
  // The log names a tunnel that could not be opened "失敗", whatever the cause.
  if (Tunnel(ctx, request, result.bytesSent, result.bytesReceived) != 0) return RouteResult::Failure(kCodeFailed);
  return result;
}

}  // namespace tav
