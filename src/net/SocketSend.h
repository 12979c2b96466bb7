#pragma once
// Writing whole blocks to a socket that may be non-blocking (the reader's
// socket is). A partial send never loses the rest of a block: the remainder
// is sent after the next writability wait.

#include <atomic>
#include <cstddef>

namespace tav {

enum class SendOutcome {
  kSent,     // every byte was written
  kStalled,  // the socket did not become writable within the wait
  kBroken,   // the peer is gone (reset, closed, bad descriptor)
};

// Writes `length` bytes. Before every attempt waits until the socket is
// writable, at most `waitSeconds` whole seconds. A send that fails because
// the socket would block is retried once after 500 ms. `sent` (optional)
// receives the number of bytes written. `cancel` (optional) ends a wait
// early when set.
SendOutcome SendBlock(int socket, const char* data, std::size_t length, int waitSeconds,
                      std::size_t* sent = nullptr, const std::atomic<bool>* cancel = nullptr);

// Turns off Nagle's algorithm on a TCP socket (nothing for other sockets).
// A relay passes on what it has at once: otherwise a block sent alone (a
// header block, the tail of a body block) waits for the peer's
// acknowledgement, which made a 1 MB pass-through several times slower.
void SendAtOnce(int socket);

// Whole seconds of the writability wait for a ReceiveTimeOut in milliseconds.
inline int WritableWaitSeconds(int receiveTimeOutMs) { return receiveTimeOutMs > 0 ? receiveTimeOutMs / 1000 : 0; }

}  // namespace tav
