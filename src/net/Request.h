#pragma once
// One reader request, parsed once on intake, in the bytes the reader sent
// (CP932 on the wire). Routes read it and never parse the request again.

#include <cstdint>
#include <string>
#include <string_view>

namespace tav {

enum class Method { Get, Head, Post, Connect };

std::string_view MethodName(Method method);

// What a board path names.
enum class ThreadKind {
  None,      // no thread and no thread list
  Dat,       // ".../dat/KEY.dat"
  Kako,      // an archived thread, ".../kako/.../KEY.dat" or ".html"
  Subject,   // the thread list, ".../subject.txt"
  Headline,  // a dat of the headline board, whose key names another board's thread
};

// The thread (or board) a request names: the Host up to its first dot, the
// path's first segment and the key.
struct ThreadRef {
  ThreadKind kind = ThreadKind::None;
  std::string server;
  std::string board;
  std::string key;  // empty for a thread list
};

// Reads the thread reference of a host and path: a thread list when the path
// holds "subject.txt"; an archived thread ("/kako/", key from the last
// segment); a dat ("/dat/", key from what follows). Keys are cut at their
// first dot. Kind None (and nothing else filled) for any other path.
ThreadRef ParseThreadRef(std::string_view host, std::string_view path);

struct Request {
  Method method = Method::Get;
  std::string requestLine;      // the first line, at most 4095 bytes
  std::string target;           // as sent, or the path of an absolute URL
  std::string host;             // the Host value, without ":80" / ":443"
  bool httpsTarget = false;     // the reader sent an absolute "https://" target
  std::string userAgent;
  std::string ifModifiedSince;
  std::string cookie;
  std::int32_t rangeStart = -1;  // -1: no "Range: bytes=N-"
  std::int32_t contentLength = 0;
  bool close = false;           // the reader asked to close the connection
  bool acceptsGzip = false;     // "Accept-Encoding: gzip"
  std::string body;             // the bytes after the blank line, NULs kept
  std::string text;             // the whole request as received, for the pass-through
  ThreadRef thread;

  bool IsConnect() const { return method == Method::Connect; }
};

}  // namespace tav
