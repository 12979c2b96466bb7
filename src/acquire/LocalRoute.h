#pragma once
#include <cstdint>
#include <string_view>

namespace tav {
struct CGateway;
struct CHttpHeaderInfo;

// Answers a dat request from a second reader instance's saved file.
int GetDatByReader(CGateway& ctx, std::string_view request, std::int64_t& bytesSent, CHttpHeaderInfo& header);
}  // namespace tav
