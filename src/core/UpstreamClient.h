#pragma once
// Every request the proxy itself sends to a server goes through FetchUrl.

#include <cstdint>
#include <optional>
#include <string>

namespace tav {

struct CGateway;

struct FetchRequest {
  std::u16string method = u"GET";
  std::u16string url;                    // absolute http:// or https:// URL
  std::optional<std::u16string> agent;   // no value: no User-Agent of the client's own
  std::u16string extraHeaders;           // lines ending in "\r\n", sent as they are
  std::optional<std::string> body;       // sent by its length, NUL bytes included
  std::u16string acceptType;             // e.g. u"Accept: */*"
  int readerSocket = -1;                 // stream headers and body to the reader
  bool logFlag = false;                  // show progress in the request's log row
};

struct FetchResponse {
  std::u16string headers;  // status line and header lines, CRLF-joined, ending "\r\n\r\n"
  std::string body;        // as received (not decoded)

  // Size as the access log counts it: two bytes per header unit plus the body.
  std::int64_t Size() const { return static_cast<std::int64_t>(headers.size()) * 2 + static_cast<std::int64_t>(body.size()); }
  std::string NarrowHeaders() const;
};

// Sends one request. `response` (optional) collects the answer; `size`
// receives the count described above, also when only streaming. Returns
// true when the request was sent and no read failed.
bool FetchUrl(CGateway& ctx, const FetchRequest& request, FetchResponse* response, std::int64_t* size);

// Inflates gzip data (window bits 31) into `out`, whose capacity is given in
// `capacity` and replaced by the decoded length on success. 0 on success, -3
// for damaged or truncated data, another zlib code otherwise.
int InflateBody(const CGateway* ctx, char* out, std::int64_t& capacity, const char* gzip, std::int64_t gzipLength);

}  // namespace tav
