#include "support/FakeHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include "support/TestCertificateAuthority.h"

namespace tav::test {
namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool HasHeader(const HeaderFields& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoringCase(key, name)) return true;
  }
  return false;
}

std::string ChunkedBody(std::string_view body, std::size_t chunkSize) {
  std::string out;
  char size[32];
  for (std::size_t at = 0; at < body.size(); at += chunkSize) {
    const std::string_view piece = body.substr(at, chunkSize);
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    out.append(size).append(piece).append("\r\n");
  }
  out.append("0\r\n\r\n");
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// ReceivedRequest

std::optional<std::string> ReceivedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

std::size_t ReceivedRequest::HeaderCount(std::string_view name) const {
  std::size_t count = 0;
  for (const auto& [key, value] : headers) count += EqualsIgnoringCase(key, name) ? 1 : 0;
  return count;
}

std::vector<std::string> ReceivedRequest::HeaderNames() const {
  std::vector<std::string> names;
  for (const auto& [key, value] : headers) names.push_back(key);
  return names;
}

// ---------------------------------------------------------------------------
// ScriptedResponse

ScriptedResponse ScriptedResponse::Ok(std::string body, std::string contentType) {
  ScriptedResponse response;
  response.headers = {{"Content-Type", std::move(contentType)}};
  response.body = std::move(body);
  return response;
}

ScriptedResponse ScriptedResponse::Status(int status, std::string reason, HeaderFields headers, std::string body) {
  ScriptedResponse response;
  response.status = status;
  response.reason = std::move(reason);
  response.headers = std::move(headers);
  response.body = std::move(body);
  return response;
}

ScriptedResponse ScriptedResponse::Raw(std::string bytes, bool closeAfter) {
  ScriptedResponse response;
  response.raw = std::move(bytes);
  response.closeConnection = closeAfter;
  return response;
}

ScriptedResponse ScriptedResponse::Silence() {
  ScriptedResponse response;
  response.delayBeforeAnswer = std::chrono::milliseconds(-1);
  return response;
}

std::string ScriptedResponse::WireBody() const { return gzip ? GzipCompress(body) : body; }

std::string ScriptedResponse::Wire() const {
  if (!raw.empty()) return raw;
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  for (const auto& [name, value] : headers) out.append(name).append(": ").append(value).append("\r\n");
  const std::string compressed = gzip ? GzipCompress(body) : std::string();
  const std::string& wireBody = gzip ? compressed : body;
  if (gzip) out.append("Content-Encoding: gzip\r\n");
  if (closeConnection) out.append("Connection: close\r\n");
  if (framing == Framing::kContentLength && !HasHeader(headers, "Content-Length")) {
    out.append("Content-Length: ").append(std::to_string(wireBody.size())).append("\r\n");
  }
  if (framing == Framing::kChunked) out.append("Transfer-Encoding: chunked\r\n");
  out.append("\r\n");
  if (framing == Framing::kChunked) {
    out.append(ChunkedBody(wireBody, chunkSize));
  } else {
    out.append(wireBody);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Connection: a plain or TLS stream socket.

class FakeHttpServer::Connection {
 public:
  Connection(int fd, SSL_CTX* tls) : fd_(fd) {
    if (tls != nullptr) {
      ssl_ = SSL_new(tls);
      SSL_set_fd(ssl_, fd_);
    }
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    if (ssl_ != nullptr) SSL_free(ssl_);
    ::close(fd_);
  }

  bool Handshake() { return ssl_ == nullptr || SSL_accept(ssl_) == 1; }
  // Continues the connection as a TLS server (after a CONNECT).
  bool StartTls(SSL_CTX* tls) {
    if (ssl_ != nullptr || tls == nullptr) return false;
    ssl_ = SSL_new(tls);
    SSL_set_fd(ssl_, fd_);
    return Handshake();
  }
  bool Tls() const { return ssl_ != nullptr; }

  // Bytes read (0 at the end of the stream or on an error).
  std::size_t Read(char* buffer, std::size_t size) {
    if (ssl_ != nullptr) {
      const int got = SSL_read(ssl_, buffer, static_cast<int>(size));
      return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    for (;;) {
      const ssize_t got = ::recv(fd_, buffer, size, 0);
      if (got < 0 && errno == EINTR) continue;
      return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
  }

  bool Write(std::string_view data) {
    while (!data.empty()) {
      ssize_t sent = 0;
      if (ssl_ != nullptr) {
        sent = SSL_write(ssl_, data.data(), static_cast<int>(data.size()));
      } else {
        sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
      }
      if (sent <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }

  // Wakes a thread blocked on this connection (safe from any thread).
  void Interrupt() { ::shutdown(fd_, SHUT_RDWR); }

  void Close() {
    if (ssl_ != nullptr) SSL_shutdown(ssl_);
    ::shutdown(fd_, SHUT_RDWR);
  }

 private:
  int fd_;
  SSL* ssl_ = nullptr;
};

namespace {

// Reads until `buffer` holds at least `size` bytes. False at the end of the stream.
template <typename Conn>
bool Fill(Conn& connection, std::string& buffer, std::size_t size) {
  char block[16384];
  while (buffer.size() < size) {
    const std::size_t got = connection.Read(block, sizeof block);
    if (got == 0) return false;
    buffer.append(block, got);
  }
  return true;
}

template <typename Conn>
bool FillUntil(Conn& connection, std::string& buffer, std::string_view marker, std::size_t from = 0) {
  char block[16384];
  while (buffer.find(marker, from) == std::string::npos) {
    const std::size_t got = connection.Read(block, sizeof block);
    if (got == 0) return false;
    buffer.append(block, got);
  }
  return true;
}

void ParseHead(std::string_view head, ReceivedRequest& request) {
  const auto lineEnd = head.find("\r\n");
  request.requestLine = std::string(head.substr(0, lineEnd));
  const auto firstSpace = request.requestLine.find(' ');
  const auto secondSpace = request.requestLine.find(' ', firstSpace == std::string::npos ? 0 : firstSpace + 1);
  request.method = request.requestLine.substr(0, firstSpace);
  if (firstSpace != std::string::npos) {
    request.target = request.requestLine.substr(firstSpace + 1, secondSpace == std::string::npos
                                                                     ? std::string::npos
                                                                     : secondSpace - firstSpace - 1);
  }
  request.head = std::string(head.substr(lineEnd + 2));
  std::size_t at = lineEnd + 2;
  while (at < head.size()) {
    const auto end = head.find("\r\n", at);
    const std::string_view line = head.substr(at, end - at);
    at = end + 2;
    if (line.empty()) break;
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
      request.headers.emplace_back(std::string(line), std::string());
    } else {
      request.headers.emplace_back(std::string(line.substr(0, colon)), std::string(Trim(line.substr(colon + 1))));
    }
  }
}

// Reads a chunked request body from `pending` (starting at `at`); the raw
// bytes consumed are appended to `raw`.
template <typename Conn>
bool ReadChunkedBody(Conn& connection, std::string& pending, ReceivedRequest& request) {
  std::size_t at = 0;
  for (;;) {
    if (!FillUntil(connection, pending, "\r\n", at)) return false;
    const auto lineEnd = pending.find("\r\n", at);
    const std::size_t size = std::strtoul(pending.c_str() + at, nullptr, 16);
    at = lineEnd + 2;
    if (size == 0) {
      if (!FillUntil(connection, pending, "\r\n", at)) return false;  // trailers end with a blank line
      while (pending.compare(at, 2, "\r\n") != 0) {
        at = pending.find("\r\n", at) + 2;
        if (!FillUntil(connection, pending, "\r\n", at)) return false;
      }
      at += 2;
      break;
    }
    if (!Fill(connection, pending, at + size + 2)) return false;
    request.body.append(pending, at, size);
    at += size + 2;
  }
  request.raw.append(pending, 0, at);
  pending.erase(0, at);
  return true;
}

// Reads one request. False when the connection ended first.
template <typename Conn>
bool ReadRequest(Conn& connection, std::string& pending, ReceivedRequest& request) {
  if (!FillUntil(connection, pending, kBlankLine)) return false;
  const std::size_t headLength = pending.find(kBlankLine) + kBlankLine.size();
  ParseHead(std::string_view(pending).substr(0, headLength), request);
  request.raw = pending.substr(0, headLength);
  pending.erase(0, headLength);
  const auto encoding = request.Header("Transfer-Encoding");
  if (encoding && EqualsIgnoringCase(*encoding, "chunked")) return ReadChunkedBody(connection, pending, request);
  const auto length = request.Header("Content-Length");
  const std::size_t bodyLength = length ? std::strtoul(length->c_str(), nullptr, 10) : 0;
  if (!Fill(connection, pending, bodyLength)) return false;
  request.body = pending.substr(0, bodyLength);
  request.raw += request.body;
  pending.erase(0, bodyLength);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// FakeHttpServer

FakeHttpServer::FakeHttpServer() : FakeHttpServer(Options{}) {}

FakeHttpServer::FakeHttpServer(Options options) : options_(options) {
  std::signal(SIGPIPE, SIG_IGN);  // a client that went away must not end the test program
  if (options_.tls || options_.acceptConnect) {
    const auto& authority = TestCertificateAuthority::Instance();
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr || SSL_CTX_use_certificate_file(context, authority.CertFile().c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, authority.KeyFile().c_str(), SSL_FILETYPE_PEM) != 1) {
      SSL_CTX_free(context);
      throw std::runtime_error("FakeHttpServer: TLS set-up failed");
    }
    tlsContext_ = context;
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 64) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error(std::string("FakeHttpServer: cannot listen: ") + std::strerror(errno));
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

FakeHttpServer::~FakeHttpServer() {
  Stop();
  if (listener_ >= 0) ::close(listener_);
  SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
}

std::string FakeHttpServer::Authority() const { return "127.0.0.1:" + std::to_string(port_); }

std::string FakeHttpServer::Url(std::string_view path) const {
  return std::string(options_.tls ? "https://" : "http://") + Authority() + std::string(path);
}

void FakeHttpServer::Enqueue(ScriptedResponse response) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(response));
}

void FakeHttpServer::SetHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<ReceivedRequest> FakeHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t FakeHttpServer::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

bool FakeHttpServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

std::size_t FakeHttpServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connectionCount_;
}

std::size_t FakeHttpServer::ClosedConnectionCount() const {
  std::lock_guard lock(mutex_);
  return closedCount_;
}

bool FakeHttpServer::WaitForClosedConnections(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return closedCount_ >= count; });
}

std::string FakeHttpServer::StrayBytes() const {
  std::lock_guard lock(mutex_);
  return strayBytes_;
}

void FakeHttpServer::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && !acceptThread_.joinable()) return;
    stopping_ = true;
  }
  changed_.notify_all();
  ::shutdown(listener_, SHUT_RDWR);
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<Worker> workers;
  {
    std::lock_guard lock(mutex_);
    for (auto& connection : connections_) connection->Interrupt();
    workers.swap(workers_);
  }
  for (auto& worker : workers) worker.thread.join();
  std::lock_guard lock(mutex_);
  connections_.clear();
}

void FakeHttpServer::AcceptLoop() {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard lock(mutex_);
    if (stopping_) {
      if (fd >= 0) ::close(fd);
      return;
    }
    if (fd < 0) continue;
    // Answers leave at once: with Nagle's algorithm the tail of an answer
    // waited for the client's delayed acknowledgement, which made timings
    // of the same fetch vary tenfold.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ReapFinishedWorkers();
    auto connection = std::make_shared<Connection>(fd, options_.tls ? static_cast<SSL_CTX*>(tlsContext_) : nullptr);
    connections_.push_back(connection);
    const std::size_t number = ++connectionCount_;
    auto done = std::make_shared<bool>(false);
    workers_.push_back({std::thread([this, connection, number, done] {
                          Serve(connection, number);
                          std::lock_guard finished(mutex_);
                          *done = true;
                        }),
                        done});
  }
}

// Joins the threads of connections that have ended (mutex_ held).
void FakeHttpServer::ReapFinishedWorkers() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (*it->done) {
      it->thread.join();  // the thread has only the unlock left to do
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void FakeHttpServer::Serve(std::shared_ptr<Connection> connection, std::size_t number) {
  std::string pending;
  if (connection->Handshake()) {
    for (;;) {
      ReceivedRequest request;
      if (!ReadRequest(*connection, pending, request)) break;
      request.tls = connection->Tls();
      request.connection = number;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      changed_.notify_all();
      if (options_.acceptConnect && request.method == "CONNECT") {
        if (!pending.empty() || !connection->Write("HTTP/1.1 200 Connection Established\r\n\r\n") ||
            !connection->StartTls(static_cast<SSL_CTX*>(tlsContext_))) {
          break;
        }
        continue;
      }
      ScriptedResponse answer = NextAnswer(request);
      const bool wantsClose = request.Header("Connection").value_or("") == "close";
      if (request.method == "HEAD" && answer.raw.empty()) {
        answer.raw = answer.Wire();
        answer.raw.resize(answer.raw.find(kBlankLine) + kBlankLine.size());
      }
      if (!SendAnswer(*connection, answer) || wantsClose) break;
    }
  }
  connection->Close();
  {
    std::lock_guard lock(mutex_);
    std::erase(connections_, connection);
    strayBytes_ += pending;
    ++closedCount_;
  }
  changed_.notify_all();
}

ScriptedResponse FakeHttpServer::NextAnswer(const ReceivedRequest& request) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
      ScriptedResponse next = std::move(queue_.front());
      queue_.pop_front();
      return next;
    }
    handler = handler_;
  }
  return handler ? handler(request) : ScriptedResponse::Ok("ok");
}

// Sends one answer; false when the connection is to be closed afterwards.
bool FakeHttpServer::SendAnswer(Connection& connection, const ScriptedResponse& answer) {
  Pause(answer.delayBeforeAnswer);
  if (!answer.interim.empty() && !connection.Write(answer.interim)) return false;
  const std::string wire = answer.Wire();
  std::string_view rest = wire;
  if (answer.stallAfterBytes) {
    const std::size_t first = std::min(*answer.stallAfterBytes, wire.size());
    if (!connection.Write(rest.substr(0, first))) return false;
    rest.remove_prefix(first);
    Pause(answer.stallFor);
  }
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
  }
  if (!connection.Write(rest)) return false;
  return !answer.closeConnection && answer.framing != ScriptedResponse::Framing::kUntilClose;
}

void FakeHttpServer::Pause(std::chrono::milliseconds duration) {
  if (duration == std::chrono::milliseconds(0)) return;
  std::unique_lock lock(mutex_);
  if (duration < std::chrono::milliseconds(0)) {
    changed_.wait(lock, [&] { return stopping_; });
  } else {
    changed_.wait_for(lock, duration, [&] { return stopping_; });
  }
}

std::string GzipCompress(std::string_view data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("GzipCompress: deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("GzipCompress: deflate failed");
  return out;
}

}  // namespace tav::test
