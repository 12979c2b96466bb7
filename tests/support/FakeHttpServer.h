#pragma once
// A small HTTP/1.1 server on the loopback address for tests.
//
//   FakeHttpServer server;                                  // 127.0.0.1, port 0
//   server.Enqueue(ScriptedResponse::Ok("hello"));          // next answer
//   ... let the code under test fetch server.Url("/x") ...
//   auto requests = server.Requests();                      // what arrived
//   EXPECT_EQ(requests[0].Header("User-Agent"), "agent");
//
// It records every request exactly as received (request line, header lines
// in order, body) and answers with scripted responses: queued answers first
// (in order), then the handler, then a default "200 OK" with body "ok".
// Scripted answers can be chunked, gzip-compressed, framed by the end of the
// connection, preceded by interim bytes, stalled before or in the middle,
// close the connection, or be raw bytes sent as they are. Requests are
// recorded the same way when the server is used as an HTTP proxy (the target
// is then the absolute URL). With Options::tls the server speaks TLS with a
// certificate of TestCertificateAuthority (trust it via SSL_CERT_FILE).
// With Options::acceptConnect it also plays an https-capable proxy: a
// CONNECT request is recorded and answered "200 Connection Established",
// and the connection then continues as a TLS server on that same
// connection, so that https requests to any host name the certificate
// covers arrive here (recorded with tls = true).
//
// Connections are kept alive between requests unless an answer closes them,
// the request asked for "Connection: close", or the answer is framed by the
// end of the connection. Every connection is served on its own thread.
// Stop() (also done by the destructor) ends stalls, closes every connection
// and joins all threads.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tav::test {

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

// One request as the server received it.
struct ReceivedRequest {
  std::string raw;          // every byte of the request: head and body
  std::string requestLine;  // e.g. "GET /x HTTP/1.1"
  std::string method;
  std::string target;       // as sent: a path, or an absolute URL when used as a proxy
  std::string head;         // the header lines after the request line, with the blank line
  HeaderFields headers;     // name and value of every header line, in order
  std::string body;         // de-chunked when the request was chunked
  bool tls = false;
  std::size_t connection = 0;  // number of the connection it came on (1, 2, ...)

  // Value of the first header of that name (compared ignoring case).
  std::optional<std::string> Header(std::string_view name) const;
  std::size_t HeaderCount(std::string_view name) const;
  // Names of all header lines, in order.
  std::vector<std::string> HeaderNames() const;
};

// One scripted answer.
struct ScriptedResponse {
  enum class Framing { kContentLength, kChunked, kUntilClose };

  int status = 200;
  std::string reason = "OK";
  HeaderFields headers;          // sent in this order after the status line
  std::string body;              // the body before compression and framing
  Framing framing = Framing::kContentLength;
  std::size_t chunkSize = 1000;  // bytes per chunk with Framing::kChunked
  bool gzip = false;             // compress the body and add "Content-Encoding: gzip"
  bool closeConnection = false;  // add "Connection: close" and close after the answer
  std::string interim;           // bytes sent before the answer, e.g. a 100 Continue
  std::string raw;               // when not empty: sent instead of everything above

  // Silence before the first byte of the answer.
  std::chrono::milliseconds delayBeforeAnswer{0};
  // Send only this many bytes of the answer, then stay silent for
  // `stallFor` (negative: until the server stops), then send the rest.
  std::optional<std::size_t> stallAfterBytes;
  std::chrono::milliseconds stallFor{-1};

  static ScriptedResponse Ok(std::string body, std::string contentType = "text/plain");
  static ScriptedResponse Status(int status, std::string reason, HeaderFields headers = {}, std::string body = {});
  static ScriptedResponse Raw(std::string bytes, bool closeAfter = true);
  // An answer that never comes: silence until the server stops.
  static ScriptedResponse Silence();

  // The bytes this answer puts on the wire (after `interim`).
  std::string Wire() const;
  // The body bytes as they appear on the wire (compressed when gzip).
  std::string WireBody() const;
};

class FakeHttpServer {
 public:
  struct Options {
    bool tls = false;
    bool acceptConnect = false;
  };
  using Handler = std::function<ScriptedResponse(const ReceivedRequest&)>;

  FakeHttpServer();
  explicit FakeHttpServer(Options options);
  ~FakeHttpServer();
  FakeHttpServer(const FakeHttpServer&) = delete;
  FakeHttpServer& operator=(const FakeHttpServer&) = delete;

  std::uint16_t Port() const { return port_; }
  // "127.0.0.1:<port>".
  std::string Authority() const;
  // "http://127.0.0.1:<port><path>" (https with TLS).
  std::string Url(std::string_view path = "/") const;

  // Answers, in order, for the next requests.
  void Enqueue(ScriptedResponse response);
  // Answers the requests that find the queue empty.
  void SetHandler(Handler handler);

  std::vector<ReceivedRequest> Requests() const;
  std::size_t RequestCount() const;
  // True when at least `count` requests have arrived within `timeout`.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

  // Connections accepted so far, and those that have ended (either side).
  std::size_t ConnectionCount() const;
  std::size_t ClosedConnectionCount() const;
  bool WaitForClosedConnections(std::size_t count, std::chrono::milliseconds timeout) const;
  // Raw bytes received on connections that did not carry a parsable HTTP
  // request (for example a tunnel's payload that is not HTTP).
  std::string StrayBytes() const;

  void Stop();

 private:
  class Connection;

  void AcceptLoop();
  void Serve(std::shared_ptr<Connection> connection, std::size_t number);
  void ReapFinishedWorkers();
  ScriptedResponse NextAnswer(const ReceivedRequest& request);
  bool SendAnswer(Connection& connection, const ScriptedResponse& answer);
  // Waits for `duration` (negative: for ever) unless the server stops.
  void Pause(std::chrono::milliseconds duration);

  Options options_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  void* tlsContext_ = nullptr;  // SSL_CTX*

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::deque<ScriptedResponse> queue_;
  Handler handler_;
  std::vector<ReceivedRequest> requests_;
  std::string strayBytes_;
  std::size_t connectionCount_ = 0;
  std::size_t closedCount_ = 0;
  struct Worker {
    std::thread thread;
    std::shared_ptr<bool> done;  // guarded by mutex_
  };
  std::vector<std::shared_ptr<Connection>> connections_;  // open connections
  std::vector<Worker> workers_;
  std::thread acceptThread_;
};

// Compresses `data` into gzip format (what a server sends with
// "Content-Encoding: gzip").
std::string GzipCompress(std::string_view data);

}  // namespace tav::test
