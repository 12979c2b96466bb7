#include "net/UpstreamClient.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#include "net/CGateway.h"
#include "net/IShell.h"
#include "net/RequestParser.h"
#include "net/SocketSend.h"
#include "platform/HostResolver.h"
#include "platform/TextCodec.h"

namespace tav {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes read from the server socket at a time, and so the largest block
// streamed to the reader with one send. RecvBufferSize raises it; it is not
// taken below this size, because small blocks cost a poll, a receive and a
// send each and made a pass-through several times slower than a direct
// fetch. (The system's HTTP client buffered its socket reads the same way,
// independently of the block size its callers read with.)
constexpr int kMinReadBlock = 64 * 1024;
// curl hands a read over in pieces of at most 16 KB (CURL_MAX_WRITE_SIZE).
// The pieces of one read go to the reader together once the read is over;
// should this much gather before that, it goes at once.
constexpr std::size_t kLargestUnsent = 4 * kMinReadBlock;
// The most a Content-Length may reserve in advance; longer bodies grow.
constexpr curl_off_t kMaxReserve = 64 * 1024 * 1024;

void EnsureCurlReady() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// One curl handle per thread, reset before every request. Resetting keeps
// the handle's connection cache and TLS sessions, so that requests of one
// worker to the same server reuse the open connection (as the system's own
// HTTP client does); every option is set again for each request. A request
// made while the thread's handle is busy (none is, today) gets a fresh one.
class ThreadHandle {
 public:
  ThreadHandle() {
    thread_local EasyHandle cached;
    thread_local bool busy = false;
    if (!busy) {
      if (!cached) {
        EnsureCurlReady();
        cached.reset(curl_easy_init());
      } else {
        curl_easy_reset(cached.get());
      }
      if (cached) {
        handle_ = cached.get();
        busyFlag_ = &busy;
        busy = true;
        return;
      }
    }
    EnsureCurlReady();
    own_.reset(curl_easy_init());
    handle_ = own_.get();
  }
  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;
  ~ThreadHandle() {
    if (busyFlag_ != nullptr) *busyFlag_ = false;
  }

  CURL* Get() const { return handle_; }

 private:
  CURL* handle_ = nullptr;
  bool* busyFlag_ = nullptr;
  EasyHandle own_;
};


bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

bool IsBlankValue(std::string_view line) {
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  for (char c : line.substr(colon + 1)) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

struct AnswerFraming {
  bool chunked = false;
  bool hasLength = false;
};

// Looks at the framing lines of an answer's header block (CRLF lines) and
// marks every Transfer-Encoding line whose last coding is "chunked" by
// turning its first letter into "x": the body is handed on de-chunked.
AnswerFraming MarkChunked(std::string& block) {
  AnswerFraming framing;
  for (std::size_t start = 0; start < block.size();) {
    auto end = block.find("\r\n", start);
    if (end == std::string::npos) end = block.size();
    const std::string_view line(block.data() + start, end - start);
    const std::string_view name = FieldName(line);
    if (EqualsIgnoringCase(name, "Content-Length")) framing.hasLength = true;
    if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
      const std::string_view codings = line.substr(name.size() + 1);
      const auto comma = codings.rfind(',');
      const std::string_view last = TrimBlanks(comma == std::string_view::npos ? codings : codings.substr(comma + 1));
      if (EqualsIgnoringCase(last, "chunked")) {
        block[start] = 'x';
        framing.chunked = true;
      }
    }
    start = end + 2;
  }
  return framing;
}

bool IsTlsFailure(CURLcode code) {
  switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
      return true;
    default:
      return false;
  }
}

// Why a transfer that did not start its answer failed.
FetchFailure FailureBeforeAnswer(CURLcode code, bool timedOut, bool viaProxy) {
  if (timedOut || code == CURLE_OPERATION_TIMEDOUT) return FetchFailure::kTimeout;
  if (IsTlsFailure(code)) return FetchFailure::kTls;
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return viaProxy ? FetchFailure::kProxyConnect : FetchFailure::kResolve;
    case CURLE_COULDNT_RESOLVE_PROXY:
      return FetchFailure::kProxyConnect;
    case CURLE_COULDNT_CONNECT:
      return viaProxy ? FetchFailure::kProxyConnect : FetchFailure::kConnect;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_PARTIAL_FILE:
      return FetchFailure::kNoAnswer;
    default:
      return FetchFailure::kOther;
  }
}

// Everything the client needs from the URL before the transfer starts.
struct UrlCheck {
  bool ok = false;
  bool https = false;
  std::string host;
  std::string port;
  std::string hostAndPort;  // for the request target of a CONNECT
  std::string query;
};

UrlCheck CheckUrl(const std::string& url) {
  UrlCheck check;
  CURLU* parsed = curl_url();
  if (parsed == nullptr) return check;
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    char* scheme = nullptr;
    char* host = nullptr;
    char* port = nullptr;
    char* query = nullptr;
    curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(parsed, CURLUPART_HOST, &host, 0);
    curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT);
    curl_url_get(parsed, CURLUPART_QUERY, &query, 0);
    const std::string_view schemeText = scheme != nullptr ? scheme : "";
    check.https = schemeText == "https";
    check.ok = (schemeText == "http" || check.https) && host != nullptr && *host != '\0';
    if (check.ok) {
      check.host = host;
      check.port = port != nullptr ? port : (check.https ? "443" : "80");
      check.hostAndPort = check.host + ":" + check.port;
      if (query != nullptr) check.query = std::string("?") + query;
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_free(query);
  }
  curl_url_cleanup(parsed);
  return check;
}

struct AddrInfoDeleter {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

// Resolves a directly reached server with the proxy's own resolver and
// pins the addresses for curl ("host:port:address,..."), so that every name
// the proxy connects to goes through one resolver. A literal IPv6 host
// needs no name lookup. False when the name does not resolve.
bool PinAddresses(CURL* easy, const UrlCheck& url, HeaderList& pinned) {
  if (url.host.starts_with('[')) return true;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (ResolveHost(url.host.c_str(), url.port.c_str(), &hints, &found) != 0 || found == nullptr) return false;
  std::unique_ptr<addrinfo, AddrInfoDeleter> addresses(found);
  std::string entry = url.host + ":" + url.port + ":";
  bool first = true;
  for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
    char text[INET6_ADDRSTRLEN] = {};
    const bool v6 = at->ai_family == AF_INET6;
    const void* raw = v6 ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(at->ai_addr)->sin6_addr)
                         : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(at->ai_addr)->sin_addr);
    if ((at->ai_family != AF_INET && !v6) || ::inet_ntop(at->ai_family, raw, text, sizeof text) == nullptr) continue;
    entry += (first ? "" : ",") + (v6 ? "[" + std::string(text) + "]" : std::string(text));
    first = false;
  }
  if (first) return false;
  curl_slist* list = curl_slist_append(nullptr, entry.c_str());
  if (list == nullptr) return false;
  pinned.reset(list);
  curl_easy_setopt(easy, CURLOPT_RESOLVE, list);
  return true;
}

// Whether the settings make curl connect to servers itself (no proxy of the
// settings, none of the system's).
bool ConnectsDirectly(const SettingValues* cfg) {
  const int mode = cfg != nullptr ? cfg->ProxyMode : 0;
  return mode != 1 && !(mode == 2 && !cfg->Proxy.Empty());
}

// The CA bundle named by the environment, when it names a file.
const char* CaBundleFromEnvironment() {
  for (const char* name : {"SSL_CERT_FILE", "CURL_CA_BUNDLE"}) {
    const char* path = std::getenv(name);
    struct stat info {};
    if (path != nullptr && *path != '\0' && ::stat(path, &info) == 0 && S_ISREG(info.st_mode)) return path;
  }
  return nullptr;
}

// The request header lines curl is given. The caller's lines are sent as they
// are, with three exceptions: a Content-Length line carries the length of the
// body that actually goes out; a line with an empty value is written "Name;"
// (curl's way of sending an empty header); blank lines are skipped. Lines
// that curl would add on its own are suppressed unless the caller has them,
// and the accept type is added only when the caller has no Accept line.
class RequestHeaders {
 public:
  RequestHeaders(std::string_view callerBlock, const std::string& acceptLine, std::size_t bodyLength) {
    bool hasAccept = false, hasContentType = false, hasExpect = false, hasLength = false;
    std::size_t start = 0;
    while (start < callerBlock.size()) {
      auto end = callerBlock.find('\n', start);
      if (end == std::string_view::npos) end = callerBlock.size();
      const std::string_view line = TrimRight(callerBlock.substr(start, end - start));
      start = end + 1;
      if (line.empty()) continue;
      const std::string_view name = FieldName(line);
      if (EqualsIgnoringCase(name, "Content-Length")) {
        if (!hasLength) Append("Content-Length: " + std::to_string(bodyLength));
        hasLength = true;
        continue;
      }
      hasAccept = hasAccept || EqualsIgnoringCase(name, "Accept");
      hasContentType = hasContentType || EqualsIgnoringCase(name, "Content-Type");
      hasExpect = hasExpect || EqualsIgnoringCase(name, "Expect");
      if (!name.empty() && IsBlankValue(line)) {
        Append(std::string(name) + ";");
      } else {
        Append(std::string(line));
      }
    }
    if (!hasAccept) Append(acceptLine.empty() ? std::string("Accept:") : acceptLine);
    if (!hasContentType) Append("Content-Type:");
    if (!hasExpect) Append("Expect:");
  }

  curl_slist* List() const { return list_.get(); }
  bool Ok() const { return ok_; }

 private:
  void Append(const std::string& line) {
    curl_slist* grown = curl_slist_append(list_.get(), line.c_str());
    if (grown == nullptr) {
      ok_ = false;
      return;
    }
    list_.release();
    list_.reset(grown);
  }

  HeaderList list_;
  bool ok_ = true;
};

// "Accept: */*" is taken as the whole line; a bare type list gets the name.
std::string AcceptLine(const std::string& narrow) {
  if (narrow.empty() || StartsWithIgnoringCase(narrow, "Accept:")) return narrow;
  return "Accept: " + narrow;
}

// State of one transfer, shared by the curl callbacks.
class Transfer {
 public:
  Transfer(CGateway& ctx, const FetchRequest& request, FetchResponse* response)
      : ctx_(ctx),
        request_(request),
        response_(response),
        waitSeconds_(WritableWaitSeconds(ctx.cfg ? ctx.cfg->ReceiveTimeOut : 30000)),
        idleLimit_(ctx.cfg ? ctx.cfg->ReceiveTimeOut : 30000),
        lastActivity_(Clock::now()) {}

  // curl callbacks. Nothing may be thrown through curl: a response that
  // cannot be held (no memory) fails the transfer instead.
  static size_t OnHeader(char* data, size_t, size_t length, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    return transfer.Guarded([&] { return transfer.HeaderLine(std::string_view(data, length)); }) ? length : 0;
  }
  static size_t OnBody(char* data, size_t, size_t length, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    return transfer.Guarded([&] { return transfer.BodyBytes(data, length); }) ? length : 0;
  }
  // curl reports progress after every read from the server: what the read
  // brought goes to the reader first.
  static int OnProgress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto& transfer = *static_cast<Transfer*>(self);
    return transfer.SendUnsent() && transfer.KeepGoing(downloaded + uploaded) ? 0 : 1;
  }

  // Sends what is waiting for the reader. False, with the reader taken as
  // stopped, when it does not take it.
  bool SendUnsent() {
    if (unsent_.empty()) return true;
    const bool sent = SendBlock(request_.readerSocket, unsent_.data(), unsent_.size(), waitSeconds_, nullptr,
                                ctx_.cancel) == SendOutcome::kSent;
    unsent_.clear();
    if (!sent) {
      size_ -= unsentBody_;
      readerStopped_ = true;
    }
    unsentBody_ = 0;
    return sent;
  }

  std::int64_t Size() const { return size_; }
  bool HeadersDone() const { return headersDone_; }
  bool ReaderStopped() const { return readerStopped_; }
  bool BufferFailed() const { return bufferFailed_; }
  bool TimedOut() const { return timedOut_; }
  void SetHandle(CURL* handle) { handle_ = handle; }

 private:
  // Lines of every response block arrive here, interim ones included; only
  // the final block is kept. Lines after it (chunked trailers) are ignored.
  bool HeaderLine(std::string_view raw) {
    lastActivity_ = Clock::now();
    if (headersDone_) return true;
    const std::string_view line = TrimRight(raw);
    if (!inBlock_) {
      if (line.substr(0, 5) != "HTTP/") return true;
      inBlock_ = true;
      block_.clear();
      interim_ = IsInterimStatus(line);
    }
    block_.append(line).append("\r\n");
    if (!line.empty()) return true;
    inBlock_ = false;
    return interim_ ? true : FinishHeaders();
  }

  // Whether an answer with this header block may carry a body.
  bool MayHaveBody(std::string_view block) const {
    if (request_.method == "HEAD") return false;
    const auto space = block.find(' ');
    const std::string_view code = space == std::string_view::npos ? std::string_view{} : block.substr(space + 1, 3);
    return code != "204" && code != "304";
  }

  static bool IsInterimStatus(std::string_view statusLine) {
    const auto space = statusLine.find(' ');
    return space != std::string_view::npos && space + 1 < statusLine.size() && statusLine[space + 1] == '1';
  }

  bool FinishHeaders() {
    headersDone_ = true;
    const AnswerFraming framing = MarkChunked(block_);
    if (block_.find("Connection: close") != std::string::npos) ctx_.closeAfter = true;
    // The reader finds the end of such an answer only by the end of the
    // connection.
    if (request_.readerSocket >= 0 && (framing.chunked || (!framing.hasLength && MayHaveBody(block_)))) {
      ctx_.closeAfter = true;
    }
    // The log counts the header as the UTF-16 text it once was.
    const auto units = static_cast<std::int64_t>(Cp932ToUtf16(block_).size());
    size_ += units * 2;
    if (response_ != nullptr) {
      response_->headers = block_;
      response_->headerUnits = units;
    }
    return Stream(block_.data(), block_.size());
  }

  bool BodyBytes(const char* data, size_t length) {
    lastActivity_ = Clock::now();
    if (response_ != nullptr) Collect(data, length);
    size_ += static_cast<std::int64_t>(length);
    if (request_.readerSocket >= 0) unsentBody_ += static_cast<std::int64_t>(length);
    if (!Stream(data, length)) return false;
    lastActivity_ = Clock::now();
    return true;
  }

  // A body of known length gets its whole area at once: growing block by
  // block copied a large body several times and cost more than the transfer.
  void Collect(const char* data, size_t length) {
    std::string& body = response_->body;
    if (body.empty()) {
      curl_off_t announced = -1;
      curl_easy_getinfo(handle_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
      if (announced > 0) body.reserve(static_cast<std::size_t>(std::min<curl_off_t>(announced, kMaxReserve)));
    }
    body.append(data, length);
  }

  template <typename Step>
  bool Guarded(Step step) {
    try {
      return step();
    } catch (...) {  // std::bad_alloc, std::length_error
      bufferFailed_ = true;
      return false;
    }
  }

  // Queues bytes for the reader (see SendUnsent); a reader that stops
  // taking bytes ends the transfer.
  bool Stream(const char* data, size_t length) {
    if (request_.readerSocket < 0) return true;
    unsent_.append(data, length);
    return unsent_.size() < kLargestUnsent || SendUnsent();
  }

  bool KeepGoing(curl_off_t transferred) {
    if (ctx_.Cancelled()) return false;
    const auto now = Clock::now();
    if (transferred != lastTransferred_) {
      lastTransferred_ = transferred;
      lastActivity_ = now;
    }
    if (idleLimit_ <= 0) return true;
    timedOut_ = now - lastActivity_ >= std::chrono::milliseconds(idleLimit_);
    return !timedOut_;
  }

  CGateway& ctx_;
  CURL* handle_ = nullptr;
  const FetchRequest& request_;
  FetchResponse* response_;
  const int waitSeconds_;
  const int idleLimit_;
  Clock::time_point lastActivity_;
  curl_off_t lastTransferred_ = 0;
  std::string block_;
  bool inBlock_ = false;
  bool interim_ = false;
  bool headersDone_ = false;
  bool readerStopped_ = false;
  bool bufferFailed_ = false;
  bool timedOut_ = false;
  std::int64_t size_ = 0;
  std::string unsent_;         // bytes of the current read not yet sent to the reader
  std::int64_t unsentBody_ = 0;  // body bytes among them, counted in size_
};

// The upstream proxy the settings name (empty: direct, or the system's).
std::string ChooseProxy(CURL* easy, const SettingValues* cfg) {
  const int mode = cfg != nullptr ? cfg->ProxyMode : 0;
  if (mode == 1) return {};  // the system settings: http_proxy, https_proxy, no_proxy
  if (mode == 2 && !cfg->Proxy.Empty()) {
    std::string proxy = cfg->Proxy.Narrow();
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");  // every host goes through it
    return proxy;
  }
  curl_easy_setopt(easy, CURLOPT_PROXY, "");  // direct, whatever the environment says
  return {};
}

void ChooseMethod(CURL* easy, const std::string& method, const std::optional<std::string>& body,
                  const UrlCheck& url) {
  const bool sendsBody = (body.has_value() || method == "POST") && method != "HEAD";
  if (sendsBody) {
    static const char kNoBody[] = "";
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body ? body->size() : 0));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body ? body->data() : kNoBody);
  }
  if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (method != (sendsBody ? "POST" : "GET")) {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
  if (method == "CONNECT") {
    const std::string target = url.hostAndPort + url.query;
    curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.c_str());
  }
}

}  // namespace

bool FetchUrl(CGateway& ctx, const FetchRequest& request, FetchResponse* response, std::int64_t* size,
              FetchReport* report) {
  if (size != nullptr) *size = 0;
  if (response != nullptr) *response = FetchResponse{};
  FetchReport unused;
  if (report == nullptr) report = &unused;
  *report = FetchReport{};

  const std::string& url = request.url;
  const UrlCheck checked = CheckUrl(url);
  report->server = checked.hostAndPort;
  if (!checked.ok) {
    ctx.errorDetail = CURLE_URL_MALFORMAT;
    report->failure = FetchFailure::kBadUrl;
    return false;
  }
  const ThreadHandle easy;
  if (easy.Get() == nullptr) {
    ctx.errorDetail = CURLE_FAILED_INIT;
    report->failure = FetchFailure::kOther;
    return false;
  }
  const SettingValues* cfg = ctx.cfg.get();
  const std::string& method = request.method;
  const std::string agent = request.agent.value_or(std::string());
  const std::string& callerLines = request.headerLines;
  const RequestHeaders headers(callerLines, AcceptLine(request.acceptType), request.body ? request.body->size() : 0);
  if (!headers.Ok()) {
    ctx.errorDetail = CURLE_OUT_OF_MEMORY;
    report->failure = FetchFailure::kOther;
    return false;
  }

  if (request.logFlag && ctx.shell != nullptr) ctx.shell->Connecting(ctx.requestId);

  if (request.readerSocket >= 0) SendAtOnce(request.readerSocket);
  Transfer transfer(ctx, request, response);
  CURL* h = easy.Get();
  transfer.SetHandle(h);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* bundle = CaBundleFromEnvironment()) curl_easy_setopt(h, CURLOPT_CAINFO, bundle);
  const int bufferSize = std::max(cfg != nullptr ? cfg->RecvBufferSize : 0, kMinReadBlock);
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, static_cast<long>(bufferSize));
  report->proxy = ChooseProxy(h, cfg);
  ChooseMethod(h, method, request.body, checked);
  if (request.agent) curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.List());
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);

  HeaderList pinned;
  const bool resolved = !ConnectsDirectly(cfg) || PinAddresses(h, checked, pinned);
  const CURLcode result = resolved ? curl_easy_perform(h) : CURLE_COULDNT_RESOLVE_HOST;
  ctx.errorDetail = static_cast<std::uint32_t>(result);
  // The last read, and all that came before a failure, still go to the reader.
  transfer.SendUnsent();

  // A reader that stopped taking bytes ends the transfer without failing it.
  const bool readerEnded = (result == CURLE_WRITE_ERROR || result == CURLE_ABORTED_BY_CALLBACK) &&
                           transfer.ReaderStopped();
  const bool ok = transfer.HeadersDone() && !transfer.BufferFailed() && (result == CURLE_OK || readerEnded);
  report->answerStarted = transfer.HeadersDone();
  if (!ok) {
    long connectCode = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (transfer.HeadersDone()) {
      report->failure = FetchFailure::kAnswerCut;
    } else if (connectCode >= 300) {
      report->failure = FetchFailure::kProxyRefused;
      report->proxyStatus = connectCode;
    } else {
      report->failure = FailureBeforeAnswer(result, transfer.TimedOut(), !report->proxy.empty());
    }
  }
  if (size != nullptr) *size = transfer.Size();
  if (request.logFlag && ctx.shell != nullptr) ctx.shell->BytesReceived(ctx.requestId, transfer.Size());
  return ok;
}

namespace {

// zlib's inflate, for the rare gzip header with a header checksum of its own
// (flag FHCRC), which zlib verifies and libdeflate only skips.
int InflateWithZlib(char* out, std::int64_t& capacity, const char* gzip, std::int64_t gzipLength) {
  z_stream stream{};
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip));
  stream.avail_in = static_cast<uInt>(std::min<std::int64_t>(gzipLength, UINT_MAX));
  stream.next_out = reinterpret_cast<Bytef*>(out);
  stream.avail_out = static_cast<uInt>(std::min<std::int64_t>(capacity, UINT_MAX));
  int result = inflateInit2(&stream, 15 + 16);  // 15-bit window, gzip wrapper only
  if (result != Z_OK) return result;
  result = inflate(&stream, Z_FINISH);
  if (result == Z_STREAM_END) {
    capacity = static_cast<std::int64_t>(stream.total_out);
    inflateEnd(&stream);
    return 0;
  }
  const bool inputUsedUp = stream.avail_in == 0;
  inflateEnd(&stream);
  if (result == Z_NEED_DICT || (result == Z_BUF_ERROR && inputUsedUp)) return -3;
  return result == Z_OK ? Z_BUF_ERROR : result;  // Z_FINISH never leaves a stream merely "in progress"
}

constexpr unsigned char kHeaderChecksumFlag = 0x02;

struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

}  // namespace

int InflateBody(const CGateway*, char* out, std::int64_t& capacity, const char* gzip, std::int64_t gzipLength) {
  if (out == nullptr || gzip == nullptr || capacity < 0 || gzipLength < 0) return Z_STREAM_ERROR;
  if (gzipLength >= 4 && (static_cast<unsigned char>(gzip[3]) & kHeaderChecksumFlag) != 0) {
    return InflateWithZlib(out, capacity, gzip, gzipLength);
  }
  // libdeflate decodes a whole body held in memory two to three times as fast
  // as zlib's stream interface; it reads the first gzip member and, like
  // zlib, leaves what follows it alone.
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
      libdeflate_alloc_decompressor());
  if (decompressor == nullptr) return Z_MEM_ERROR;
  std::size_t used = 0;
  std::size_t produced = 0;
  switch (libdeflate_gzip_decompress_ex(decompressor.get(), gzip, static_cast<std::size_t>(gzipLength), out,
                                        static_cast<std::size_t>(capacity), &used, &produced)) {
    case LIBDEFLATE_SUCCESS:
      capacity = static_cast<std::int64_t>(produced);
      return 0;
    case LIBDEFLATE_INSUFFICIENT_SPACE:
      return Z_BUF_ERROR;
    default:  // damaged or truncated
      return -3;
  }
}

std::string DescribeFetchFailure(const FetchReport& report) {
  const std::string& server = report.server;
  switch (report.failure) {
    case FetchFailure::kBadUrl:
      return "Tavrilox: the request names no server that can be reached";
    case FetchFailure::kResolve:
      return "Tavrilox: the host name of " + server + " does not resolve";
    case FetchFailure::kConnect:
      return "Tavrilox: " + server + " refused the connection or cannot be reached";
    case FetchFailure::kTls:
      return "Tavrilox: the TLS handshake with " + server + " failed";
    case FetchFailure::kTimeout:
      return "Tavrilox: " + server + " did not answer in time";
    case FetchFailure::kProxyConnect:
      return "Tavrilox: the upstream proxy " + report.proxy + " cannot be reached (for " + server + ")";
    case FetchFailure::kProxyRefused:
      return "Tavrilox: the upstream proxy " + report.proxy + " answered " + std::to_string(report.proxyStatus) +
             " to CONNECT " + server;
    case FetchFailure::kNoAnswer:
      return "Tavrilox: " + server + " closed the connection without an answer";
    default:
      return "Tavrilox: the request to " + server + " failed";
  }
}

}  // namespace tav
