#pragma once
// One accepted reader connection.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace tav {

struct CBrowserSocket {
  std::thread worker;
  std::atomic<bool> active{true};    // the worker keeps serving while set
  std::atomic<bool> finished{false}; // the worker has left its loop
  std::mutex socketMutex;            // guards closing against a shutdown from Stop()
  int socket = -1;

  // Closes the socket once; safe against a concurrent ShutdownSocket().
  void CloseSocket();
  // Wakes a worker blocked on the socket without closing the descriptor.
  void ShutdownSocket();
};

}  // namespace tav
