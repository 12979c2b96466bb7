#pragma once
// Writing whole blocks to a socket that may be non-blocking (the reader's
// socket is). A partial send never loses the rest of a block: the remainder
// is sent after the next writability wait.

#include <atomic>
#include <cstddef>
#include <span>
#include <string_view>

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

// SendBlock for pieces that go out one after another as one stream (a
// header and the body it announces): each send hands the kernel all that is
// left of them at once, without joining them into one buffer first.
SendOutcome SendPieces(int socket, std::span<const std::string_view> pieces, int waitSeconds,
                       std::size_t* sent = nullptr, const std::atomic<bool>* cancel = nullptr);

// Turns off Nagle's algorithm on a TCP socket (nothing for other sockets).
// A relay passes on what it has at once: otherwise a block sent alone (a
// header block, the tail of a body block) waits for the peer's
// acknowledgement, which made a 1 MB pass-through several times slower.
void SendAtOnce(int socket);

// The answers the proxy gives in place of a server it could not get one from.
enum class GatewayFailure {
  kBadGateway,      // 502: no connection, no answer, or a refusal on the way
  kGatewayTimeout,  // 504: the server did not answer in time
};

// Writes a complete answer of that status: "Content-Type: text/plain;
// charset=UTF-8", "Connection: close", and `reason` (one line) as the body.
// Returns the number of bytes written.
std::size_t SendGatewayFailure(int socket, GatewayFailure failure, std::string_view reason, int waitSeconds,
                               const std::atomic<bool>* cancel = nullptr);

// Whole seconds of the writability wait for a ReceiveTimeOut in milliseconds.
inline int WritableWaitSeconds(int receiveTimeOutMs) { return receiveTimeOutMs > 0 ? receiveTimeOutMs / 1000 : 0; }

}  // namespace tav
