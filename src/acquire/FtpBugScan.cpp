#include "acquire/FtpBugScan.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>

#include "acquire/ConvertOptions.h"
#include "acquire/HtmlConverter.h"
#include "config/CSetting.h"
#include "net/CGateway.h"
#include "net/UpstreamClient.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr char kHeaderLines[] = "Connection: close\r\nAccept-Language: ja,en-us;q=0.7,en;q=0.3\r\n";
constexpr char kAcceptType[] = "text/html, application/xhtml+xml, */*";
// The count used when neither the thread list nor the "l1" page gives one.
constexpr int kFallbackCount = 1000;
// subject.txt lines are read up to this many bytes.
constexpr std::size_t kSubjectLineMax = 1023;

// What one read.cgi page says about the posts it was asked for.
enum class PageAnswer { kReadable, kOriginError, kMissingThread, kNoPage, kNoHeaderEnd, kFetchFailed };

enum class PageRange { kSingle, kPair, kLastPost };

struct PageResult {
  PageAnswer answer = PageAnswer::kFetchFailed;
  int lastPost = 0;  // kLastPost: the number of the last post on the page
};

const std::string& MissingThreadText() {
  static const std::string text = Sjis(">datが存在しません。削除されたかURL間違ってますよ。");
  return text;
}

// Whether the status line ("HTTP/1.1 200 OK") reports a 2xx answer.
bool IsSuccess(std::string_view headers) {
  std::size_t code = headers.find(' ');
  return code != std::string_view::npos && headers.substr(code + 1, 1) == "2";
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The decimal number at the start of `text`, or nothing.
std::optional<int> LeadingNumber(std::string_view text) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

// The post count of `thread` in a board's subject.txt: the number in the
// last parentheses of the line "<thread>.dat<>title (count)".
std::optional<int> CountFromSubject(std::string_view body, const std::string& thread) {
  const std::string wanted = thread + ".dat";
  while (!body.empty()) {
    std::size_t end = body.find_first_of(std::string_view("\r\n\0", 3));
    std::string_view line = body.substr(0, std::min(end, kSubjectLineMax));
    if (line.empty()) return std::nullopt;  // the list ends at an empty line
    if (line.starts_with(wanted)) {
      std::size_t open = line.rfind('(');
      if (open == std::string_view::npos) return std::nullopt;
      std::size_t close = line.find(')', open);
      if (close == std::string_view::npos) return std::nullopt;
      return LeadingNumber(line.substr(open + 1, close - open - 1));
    }
    if (end == std::string_view::npos) return std::nullopt;
    if (body.compare(end, 2, "\r\n") == 0) ++end;  // one line end, not an empty line
    body.remove_prefix(end + 1);
  }
  return std::nullopt;
}

}  // namespace

// One scan of one thread.
class FtpBugScan::Pass {
 public:
  Pass(FtpBugScan& owner, const FtpBugScanInput& input) : owner_(owner), input_(input) {
    ctx_.cfg = owner.setting_.Snapshot();
    ctx_.cancel = &owner.abort_;
    domain_ = ctx_.cfg->Use5ch != 0 ? ctx_.cfg->Domains.Secondary : ctx_.cfg->Domains.Primary;
  }

  FtpBugScanResult Scan() {
    if (input_.server.empty() || input_.board.empty() || input_.thread.empty()) {
      SetStatus(u"未入力のスレッド情報があります.");
      return End(FtpBugScanEnd::kMissingInput);
    }
    owner_.listener_.ScanPostsChanged(result_.posts);

    // n + 2 stays within range however large a count the board states.
    const int count = std::min(PostCount(), std::numeric_limits<int>::max() - 1);
    for (int n = 1; n <= count; n += 2) {
      if (StopRequested()) return End(FtpBugScanEnd::kStopped);
      SetStatus(u"Check res " + Ascii(std::to_string(n)) + u"/" + Ascii(std::to_string(count)) + u"...");
      PageAnswer pair = FetchPage(PageRange::kPair, n).answer;
      if (pair == PageAnswer::kReadable) {
        AppendStatus(u" ok.");
        Pause();
      } else if (pair == PageAnswer::kOriginError) {
        AppendStatus(u" ftpバグ発見!");
        Pause();
        for (int post : {n, n + 1}) {
          PageAnswer single = FetchPage(PageRange::kSingle, post).answer;
          if (single == PageAnswer::kOriginError) {
            result_.posts.push_back(post);
            owner_.listener_.ScanPostsChanged(result_.posts);
          } else if (single != PageAnswer::kReadable) {
            // A post that could not be checked must not pass for a sound one.
            return Failure(single);
          }
        }
      } else {
        return Failure(pair);
      }
    }
    if (StopRequested()) return End(FtpBugScanEnd::kStopped);
    SetStatus(result_.posts.empty() ? u"このスレッドにftpバグはありません." : u"検索終了.");
    return End(FtpBugScanEnd::kFinished);
  }

 private:
  bool StopRequested() const { return owner_.stop_.load() || owner_.abort_.load(); }

  void SetStatus(std::u16string text) {
    result_.status = std::move(text);
    owner_.listener_.ScanStatusChanged(result_.status);
  }
  void AppendStatus(std::u16string_view text) { SetStatus(result_.status + std::u16string(text)); }

  FtpBugScanResult End(FtpBugScanEnd end) {
    result_.end = end;
    return std::move(result_);
  }

  FtpBugScanResult Failure(PageAnswer answer) {
    if (answer == PageAnswer::kMissingThread) {
      SetStatus(u"スレッド情報がおかしいです.");
      return End(FtpBugScanEnd::kMissingThread);
    }
    AppendStatus(u" 不明なエラーです.");
    return End(FtpBugScanEnd::kFailed);
  }

  void Pause() {
    std::unique_lock lock(owner_.pauseMutex_);
    owner_.pauseWake_.wait_for(lock, owner_.options_.pause, [this] { return StopRequested(); });
  }

  std::string Scheme() const { return ctx_.cfg->HtmlSSL != 0 ? "https://" : "http://"; }

  bool Fetch(const std::string& url, FetchResponse& reply) {
    FetchRequest fetch;
    fetch.url = url;
    fetch.agent = ctx_.cfg->HtmlUserAgent.Narrow();
    fetch.headerLines = kHeaderLines;
    fetch.acceptType = kAcceptType;
    return FetchUrl(ctx_, fetch, &reply, nullptr);
  }

  // The thread's post count: from the board's thread list, else from the
  // number of the last post on the "l1" page, else kFallbackCount.
  int PostCount() {
    FetchResponse reply;
    if (Fetch(Scheme() + input_.server + domain_ + "/" + input_.board + "/subject.txt", reply)) {
      if (auto count = CountFromSubject(reply.body, input_.thread)) return *count;
    }
    PageResult last = FetchPage(PageRange::kLastPost, 0);
    return last.answer == PageAnswer::kReadable && last.lastPost > 0 ? last.lastPost : kFallbackCount;
  }

  PageResult FetchPage(PageRange range, int n) {
    std::string url =
        Scheme() + input_.server + domain_ + "/test/read.cgi/" + input_.board + "/" + input_.thread + "/";
    if (range == PageRange::kSingle) url += std::to_string(n);
    if (range == PageRange::kPair) url += std::to_string(n) + "-" + std::to_string(n + 1);
    if (range == PageRange::kLastPost) url += "l1";

    PageResult result;
    FetchResponse reply;
    if (!Fetch(url, reply)) return result;
    const std::string& headers = reply.headers;
    if (headers.find("\r\n\r\n") == std::string::npos) {
      result.answer = PageAnswer::kNoHeaderEnd;
    } else if (headers.find("HTTP/1.1 520 Origin Error") != std::string::npos) {
      result.answer = PageAnswer::kOriginError;
    } else if (reply.body.find(MissingThreadText()) != std::string::npos) {
      result.answer = PageAnswer::kMissingThread;
    } else if (!IsSuccess(headers)) {
      // An error page of any other kind says nothing about the posts asked for.
      result.answer = PageAnswer::kNoPage;
    } else {
      result.answer = PageAnswer::kReadable;
      // Only the last post's number is wanted from the page, read with the
      // converter the HTML route would choose for it.
      if (range == PageRange::kLastPost) {
        static const CBregOnig engine(true);
        std::string scratch;
        ConvertCall call;
        call.lastPost = &result.lastPost;
        ConvertPage(ChooseConverter(reply.body, *ctx_.cfg, engine), reply.body, scratch, call, *ctx_.cfg,
                    engine);
      }
    }
    return result;
  }

  FtpBugScan& owner_;
  const FtpBugScanInput& input_;
  CGateway ctx_;
  std::string domain_;
  FtpBugScanResult result_;
};

FtpBugScan::FtpBugScan(CSetting& setting, IFtpBugScanListener& listener, FtpBugScanOptions options)
    : setting_(setting), listener_(listener), options_(options) {}

FtpBugScan::~FtpBugScan() {
  {
    std::lock_guard lock(pauseMutex_);
    abort_ = true;
  }
  pauseWake_.notify_all();
  Wait();
}

bool FtpBugScan::Claim() {
  bool idle = false;
  if (!running_.compare_exchange_strong(idle, true)) return false;
  stop_ = false;
  return true;
}

bool FtpBugScan::Start(FtpBugScanInput input) {
  std::lock_guard lock(threadMutex_);
  if (!Claim()) return false;
  if (worker_.joinable()) worker_.join();  // the previous scan has already reported its end
  worker_ = std::thread([this, input = std::move(input)] { RunClaimed(input); });
  return true;
}

FtpBugScanResult FtpBugScan::Run(const FtpBugScanInput& input) {
  if (!Claim()) return FtpBugScanResult{FtpBugScanEnd::kFailed, {}, {}};
  return RunClaimed(input);
}

FtpBugScanResult FtpBugScan::RunClaimed(const FtpBugScanInput& input) {
  FtpBugScanResult result = Pass(*this, input).Scan();
  stop_ = false;
  running_ = false;
  listener_.ScanFinished(result);
  return result;
}

void FtpBugScan::Stop() {
  {
    std::lock_guard lock(pauseMutex_);
    if (running_) stop_ = true;
  }
  pauseWake_.notify_all();
}

void FtpBugScan::Wait() {
  std::lock_guard lock(threadMutex_);
  if (worker_.joinable()) worker_.join();
}

}  // namespace tav
