#include "support/LoopbackClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tav::test {

LoopbackClient::LoopbackClient(int port, const char* sourceAddress) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sourceAddress != nullptr) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    if (::inet_pton(AF_INET, sourceAddress, &source.sin_addr) != 1 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
      Close();
      return;
    }
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
}

LoopbackClient::~LoopbackClient() { Close(); }

bool LoopbackClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

std::string LoopbackClient::ReadAtLeast(std::size_t count, int idleMs) {
  std::string data;
  char buffer[65536];
  while (data.size() < count) {
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, idleMs) <= 0) break;
    ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    data.append(buffer, static_cast<std::size_t>(got));
  }
  return data;
}

std::string LoopbackClient::ReadAll(int idleMs) { return ReadAtLeast(static_cast<std::size_t>(-1), idleMs); }

bool LoopbackClient::WaitForClose(int timeoutMs) {
  char buffer[4096];
  for (;;) {
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0) return false;
    ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) return true;
  }
}

void LoopbackClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

HttpAnswer HttpAnswer::Split(const std::string& raw) {
  HttpAnswer answer;
  std::size_t blank = raw.find("\r\n\r\n");
  if (blank == std::string::npos) {
    answer.head = raw;
    return answer;
  }
  answer.head = raw.substr(0, blank + 4);
  answer.body = raw.substr(blank + 4);
  return answer;
}

std::string HttpAnswer::Header(std::string_view name) const {
  std::string needle = "\r\n" + std::string(name) + ": ";
  std::size_t at = head.find(needle);
  if (at == std::string::npos) return {};
  std::size_t start = at + needle.size();
  return head.substr(start, head.find("\r\n", start) - start);
}

}  // namespace tav::test
