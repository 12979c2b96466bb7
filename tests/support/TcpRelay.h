#pragma once
// Carries every connection that arrives on a listening TCP socket to
// 127.0.0.1:<port> and relays the bytes both ways until both sides are done.
//
// The listening socket may belong to another network namespace: a program
// shut into a namespace of its own that has only a loopback interface (see
// LoopbackOnlyProcess) then reaches a server of the test, and nothing else.
//
//   TcpRelay relay(listener, proxy.Port());   // takes the listener
//   ... the program connects to the listener's port in its namespace ...
//   relay.Stop();                              // also done by the destructor

#include <cstddef>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace tav::test {

class TcpRelay {
 public:
  TcpRelay(int listener, int targetPort);
  ~TcpRelay();
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  // Connections accepted so far.
  std::size_t ConnectionCount() const;
  // Closes the listener, cuts every relayed connection and joins all threads.
  void Stop();

 private:
  void AcceptLoop();
  void Relay(int client);
  // Copies what `from` has to `to`; false when `from` has nothing more.
  static bool Forward(int from, int to);
  void Track(int fd);
  void Forget(int fd);

  int listener_ = -1;
  int targetPort_ = 0;
  int stopPipe_[2] = {-1, -1};  // readable once Stop() has begun

  mutable std::mutex mutex_;
  bool stopping_ = false;
  std::size_t connectionCount_ = 0;
  std::set<int> openFds_;  // relayed sockets, cut by Stop()
  std::vector<std::thread> workers_;
  std::thread acceptThread_;
};

}  // namespace tav::test
