#pragma once
// Answers a dat request from the thread's read.cgi page: the page is
// fetched, converted to dat lines and answered as the board would answer
// the dat (200, 206 or 304).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tav {
struct CGateway;
struct CHttpHeaderInfo;

// The thread a dat request names.
struct ThreadAddress {
  std::string server;  // the Host value up to its first dot
  std::string board;   // the path's first segment
  std::string key;     // after "/dat/", or the last segment of a "/kako/" path, cut at its first "."
};

// Reads server label, board and key from a parsed request; false when the
// path has neither "/kako/" nor "/dat/".
bool ReadThreadAddress(const CHttpHeaderInfo& header, ThreadAddress& address);

// Segment kinds of a fetch that leaves out the posts that break a page.
inline constexpr int kWholeThread = -1;
inline constexpr int kFirstSegment = 1;
inline constexpr int kMiddleSegment = 2;
inline constexpr int kLastSegment = 3;

// Answers a dat request from the thread's read.cgi page. `gzip` 1 offers
// compression; `segmentKind` kWholeThread for an ordinary request, or a
// segment of a fetch around the broken posts in `posts` at `index`.
// Returns 0 when an answer was sent, otherwise a status for the log.
int FetchThreadHtml(CGateway& ctx, std::string_view request, std::int64_t& bytesSent, CHttpHeaderInfo& header,
                    int gzip, int segmentKind, const std::vector<std::int32_t>* posts, int index);
}  // namespace tav
