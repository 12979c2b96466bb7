#include "net/ReaderSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/CGateway.h"
#include "net/SocketSend.h"

namespace tav {
namespace {

constexpr int kDefaultTimeoutMs = 30000;

}  // namespace

int SendToReader(const CGateway& ctx, int socket, std::span<const std::string_view> pieces, std::int64_t& length) {
  length = 0;
  if (socket < 0) return 0;
  const int waitSeconds = WritableWaitSeconds(ctx.cfg ? ctx.cfg->ReceiveTimeOut : kDefaultTimeoutMs);
  std::size_t sent = 0;
  SendPieces(socket, pieces, waitSeconds, &sent, ctx.cancel);
  length = static_cast<std::int64_t>(sent);
  return 0;
}

int SendToReader(const CGateway& ctx, int socket, const char* data, std::int64_t& length) {
  const std::int64_t total = length;
  length = 0;
  if (total <= 0 || data == nullptr) return 0;
  const std::string_view whole(data, static_cast<std::size_t>(total));
  return SendToReader(ctx, socket, std::span(&whole, 1), length);
}

void EndAnswer(const CGateway& ctx) {
  if (ctx.closeAfter && ctx.readerSocket >= 0) shutdown(ctx.readerSocket, SHUT_WR);
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
