#include "support/ReaderSocketPair.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tav::test {
namespace {

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("ReaderSocketPair: ") + what + ": " + std::strerror(errno));
}

}  // namespace

ReaderSocketPair::ReaderSocketPair() {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Require(listener >= 0, "socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  Require(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
  Require(::listen(listener, 1) == 0, "listen");
  Require(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0, "getsockname");
  readerSide_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Require(readerSide_ >= 0, "socket");
  Require(::connect(readerSide_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "connect");
  proxySide_ = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  ::close(listener);
  Require(proxySide_ >= 0, "accept");
}

ReaderSocketPair::~ReaderSocketPair() {
  CloseProxySide();
  ::shutdown(readerSide_, SHUT_RDWR);
  if (collector_.joinable()) collector_.join();
  ::close(readerSide_);
}

void ReaderSocketPair::SendFromReader(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(readerSide_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    Require(sent > 0, "send");
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

void ReaderSocketPair::ShutdownReaderSending() { ::shutdown(readerSide_, SHUT_WR); }

void ReaderSocketPair::CloseProxySide() {
  if (proxySide_ < 0) return;
  ::close(proxySide_);
  proxySide_ = -1;
}

void ReaderSocketPair::StartCollecting() {
  collector_ = std::thread([this] { Collect(); });
}

void ReaderSocketPair::Collect() {
  char block[65536];
  for (;;) {
    const ssize_t got = ::recv(readerSide_, block, sizeof block, 0);
    if (got < 0 && errno == EINTR) continue;
    std::lock_guard lock(mutex_);
    if (got <= 0) {
      ended_ = true;
      changed_.notify_all();
      return;
    }
    collected_.append(block, static_cast<std::size_t>(got));
    changed_.notify_all();
  }
}

std::string ReaderSocketPair::Collected() const {
  std::lock_guard lock(mutex_);
  return collected_;
}

bool ReaderSocketPair::WaitForBytes(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return collected_.size() >= count; });
}

bool ReaderSocketPair::WaitForText(std::string_view text, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return collected_.find(text) != std::string::npos; });
}

std::string ReaderSocketPair::WaitForEnd(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return ended_; });
  return collected_;
}

bool ReaderSocketPair::Ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

}  // namespace tav::test
