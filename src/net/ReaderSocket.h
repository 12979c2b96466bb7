#pragma once
// Writing answers to the reader's socket.

#include <cstdint>

namespace tav {

struct CGateway;

// Sends `length` bytes in chunks of RecvBufferSize, waiting up to
// ReceiveTimeOut for the socket to take each chunk. On return `length`
// holds the number of bytes actually written. Always returns 0.
int SendToReader(const CGateway& ctx, int socket, const char* data, std::int64_t& length);

// Graceful close without closing the descriptor: stop sending, read until
// the peer is done, then shut down both directions.
void DrainAndShutdown(int socket);

}  // namespace tav
