#pragma once
// Writing answers to the reader's socket.

#include <cstdint>
#include <span>
#include <string_view>

namespace tav {

struct CGateway;

// Sends `length` bytes, waiting up to ReceiveTimeOut whenever the socket
// takes no more. On return `length` holds the number of bytes actually
// written. Always returns 0.
int SendToReader(const CGateway& ctx, int socket, const char* data, std::int64_t& length);
// The same for pieces sent one after another (a header and its body) with
// one vectored send each time, never copied into one buffer.
int SendToReader(const CGateway& ctx, int socket, std::span<const std::string_view> pieces, std::int64_t& length);

// On a connection that closes after this answer (the context's close flag),
// the reader sees the end of the stream as soon as the answer's last byte is
// out, not only after the request's clean-up: the sending side is shut down
// now. Nothing for a connection that stays open.
void EndAnswer(const CGateway& ctx);

// Graceful close without closing the descriptor: stop sending, read until
// the peer is done, then shut down both directions.
void DrainAndShutdown(int socket);

}  // namespace tav
