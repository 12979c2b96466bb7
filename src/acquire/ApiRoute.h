#pragma once
#include <cstdint>
#include <string_view>

namespace tav {
struct CGateway;

// Answers a dat request through the board's official API.
int GetDatByApi(CGateway& ctx, std::string_view request, std::int64_t& bytesSent);
}  // namespace tav
