#include "server/ProxyServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "server/CBrowserSocket.h"
#include "net/CGateway.h"
#include "server/Dispatcher.h"
#include "net/IShell.h"
#include "net/ReaderSocket.h"
#include "server/RequestAssembler.h"
#include "platform/MemoryReuse.h"
#include "platform/HostResolver.h"
#include "config/AllowList.h"
#include "config/CSetting.h"
#include "platform/CBregOnig.h"
#include "config/StringTable.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr int kWaitMs = 200;
constexpr int kIdleLimitMs = 3000;
constexpr std::size_t kReceiveSize = 4095;
constexpr int kBacklog = 128;

bool ResolveBindAddress(const std::string& host, in_addr& address) {
  if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (ResolveHost(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return false;
  address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
  ::freeaddrinfo(result);
  return true;
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK); }

// The numeric text of a peer address ("127.0.0.2", "::1"); empty when the
// address is of another family.
std::string PeerAddressText(const sockaddr_storage& peer) {
  char text[INET6_ADDRSTRLEN] = {};
  if (peer.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
  } else if (peer.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
  }
  return text;
}

}  // namespace

ProxyServer::ProxyServer(CSetting& setting, IShell& shell, CDatCache* datCache)
    : setting_(setting),
      shell_(shell),
      regex_(std::make_unique<CBregOnig>(true)),
      datCache_(datCache),
      clock_(&Clock::System()) {}

ProxyServer::~ProxyServer() { Stop(); }

int ProxyServer::CreateListener() {
  auto cfg = setting_.Snapshot();
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kSocketFailed;
  auto fail = [&](int code) {
    ::close(fd);
    return code;
  };

  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (!ResolveBindAddress(cfg->GatewayHost.Narrow(), address.sin_addr)) return fail(kResolveFailed);
  address.sin_port = htons(static_cast<std::uint16_t>(cfg->GatewayPort));
  int reuse = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return fail(kBindFailed);
  // A backlog of 5 drops the SYN of a reader that opens a burst of
  // connections, and the reader then waits a whole second to retry.
  if (::listen(fd, kBacklog) != 0) return fail(kListenFailed);

  sockaddr_in bound{};
  socklen_t boundLength = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  port_ = ntohs(bound.sin_port);

  if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) return fail(kSelectFailed);
  SetNonBlocking(fd);
  listenSocket_ = fd;
  KeepFreedMemoryForReuse();
  try {
    acceptThread_ = std::thread([this] { AcceptLoop(); });
  } catch (const std::system_error&) {
    listenSocket_ = -1;
    return fail(kSelectFailed);
  }
  shell_.ShowStatus(1);
  char boundText[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &bound.sin_addr, boundText, sizeof boundText);
  if (!IsLoopbackAddress(boundText)) {
    shell_.ShowMessage(kProgramTitle,
                       u"GatewayHost " + cfg->GatewayHost.Wide() +
                           u" is reachable from other machines; only readers from AllowFrom (" +
                           cfg->AllowFrom.Wide() + u") are served.");
  }
  return kListenerReady;
}

void ProxyServer::AcceptLoop() {
  while (!stopping_.load()) {
    pollfd fds[2] = {{listenSocket_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    int rc = ::poll(fds, 2, kWaitMs);
    ReapFinished();
    if (rc <= 0 || stopping_.load()) continue;
    if ((fds[0].revents & POLLIN) != 0) OnAccept();
  }
}

void ProxyServer::OnAccept() {
  sockaddr_storage peer{};
  socklen_t peerLength = sizeof peer;
  int fd =
      ::accept4(listenSocket_, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    // A connection the reader gave up before we took it is no failure.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EINTR) return;
    shell_.AcceptFailed();
    return;
  }
  // Someone outside AllowFrom: not one byte is read, nothing is served.
  std::string peerText = PeerAddressText(peer);
  if (!AllowList::Parse(setting_.Snapshot()->AllowFrom.Narrow()).Allows(peerText)) {
    ::close(fd);
    LogRefused(peerText);
    return;
  }
  shell_.ConnectionAccepted();
  auto record = std::make_unique<CBrowserSocket>();
  record->socket = fd;
  CBrowserSocket& ref = *record;
  std::lock_guard lock(connectionsMutex_);
  try {
    ref.worker = std::thread([this, &ref] { ServeConnection(ref); });
  } catch (const std::system_error&) {
    ::close(fd);
    shell_.ConnectionClosed();
    return;
  }
  connections_.push_back(std::move(record));
}

void ProxyServer::LogRefused(const std::string& peer) { shell_.ConnectionRefused(peer); }

void ProxyServer::ServeConnection(CBrowserSocket& record) {
  try {
    ServeRequests(record);
  } catch (...) {
    // The safety net of the worker: whatever escaped the dispatch's own net
    // (reading, assembling) ends this connection only.
    shell_.RequestFailed();
  }
  record.active = false;
  record.CloseSocket();
  shell_.ConnectionClosed();
  record.finished = true;
}

void ProxyServer::ServeRequests(CBrowserSocket& record) {
  RequestAssembler request;
  int idleMs = 0;
  char scratch[kReceiveSize + 1];

  while (record.active.load()) {
    pollfd pfd{record.socket, POLLIN, 0};
    int rc = ::poll(&pfd, 1, kWaitMs);
    if (rc == 0) {
      idleMs += kWaitMs;
      if (idleMs > kIdleLimitMs) {
        DrainAndShutdown(record.socket);
        break;
      }
      continue;
    }
    if (rc < 0) continue;

    ssize_t got = ::recv(record.socket, scratch, kReceiveSize, 0);
    if (got == 0) break;  // the reader closed
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      break;
    }
    request.Append(std::string_view(scratch, static_cast<std::size_t>(got)));

    bool connectPeerClosed = false;
    if (request.IsConnect() && request.HasBlankLine()) {
      // Bytes sent right behind a CONNECT header are not relayed.
      connectPeerClosed = ::recv(record.socket, scratch, kReceiveSize, MSG_DONTWAIT) == 0;
    }
    auto verdict = request.Check(connectPeerClosed);
    if (verdict == RequestAssembler::Verdict::Incomplete) continue;

    CGateway ctx;
    ctx.regex = regex_.get();
    ctx.apiSession = &apiSession_;
    ctx.drivenReader = &drivenReader_;
    ctx.cfg = setting_.Snapshot();
    ctx.shell = &shell_;
    ctx.datCache = datCache_;
    ctx.clock = clock_;
    ctx.readerSocket = record.socket;
    ctx.cancel = &stopping_;

    DispatchResult result = DispatchResult::Refused;
    if (verdict == RequestAssembler::Verdict::BodyTooLarge) {
      LogBadRequest(ctx, request.Text());
    } else {
      std::unique_lock<std::recursive_mutex> lock(dispatchLock_, std::defer_lock);
      if (ctx.cfg->MultiReadThread == 0) lock.lock();
      result = DispatchRequest(ctx, request.Text());
    }
    if (result != DispatchResult::Served) shell_.RequestFailed();
    request.Reset();
    if (ctx.closeAfter) {
      DrainAndShutdown(record.socket);
      break;
    }
    idleMs = 0;
  }
}

void ProxyServer::ReapFinished() {
  std::list<std::unique_ptr<CBrowserSocket>> done;
  {
    std::lock_guard lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->finished.load()) {
        done.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& record : done) {
    if (record->worker.joinable()) record->worker.join();
  }
}

void ProxyServer::Stop() {
  if (stopping_.exchange(true)) {
    if (acceptThread_.joinable()) acceptThread_.join();
    return;
  }
  if (wakePipe_[1] >= 0) {
    char wake = 1;
    [[maybe_unused]] auto ignored = ::write(wakePipe_[1], &wake, 1);
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  if (listenSocket_ >= 0) {
    ::shutdown(listenSocket_, SHUT_RDWR);
    ::close(listenSocket_);
    listenSocket_ = -1;
  }
  for (int& fd : wakePipe_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  std::list<std::unique_ptr<CBrowserSocket>> all;
  {
    std::lock_guard lock(connectionsMutex_);
    all.swap(connections_);
  }
  for (auto& record : all) {
    record->active = false;
    record->ShutdownSocket();
  }
  for (auto& record : all) {
    if (record->worker.joinable()) record->worker.join();
  }
}

std::size_t ProxyServer::ActiveConnections() const {
  std::lock_guard lock(connectionsMutex_);
  std::size_t count = 0;
  for (const auto& record : connections_) count += record->finished.load() ? 0 : 1;
  return count;
}

}  // namespace tav
