#include "acquire/DatAnswer.h"

#include <cstdint>

#include "acquire/CDatCache.h"
#include "net/CGateway.h"
#include "net/ReaderSocket.h"
#include "config/StringTable.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr std::string_view kNotModified = "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n";
constexpr std::string_view kBlankLine = "\r\n";

// An answer as its header and the body behind it, so that a long body is
// sent as it lies without being copied behind the header first.
struct AnswerParts {
  std::string head;
  std::string_view body;

  std::string Joined() const { return std::string(head).append(body); }
};

// Date line (when there is a board date) and blank line after the chosen
// template, then the body.
AnswerParts FinishAnswer(std::string head, std::string_view boardDate, std::string_view body) {
  if (!boardDate.empty()) {
    head.append("Last-Modified: ");
    head.append(boardDate.substr(0, kMaxBoardDateLength));
    head.append(kBlankLine);
  }
  head.append(kBlankLine);
  return {std::move(head), body};
}

AnswerParts FullAnswer(std::string_view text, std::string_view boardDate) {
  return FinishAnswer(FullAnswerHeader(static_cast<std::int64_t>(text.size())), boardDate, text);
}

// The reader holds more than there is: a one-byte "*" body.
AnswerParts StarAnswer(std::int64_t rangeStart, std::int64_t total, std::string_view boardDate) {
  return FinishAnswer(PartialAnswerHeader(1, rangeStart, total), boardDate, "*");
}

AnswerParts NotModifiedAnswer(std::string_view boardDate) {
  return FinishAnswer(std::string(kNotModified), boardDate, {});
}

AnswerParts PartialAnswer(std::string_view tail, std::int64_t rangeStart, std::int64_t total,
                          std::string_view boardDate) {
  return FinishAnswer(PartialAnswerHeader(static_cast<std::int64_t>(tail.size()), rangeStart, total), boardDate,
                      tail);
}

// The tail of `text` from `rangeStart` (at most its length): not modified
// when nothing or only a line end is new, else a partial answer.
AnswerParts TailAnswer(std::string_view text, std::int64_t rangeStart, std::string_view boardDate) {
  if (rangeStart < 0 || rangeStart > static_cast<std::int64_t>(text.size())) {
    return FullAnswer(text, boardDate);  // callers never get here; no cut outside the text
  }
  const std::string_view tail = text.substr(static_cast<std::size_t>(rangeStart));
  if (tail.empty() || tail == "\n") return NotModifiedAnswer(boardDate);
  return PartialAnswer(tail, rangeStart, static_cast<std::int64_t>(text.size()), boardDate);
}

// The answer to `rangeStart` by the standard rule.
AnswerParts DatAnswerParts(std::string_view text, std::int64_t rangeStart, std::string_view boardDate) {
  rangeStart = UsableRangeStart(rangeStart);
  const auto length = static_cast<std::int64_t>(text.size());
  if (rangeStart < 0) return FullAnswer(text, boardDate);
  if (rangeStart > length) return StarAnswer(rangeStart, length, boardDate);
  return TailAnswer(text, rangeStart, boardDate);
}

std::int64_t WriteAnswer(const CGateway& ctx, std::string_view head, std::string_view body = {}) {
  const std::string_view pieces[] = {head, body};
  std::int64_t sent = 0;
  SendToReader(ctx, ctx.readerSocket, pieces, sent);
  EndAnswer(ctx);
  return sent;
}

}  // namespace

std::int64_t UsableRangeStart(std::int64_t rangeStart) {
  return (rangeStart < 0 || rangeStart > static_cast<std::int64_t>(INT32_MAX)) ? -1 : rangeStart;
}

std::string FullAnswerHeader(std::int64_t contentLength, bool closed) {
  std::string header = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: ";
  header += std::to_string(contentLength);
  header += "\r\nConnection: keep-alive\r\nVary: Accept-Encoding\r\nServer: cloudflare-nginx\r\n";
  if (closed) header += kBlankLine;
  return header;
}

std::string PartialAnswerHeader(std::int64_t contentLength, std::int64_t rangeStart, std::int64_t total,
                                bool closed) {
  std::string header =
      "HTTP/1.1 206 Partial Content\r\nServer: cloudflare-nginx\r\nContent-Type: text/plain\r\nContent-Length: ";
  header += std::to_string(contentLength);
  header += "\r\nConnection: close\r\nAccept-Ranges: bytes\r\nContent-Range: bytes ";
  header += std::to_string(rangeStart);
  header += '-';
  header += std::to_string(total - 1);
  header += '/';
  header += std::to_string(total);
  header += "\r\n";
  if (closed) header += kBlankLine;
  return header;
}

std::string BuildDatAnswer(std::string_view text, std::int64_t rangeStart, std::string_view boardDate) {
  return DatAnswerParts(text, rangeStart, boardDate).Joined();
}

int SendDatAnswer(const CGateway& ctx, std::string_view text, std::int64_t rangeStart, std::string_view boardDate,
                  std::int64_t& bytesSent) {
  const AnswerParts answer = DatAnswerParts(text, rangeStart, boardDate);
  bytesSent = WriteAnswer(ctx, answer.head, answer.body);
  return 0;
}

std::string BuildReaderFileAnswer(std::string_view text, std::int64_t rangeStart) {
  static const std::string notice = Sjis("２ちゃんねる ★");  // 15 bytes
  const auto length = static_cast<std::int64_t>(text.size());
  // Any negative start counts as none, as in the standard rule.
  if (rangeStart < 0 || rangeStart >= length) return FullAnswerHeader(length, true).append(text);
  const std::string_view tail = text.substr(static_cast<std::size_t>(rangeStart));
  if (!tail.empty() && tail != "\n" && !text.starts_with(notice)) {
    return PartialAnswerHeader(static_cast<std::int64_t>(tail.size()), rangeStart, length, true).append(tail);
  }
  return std::string(kNotModified).append(kBlankLine);
}

std::string BuildOverloadAnswer() {
  std::string answer(kNotModified);
  answer.append(kBlankLine);
  return answer;
}

int SendOverloadAnswer(CGateway& ctx, std::int64_t& bytesSent) {
  ctx.overload = true;
  bytesSent = WriteAnswer(ctx, BuildOverloadAnswer());
  return 0;
}

int DiffModeCachedCount(const CDatCache& cache, bool diffMode, std::int64_t rangeStart, std::string_view server,
                        std::string_view key) {
  if (!diffMode || UsableRangeStart(rangeStart) == -1) return -1;
  return cache.Lookup(server, key);
}

int BuildDiffModeAnswer(CDatCache& cache, const DiffModeAnswerInput& in, std::string_view boardDate,
                        std::string& answer) {
  const std::int64_t start = UsableRangeStart(in.rangeStart);
  // A cached count is only known for a request with a range start.
  const int cached = start == -1 ? -1 : in.cachedCount;
  const auto length = static_cast<std::int64_t>(in.text.size());

  // Cache step: a thread that has only its first post is not worth keeping
  // unless the cache already knew it.
  std::string entryText;
  bool stored = false;
  if (in.diffMode && !(in.converterResult == 1 && cached == -1)) {
    const bool append = !(start == -1 || cached < 1);
    const int count = append ? cached + in.converterResult : in.converterResult;
    if (cache.Store(in.server, in.key, count, in.text, append, in.datCacheCount, &entryText) != 0) {
      return kStrNoMemory;
    }
    stored = true;
  }

  if (start != -1 && start <= length && cached == -1) {
    answer = TailAnswer(in.text, start, boardDate).Joined();
  } else if (!in.diffMode || cached < 1 || !stored) {
    answer = ((start > length) ? StarAnswer(start, length, boardDate) : FullAnswer(in.text, boardDate)).Joined();
  } else if (in.converterResult == 0) {
    answer = NotModifiedAnswer(boardDate).Joined();
  } else {
    // Cut from the whole cached text as it stands after the store, never
    // past its end.
    const auto size = static_cast<std::int64_t>(entryText.size());
    if (start < 0) {
      answer = FullAnswer(entryText, boardDate).Joined();
    } else if (start > size) {
      answer = StarAnswer(start, size, boardDate).Joined();
    } else {
      answer = PartialAnswer(std::string_view(entryText).substr(static_cast<std::size_t>(start)), start, size,
                             boardDate)
                   .Joined();
    }
  }
  return 0;
}

int SendDiffModeAnswer(CGateway& ctx, const DiffModeAnswerInput& input, std::string_view boardDate,
                       std::int64_t& bytesSent) {
  bytesSent = 0;
  std::string answer;
  const int rc = BuildDiffModeAnswer(*ctx.datCache, input, boardDate, answer);
  if (rc != 0) return rc;
  bytesSent = WriteAnswer(ctx, answer);
  return 0;
}

}  // namespace tav
