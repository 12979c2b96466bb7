#pragma once
#include <cstdint>
#include <string_view>

namespace tav {
struct CGateway;

// Rebuilds a request that is not intercepted, with its rewrites, and streams
// the server's answer to the reader. Returns the route status: 0 when the
// upstream request succeeded, -1 for a request that cannot be rebuilt
// (nothing is sent), otherwise the string id of the failure's cause. A
// failure before the answer started is answered with 502 (504 when the
// server did not answer in time); every failure closes the connection.
// Bytes behind the request's body are not sent: they belong to a next
// request, and the connection is closed after this answer.
int HandlePassThrough(CGateway& ctx, std::string_view request, std::int64_t& bytesSent);
}  // namespace tav
