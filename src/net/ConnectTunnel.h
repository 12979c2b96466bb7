#pragma once
#include <cstdint>
#include <string_view>

namespace tav {
struct CGateway;

// Serves a CONNECT request: connects to the target and relays bytes both
// ways until one second passes without traffic or a side closes.
int HandleConnect(CGateway& ctx, std::string_view request, int readerSocket, std::int64_t& bytesSent);
}  // namespace tav
