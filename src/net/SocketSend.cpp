#include "net/SocketSend.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace tav {
namespace {

constexpr int kWaitSliceMs = 200;  // how often a long wait looks at the cancel flag
constexpr auto kWouldBlockRetryDelay = std::chrono::milliseconds(500);

bool Cancelled(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }

// True when the socket became writable (or reports an error, which the next
// send then reveals) within `waitMs`.
bool WaitWritable(int socket, int waitMs, const std::atomic<bool>* cancel) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int slice = static_cast<int>(std::max<long long>(0, std::min<long long>(left.count(), kWaitSliceMs)));
    pollfd entry{socket, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, slice);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
    if (Cancelled(cancel) || std::chrono::steady_clock::now() >= deadline) return false;
  }
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

void SendAtOnce(int socket) {
  const int on = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

SendOutcome SendBlock(int socket, const char* data, std::size_t length, int waitSeconds, std::size_t* sent,
                      const std::atomic<bool>* cancel) {
  const std::string_view piece(data, length);
  return SendPieces(socket, std::span(&piece, 1), waitSeconds, sent, cancel);
}

SendOutcome SendPieces(int socket, std::span<const std::string_view> pieces, int waitSeconds, std::size_t* sent,
                       const std::atomic<bool>* cancel) {
  constexpr std::size_t kMaxVectors = 8;  // more pieces go out over several sends
  std::size_t done = 0;
  std::size_t piece = 0;   // the first piece not yet sent whole
  std::size_t offset = 0;  // bytes of that piece already sent
  // Sends what is left of the pieces; the result of sendmsg.
  auto sendRest = [&] {
    iovec vectors[kMaxVectors];
    std::size_t count = 0;
    for (std::size_t i = piece; i < pieces.size() && count < kMaxVectors; ++i) {
      const std::string_view rest = i == piece ? pieces[i].substr(offset) : pieces[i];
      if (rest.empty()) continue;
      vectors[count].iov_base = const_cast<char*>(rest.data());
      vectors[count].iov_len = rest.size();
      ++count;
    }
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = count;
    return ::sendmsg(socket, &message, MSG_NOSIGNAL);
  };
  auto advance = [&](std::size_t n) {
    done += n;
    while (piece < pieces.size() && n >= pieces[piece].size() - offset) {
      n -= pieces[piece].size() - offset;
      offset = 0;
      ++piece;
    }
    offset += n;
  };
  advance(0);  // steps over empty pieces at the start
  SendOutcome outcome = SendOutcome::kSent;
  // A socket with room takes the bytes at once; only a full one is waited
  // for. (Waiting first would cost a poll per block for the same result.)
  bool mustWait = false;
  while (piece < pieces.size()) {
    if (mustWait && !WaitWritable(socket, waitSeconds * 1000, cancel)) {
      outcome = SendOutcome::kStalled;
      break;
    }
    ssize_t n = sendRest();
    if (n < 0 && WouldBlock(errno) && mustWait) {
      std::this_thread::sleep_for(kWouldBlockRetryDelay);
      n = sendRest();
    }
    if (n > 0) {
      advance(static_cast<std::size_t>(n));
      mustWait = false;
      continue;
    }
    if (n < 0 && (WouldBlock(errno) || errno == EINTR)) {
      mustWait = errno != EINTR;
      continue;
    }
    outcome = SendOutcome::kBroken;
    break;
  }
  if (sent != nullptr) *sent = done;
  return outcome;
}

std::size_t SendGatewayFailure(int socket, GatewayFailure failure, std::string_view reason, int waitSeconds,
                               const std::atomic<bool>* cancel) {
  const std::string body = std::string(reason.substr(0, reason.find_first_of("\r\n"))) + "\r\n";
  std::string answer = failure == GatewayFailure::kGatewayTimeout ? "HTTP/1.1 504 Gateway Timeout\r\n"
                                                                   : "HTTP/1.1 502 Bad Gateway\r\n";
  answer += "Content-Type: text/plain; charset=UTF-8\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nConnection: close\r\n\r\n" + body;
  std::size_t sent = 0;
  SendBlock(socket, answer.data(), answer.size(), waitSeconds, &sent, cancel);
  return sent;
}

}  // namespace tav
