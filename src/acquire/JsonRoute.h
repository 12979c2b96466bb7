#pragma once
#include <cstdint>
#include <string_view>

namespace tav {
struct CGateway;
struct CHttpHeaderInfo;

// Answers a dat request from the board's JSON endpoint.
int GetDatByJson(CGateway& ctx, std::string_view request, std::int64_t& bytesSent, CHttpHeaderInfo& header,
                 int acceptGzip);
}  // namespace tav
