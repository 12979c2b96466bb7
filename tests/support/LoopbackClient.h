#pragma once
// A raw TCP client on 127.0.0.1 playing the reader.

#include <string>
#include <string_view>

namespace tav::test {

class LoopbackClient {
 public:
  // `sourceAddress` (another loopback address such as "127.0.0.2") is the
  // address the connection comes from; null lets the system choose.
  explicit LoopbackClient(int port, const char* sourceAddress = nullptr);
  ~LoopbackClient();
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  bool Connected() const { return fd_ >= 0; }
  bool Send(std::string_view bytes);
  // Reads until the peer closes or nothing arrives for `idleMs`.
  std::string ReadAll(int idleMs = 5000);
  // Reads until `count` bytes arrived, the peer closed, or `idleMs` passed.
  std::string ReadAtLeast(std::size_t count, int idleMs = 5000);
  // True when the peer closes within `timeoutMs` (pending data is discarded).
  bool WaitForClose(int timeoutMs);
  void Close();
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Splits an HTTP answer into its header block (with the blank line) and body.
struct HttpAnswer {
  std::string head;
  std::string body;
  static HttpAnswer Split(const std::string& raw);
  std::string Header(std::string_view name) const;  // value of "name: value", or ""
};

}  // namespace tav::test
