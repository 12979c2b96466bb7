// libFuzzer target: the fast matcher for simple patterns against the engine
// alone. The input chooses a pattern (one of the default sets' patterns, or
// one assembled from the simple family's pieces and a few that lie outside
// it) and a Shift_JIS-ish text full of tags, digits, lead bytes and
// newlines; BMatch and BSplit must answer the same with and without the fast
// path, down to every group's offsets.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/PatternSets.h"
#include "platform/CBregOnig.h"

namespace {

const std::vector<std::string>& TablePatterns() {
  static const std::vector<std::string> patterns = [] {
    std::vector<tav::CRegexpPatternInfo> sets;
    tav::FillDefaultPatternSets(sets);
    std::vector<std::string> all;
    for (const auto& set : sets) {
      for (const auto* p : {&set.title, &set.res, &set.be, &set.mailName, &set.name}) all.push_back(p->Narrow());
    }
    return all;
  }();
  return patterns;
}

// Pieces a pattern is assembled from: literals, repeats, groups, and a few
// that the fast matcher must refuse.
const char* const kPieces[] = {
    "<",     ">",     "<b>",      "<\\/b>",    "a",       "1",       " ",       "\x81\x46", "\"",   "\\/",
    "\\.",   "=",     "<dt>",     "\x88\x9f<", "b",       ".*?",     ".+?",     ".*",       ".+",   "\\d+",
    "\\d*",  "[^>]*", "[^>]+",    "[\\s\\t\\n]*", "[a-c<]+", "[^<\\n]*", "(.*?)",  "(.+?)",    "(.*)", "(.+)",
    "(\\d+)", "(\\d*)", "([^>]*)", "([a-z]+)", "(.+?)",   "(.*?)",   "a?",      "(?:a)",    "\\d+?", "[^>]*?",
    "(a)",   "x|y",   ".{2}",     "\\w+",      "a*",
};
constexpr std::size_t kPieceCount = sizeof(kPieces) / sizeof(kPieces[0]);
constexpr std::size_t kRepeatsFrom = 15;  // pieces from here on repeat something
constexpr std::size_t kRefusedFrom = 36;  // pieces from here on lie outside the family
// Beyond three repeats and a couple of hundred bytes the engine alone can
// take seconds per input, which only slows the search for differences down.
constexpr int kMaxRepeats = 3;
constexpr std::size_t kMaxText = 160;

// Text pieces: tag characters, digits, two-byte characters (some with a
// trail byte that looks like ASCII), lone and broken lead bytes, newlines.
const char* const kTextPieces[] = {
    "<", ">", "b", "/", "1", "23", " ", "a", "\n", "\x81\x46", "\x88\x9f", "\x83\x5c", "\x82\xa0", "\x81<",
    "\x81", "\"", "<b>", "</b>", "x", "\xe0\x40", "\x81\n", "\xfc\xfc", "\xa0", "=",
};
constexpr std::size_t kTextPieceCount = sizeof(kTextPieces) / sizeof(kTextPieces[0]);

const tav::CBregOnig& Fast() {
  static const tav::CBregOnig engine(true, tav::MatchPath::FastWhereSimple);
  return engine;
}

const tav::CBregOnig& EngineOnly() {
  static const tav::CBregOnig engine(true, tav::MatchPath::EngineOnly);
  return engine;
}

[[noreturn]] void Fail(const std::string& pattern, const char* what) {
  std::fprintf(stderr, "fast path differs (%s) for pattern %s\n", what, pattern.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  std::size_t at = 0;
  const std::uint8_t control = data[at++];
  const std::uint8_t skip = data[at++];

  std::string pattern;
  if ((control & 0x80) != 0) {
    pattern = TablePatterns()[data[at++] % TablePatterns().size()];
  } else {
    const std::size_t pieces = 1 + control % 6;
    pattern = "/";
    int repeats = 0;
    for (std::size_t i = 0; i < pieces && at < size; ++i) {
      std::size_t piece = data[at++] % kPieceCount;
      if (piece >= kRefusedFrom && (control & 0x40) == 0) piece %= kRefusedFrom;
      if (piece >= kRepeatsFrom && ++repeats > kMaxRepeats) piece %= kRepeatsFrom;
      pattern += kPieces[piece];
    }
    pattern += "/";
  }

  std::string text;
  for (; at < size && text.size() < kMaxText; ++at) {
    const std::uint8_t b = data[at];
    if ((b & 0xE0) == 0xE0 && at + 1 < size) {
      text.push_back(static_cast<char>(data[++at]));  // any byte now and then
    } else {
      text += kTextPieces[b % kTextPieceCount];
    }
  }
  const std::size_t offset = text.empty() ? 0 : skip % (text.size() + 1);
  const char* start = text.data() + offset;
  const char* end = text.data() + text.size();

  const tav::CBregOnig* engines[] = {&Fast(), &EngineOnly()};
  tav::BRegexp* handles[2] = {nullptr, nullptr};
  char messages[2][tav::kBregMessageSize] = {};
  int rc[2];
  for (int k = 0; k < 2; ++k) rc[k] = engines[k]->BMatch(pattern, start, end, &handles[k], messages[k]);
  if (rc[0] != rc[1]) Fail(pattern, "return value");
  if (rc[0] == 1) {
    if (handles[0]->nparens != handles[1]->nparens) Fail(pattern, "group count");
    for (int g = 0; g <= handles[0]->nparens; ++g) {
      const auto i = static_cast<std::size_t>(g);
      if (handles[0]->startp[i] != handles[1]->startp[i] || handles[0]->endp[i] != handles[1]->endp[i]) {
        Fail(pattern, "group position");
      }
    }
  }

  if ((control & 0x20) != 0) {
    for (int k = 0; k < 2; ++k) rc[k] = engines[k]->BSplit(pattern, start, end, 0, &handles[k], messages[k]);
    if (rc[0] != rc[1]) Fail(pattern, "split count");
    if (rc[0] > 0 && handles[0]->splitp != handles[1]->splitp) Fail(pattern, "split pieces");
  }
  for (auto* handle : handles) engines[0]->BRegfree(handle);
  return 0;
}
