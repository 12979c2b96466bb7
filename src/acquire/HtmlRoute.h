#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

namespace tav {
struct CGateway;
struct CHttpHeaderInfo;

// Answers a dat request from the thread's read.cgi page. `gzip` 1 offers
// compression; `segmentKind` -1 for an ordinary request, 1..3 for the pieces
// of a segment fetch over `posts` at `index`.
int FetchThreadHtml(CGateway& ctx, std::string_view request, std::int64_t& bytesSent, CHttpHeaderInfo& header,
                    int gzip, int segmentKind, const std::vector<std::int32_t>* posts, int index);
}  // namespace tav
