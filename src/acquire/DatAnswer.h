#pragma once
// Answers that stand in for the board's own dat file: a full answer, a
// partial answer for the reader's "Range: bytes=N-" request, or a
// not-modified answer, the header and the text behind it written with one
// vectored send. Also the cache-backed answer choice of the HTML route's
// DiffMode and the overload answer.

#include <cstdint>
#include <string>
#include <string_view>

namespace tav {

struct CGateway;
class CDatCache;

// Longest board Date value repeated in Last-Modified; longer ones are cut.
inline constexpr std::size_t kMaxBoardDateLength = 1022;

// The range start an answer may compute with: `rangeStart` when it lies in
// 0..2^31-1, else -1 (no range), so that no answer ever cuts at a negative
// or absurd offset.
std::int64_t UsableRangeStart(std::int64_t rangeStart);

// Header lines of the full and partial answers. `closed` adds the blank line
// that ends the header (the local route's form, which carries no date line).
std::string FullAnswerHeader(std::int64_t contentLength, bool closed = false);
std::string PartialAnswerHeader(std::int64_t contentLength, std::int64_t rangeStart, std::int64_t total,
                                 bool closed = false);

// The answer to a request with `rangeStart` (-1: no Range header) for the
// produced `text`, with a Last-Modified line when `boardDate` is not empty.
std::string BuildDatAnswer(std::string_view text, std::int64_t rangeStart, std::string_view boardDate);

// Builds that answer and writes it to the reader's socket; `bytesSent`
// receives the number of bytes written. Returns 0.
int SendDatAnswer(const CGateway& ctx, std::string_view text, std::int64_t rangeStart, std::string_view boardDate,
                  std::int64_t& bytesSent);

// The local dat route's own rule for the text read from the driven reader's
// file, with the closed templates and no date line: full when there is no
// range start or it is at or past the end; else partial with the tail,
// unless the tail is empty or one line feed or the text begins with
// "２ちゃんねる ★", which give not modified.
std::string BuildReaderFileAnswer(std::string_view text, std::int64_t rangeStart);

// The answer to a page titled "もうずっと人大杉": not modified, nothing else.
std::string BuildOverloadAnswer();
// Sends it and sets the context's overload flag. Returns 0.
int SendOverloadAnswer(CGateway& ctx, std::int64_t& bytesSent);

// What the HTML route knows when it answers in DiffMode.
struct DiffModeAnswerInput {
  bool diffMode = false;
  std::int64_t rangeStart = -1;  // E
  int cachedCount = -1;          // M, from DiffModeCachedCount
  int converterResult = 0;       // t, 0 or more
  std::string_view text;         // P, the converter's output
  std::string_view server;       // server label
  std::string_view key;          // thread key text
  int datCacheCount = 50;        // DatCacheCount of the request's settings
};

// M: the cached post count of the thread when DiffMode is on and the request
// has a range start, else -1.
int DiffModeCachedCount(const CDatCache& cache, bool diffMode, std::int64_t rangeStart, std::string_view server,
                        std::string_view key);

// Stores the produced text in the cache (replacing, or appending to the
// cached posts) and chooses the answer. Returns 0 with `answer` filled, or
// 33040 when the store failed (nothing is to be sent then).
int BuildDiffModeAnswer(CDatCache& cache, const DiffModeAnswerInput& input, std::string_view boardDate,
                        std::string& answer);

// BuildDiffModeAnswer, then the answer written to the reader. Returns 0 or
// 33040; `bytesSent` receives the number of bytes written.
int SendDiffModeAnswer(CGateway& ctx, const DiffModeAnswerInput& input, std::string_view boardDate,
                       std::int64_t& bytesSent);

}  // namespace tav
