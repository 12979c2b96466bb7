#pragma once
#include <cstdint>
#include <string_view>

namespace tav {
struct CGateway;
struct CHttpHeaderInfo;

// Answers a subject.txt request from the board's subback page.
int FetchSubjectFromSubback(CGateway& ctx, std::string_view request, std::int64_t& bytesSent);
// Rewrites a headline dat request to the thread's real server, board and key.
int ResolveHeadlineDat(CGateway& ctx, CHttpHeaderInfo& header);
}  // namespace tav
