#include "server/CBrowserSocket.h"

#include <sys/socket.h>
#include <unistd.h>

namespace tav {

void CBrowserSocket::CloseSocket() {
  std::lock_guard lock(socketMutex);
  if (socket >= 0) ::close(socket);
  socket = -1;
}

void CBrowserSocket::ShutdownSocket() {
  std::lock_guard lock(socketMutex);
  if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
}

}  // namespace tav
