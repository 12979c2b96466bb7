#include "net/ReaderSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "net/CGateway.h"

namespace tav {
namespace {

constexpr int kDefaultChunk = 4096;
constexpr int kSmallestChunk = 256;
constexpr int kDefaultTimeoutMs = 30000;

// Waits until the socket takes more bytes; false on time-out or error.
bool WaitWritable(int socket, int timeoutSeconds) {
  pollfd pfd{socket, POLLOUT, 0};
  int rc;
  do {
    rc = poll(&pfd, 1, timeoutSeconds * 1000);
  } while (rc < 0 && errno == EINTR);
  return rc > 0 && (pfd.revents & POLLOUT) != 0;
}

// One send; a send that would block is tried once more after 500 ms.
// Returns the bytes sent, 0 for a refused send, -1 for a broken socket.
long SendOnce(int socket, const char* data, std::size_t n) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const ssize_t sent = send(socket, data, n, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (attempt == 0) std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  return 0;
}

}  // namespace

int SendToReader(const CGateway& ctx, int socket, const char* data, std::int64_t& length) {
  const std::int64_t total = length;
  length = 0;
  if (total <= 0 || data == nullptr || socket < 0) return 0;

  int chunk = ctx.cfg ? ctx.cfg->RecvBufferSize : kDefaultChunk;
  chunk = std::max(chunk, kSmallestChunk);
  const int timeoutSeconds = (ctx.cfg ? ctx.cfg->ReceiveTimeOut : kDefaultTimeoutMs) / 1000;

  std::int64_t position = 0;
  int refused = 0;
  while (position < total) {
    if (!WaitWritable(socket, std::max(timeoutSeconds, 0))) break;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(chunk, total - position));
    const long sent = SendOnce(socket, data + position, n);
    if (sent < 0) break;
    if (sent == 0) {
      // The socket keeps refusing although it reports room: give up rather
      // than spin.
      if (++refused >= 2) break;
      continue;
    }
    refused = 0;
    position += sent;
  }
  length = position;
  return 0;
}

void DrainAndShutdown(int socket) {
  if (socket < 0) return;
  shutdown(socket, SHUT_WR);
  char scratch[4096];
  for (;;) {
    pollfd pfd{socket, POLLIN, 0};
    if (poll(&pfd, 1, 1000) <= 0) break;  // a peer that never finishes is not waited for
    const ssize_t got = recv(socket, scratch, sizeof scratch, 0);
    if (got <= 0) break;
  }
  shutdown(socket, SHUT_RDWR);
}

}  // namespace tav
