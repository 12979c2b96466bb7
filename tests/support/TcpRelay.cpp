#include "support/TcpRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace tav::test {
namespace {

int ConnectToLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TcpRelay::TcpRelay(int listener, int targetPort) : listener_(listener), targetPort_(targetPort) {
  if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {  // no way to stop it: relay nothing
    stopPipe_[0] = stopPipe_[1] = -1;
    return;
  }
  acceptThread_ = std::thread(&TcpRelay::AcceptLoop, this);
}

TcpRelay::~TcpRelay() { Stop(); }

std::size_t TcpRelay::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connectionCount_;
}

void TcpRelay::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    // Wakes relays blocked in a send to a peer that no longer reads.
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  if (stopPipe_[1] >= 0) {
    char byte = 0;
    [[maybe_unused]] ssize_t written = ::write(stopPipe_[1], &byte, 1);
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& worker : workers) worker.join();
  for (int fd : {listener_, stopPipe_[0], stopPipe_[1]}) {
    if (fd >= 0) ::close(fd);
  }
  listener_ = stopPipe_[0] = stopPipe_[1] = -1;
}

void TcpRelay::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(client);
      return;
    }
    ++connectionCount_;
    openFds_.insert(client);
    workers_.emplace_back(&TcpRelay::Relay, this, client);
  }
}

void TcpRelay::Relay(int client) {
  int target = ConnectToLoopback(targetPort_);
  if (target < 0) {
    Forget(client);
    ::close(client);
    return;
  }
  Track(target);
  // Each direction ends on its own: the end of one side's data is passed on
  // as a half close, as a direct connection would.
  bool clientOpen = true;
  bool targetOpen = true;
  while (clientOpen || targetOpen) {
    pollfd fds[3] = {{clientOpen ? client : -1, POLLIN, 0},
                     {targetOpen ? target : -1, POLLIN, 0},
                     {stopPipe_[0], POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) continue;
    if (fds[2].revents != 0) break;
    if (clientOpen && fds[0].revents != 0 && !Forward(client, target)) {
      clientOpen = false;
      ::shutdown(target, SHUT_WR);
    }
    if (targetOpen && fds[1].revents != 0 && !Forward(target, client)) {
      targetOpen = false;
      ::shutdown(client, SHUT_WR);
    }
  }
  Forget(client);
  Forget(target);
  ::close(client);
  ::close(target);
}

bool TcpRelay::Forward(int from, int to) {
  char buffer[16384];
  ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
  if (got <= 0) return false;
  for (ssize_t sent = 0; sent < got;) {
    ssize_t n = ::send(to, buffer + sent, static_cast<std::size_t>(got - sent), MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += n;
  }
  return true;
}

void TcpRelay::Track(int fd) {
  std::lock_guard lock(mutex_);
  openFds_.insert(fd);
  if (stopping_) ::shutdown(fd, SHUT_RDWR);
}

void TcpRelay::Forget(int fd) {
  std::lock_guard lock(mutex_);
  openFds_.erase(fd);
}

}  // namespace tav::test
