#include "core/ReaderSocket.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "core/CGateway.h"

namespace tav {
namespace {

bool WaitWritable(int socket, int timeoutSeconds) {
  pollfd pfd{socket, POLLOUT, 0};
  int rc = ::poll(&pfd, 1, timeoutSeconds * 1000);
  return rc > 0 && (pfd.revents & POLLOUT) != 0;
}

// One chunk; a send that would block is retried once after 500 ms.
std::int64_t SendChunk(int socket, const char* data, std::size_t length) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    ssize_t sent = ::send(socket, data, length, MSG_NOSIGNAL);
    if (sent >= 0) return sent;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return 0;
    if (attempt == 0) std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  return 0;
}

}  // namespace

int SendToReader(const CGateway& ctx, int socket, const char* data, std::int64_t& length) {
  const std::int64_t total = length;
  length = 0;
  if (total <= 0 || socket < 0) return 0;
  const std::int64_t chunk = ctx.cfg ? std::max(ctx.cfg->RecvBufferSize, 256) : 4096;
  const int timeoutSeconds = ctx.cfg ? ctx.cfg->ReceiveTimeOut / 1000 : 30;
  const std::int64_t steps = total / chunk + (total % chunk != 0 ? 1 : 0);

  std::int64_t position = 0;
  for (std::int64_t step = 0; step < steps; ++step) {
    if (!WaitWritable(socket, timeoutSeconds)) break;
    std::int64_t piece = step + 1 == steps ? total - position : chunk;
    std::int64_t sent = SendChunk(socket, data + position, static_cast<std::size_t>(piece));
    if (sent == 0) break;
    position += sent;
  }
  length = position;
  return 0;
}

void DrainAndShutdown(int socket) {
  if (socket < 0) return;
  ::shutdown(socket, SHUT_WR);
  char scratch[4096];
  // The socket is non-blocking: wait briefly for the peer's remaining bytes
  // and its close, but never hang on a reader that keeps the line open.
  for (int rounds = 0; rounds < 50; ++rounds) {
    pollfd pfd{socket, POLLIN, 0};
    if (::poll(&pfd, 1, 100) <= 0) break;
    ssize_t got = ::recv(socket, scratch, sizeof scratch, 0);
    if (got <= 0) break;
  }
  ::shutdown(socket, SHUT_RDWR);
}

}  // namespace tav
