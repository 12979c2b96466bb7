#pragma once
// The parsed header of one request, also used by routes for their own
// upstream requests.

#include <cstdint>
#include <string>

#include "platform/CDoubleString.h"

namespace tav {

struct CHttpHeaderInfo {
  CDoubleString method;           // "GET", "HEAD", "POST" or "CONNECT"
  CDoubleString target;           // as sent, or the path of an absolute URL
  CDoubleString host;
  CDoubleString userAgent;
  CDoubleString ifModifiedSince;
  CDoubleString cookie;
  std::int32_t rangeStart = -1;   // -1: no "Range: bytes=N-"
  std::int32_t contentLength = 0;
  int closeFlag = 0;              // 1: close the reader connection afterwards
  int gzipFlag = 0;               // 1: the reader accepts gzip
  std::string body;               // bytes after the blank line, NULs kept
  bool httpsTarget = false;       // the reader sent an absolute "https://" target

  void Reset() { *this = CHttpHeaderInfo{}; }
};

}  // namespace tav
