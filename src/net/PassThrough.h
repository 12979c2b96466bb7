#pragma once
#include <cstdint>
#include <string_view>

namespace tav {
struct CGateway;

// Rebuilds a request that is not intercepted, with its rewrites, and streams
// the server's answer to the reader. 0 when the upstream request succeeded.
int HandlePassThrough(CGateway& ctx, std::string_view request, std::int64_t& bytesSent);
}  // namespace tav
