#include "platform/CBregOnig.h"

#include <oniguruma.h>

#include <algorithm>
#include <iterator>
#include <cctype>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/SimplePattern.h"

namespace tav {

struct BRegexp::Compiled {
  Compiled() = default;
  Compiled(const Compiled&) = delete;
  Compiled& operator=(const Compiled&) = delete;
  ~Compiled() {
    if (region != nullptr) onig_region_free(region, 1);
    if (regex != nullptr) onig_free(regex);
  }

  std::string pattern;  // the slash-delimited text it was built from
  OnigRegex regex = nullptr;
  OnigRegion* region = nullptr;
  // The same pattern for the fast matcher, when it is simple enough.
  std::optional<SimplePattern> simple;
};

BRegexp::BRegexp() = default;
BRegexp::~BRegexp() = default;

namespace {

bool IsSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

void SetMessage(char* message, const char* text) {
  if (message == nullptr) return;
  std::size_t n = std::strlen(text);
  if (n >= kBregMessageSize) n = kBregMessageSize - 1;
  std::memcpy(message, text, n);
  message[n] = '\0';
}

void SetEngineMessage(char* message, int code, OnigErrorInfo* info) {
  OnigUChar text[ONIG_MAX_ERROR_MESSAGE_LEN] = {};
  if (info != nullptr) {
    onig_error_code_to_str(text, code, info);
  } else {
    onig_error_code_to_str(text, code);
  }
  SetMessage(message, reinterpret_cast<const char*>(text));
}

// The engine is initialised once per process and never ended: other
// bridges may still be matching on other threads.
bool InitialiseEngine() {
  static const bool initialised = [] {
    OnigEncoding encodings[] = {ONIG_ENCODING_SJIS};
    return onig_initialize(encodings, 1) == ONIG_NORMAL;
  }();
  return initialised;
}

// Compiling touches the engine's shared tables; matching does not.
std::mutex& CompileMutex() {
  static std::mutex mutex;
  return mutex;
}

// Compiled patterns kept across handles, keyed by their pattern text: a
// handle released gives its compiled pattern back, and the next handle for
// the same text takes it instead of compiling again. Each compiled pattern
// is used by one handle at a time. The oldest are dropped past kKept.
class CompiledPool {
 public:
  static CompiledPool& Instance() {
    static CompiledPool* pool = new CompiledPool;  // never destroyed: threads may release late
    return *pool;
  }

  std::unique_ptr<BRegexp::Compiled> Take(std::string_view pattern) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
      if ((*it)->pattern == pattern) {
        std::unique_ptr<BRegexp::Compiled> compiled = std::move(*it);
        kept_.erase(std::next(it).base());
        return compiled;
      }
    }
    return nullptr;
  }

  void Give(std::unique_ptr<BRegexp::Compiled> compiled) {
    if (compiled == nullptr) return;
    std::unique_ptr<BRegexp::Compiled> dropped;  // freed outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    if (kept_.size() >= kKept) {
      dropped = std::move(kept_.front());
      kept_.erase(kept_.begin());
    }
    kept_.push_back(std::move(compiled));
  }

 private:
  static constexpr std::size_t kKept = 64;
  std::mutex mutex_;
  std::vector<std::unique_ptr<BRegexp::Compiled>> kept_;
};

// Splits "/expression/flags" (or "m<d>expression<d>flags" with another
// delimiter) into the expression and its flags. Escaped characters and
// double-byte characters are stepped over whole, so neither "\/" nor a trail
// byte that looks like a backslash or delimiter ends the expression.
bool SplitSlashPattern(std::string_view text, std::string_view& expression, std::string_view& flags) {
  std::size_t open = 0;
  if (text.size() >= 2 && text[0] == 'm' && text[1] != '\\' && static_cast<unsigned char>(text[1]) < 0x80 &&
      std::strchr("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_ \t\r\n", text[1]) == nullptr) {
    open = 1;
  } else if (text.empty() || text[0] != '/') {
    return false;
  }
  const char delimiter = text[open];
  std::size_t i = open + 1;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == static_cast<unsigned char>(delimiter)) {
      expression = text.substr(open + 1, i - open - 1);
      flags = text.substr(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < text.size()) {
      i += 1 + (IsSjisLead(static_cast<unsigned char>(text[i + 1])) ? 2 : 1);
    } else {
      i += IsSjisLead(c) ? 2 : 1;
    }
  }
  return false;
}

// The expression with the Perl flags it understands put in front inline;
// flags that only matter to substitution ("g", "k" and the like) are ignored.
std::string ExpressionWithFlags(std::string_view expression, std::string_view flags) {
  std::string inline_flags;
  for (char f : flags) {
    if ((f == 'i' || f == 'm' || f == 's' || f == 'x') && inline_flags.find(f) == std::string::npos) {
      inline_flags.push_back(f);
    }
  }
  std::string result;
  if (!inline_flags.empty()) result = "(?" + inline_flags + ")";
  result.append(expression);
  return result;
}

// `rx` set up for `compiled`; the pattern it held before goes back to the pool.
BRegexp* Install(BRegexp& rx, std::unique_ptr<BRegexp::Compiled> compiled) {
  CompiledPool::Instance().Give(std::move(rx.compiled));
  rx.compiled = std::move(compiled);
  rx.nparens = onig_number_of_captures(rx.compiled->regex);
  rx.startp.assign(static_cast<std::size_t>(rx.nparens) + 1, nullptr);
  rx.endp.assign(static_cast<std::size_t>(rx.nparens) + 1, nullptr);
  return &rx;
}

// The handle to match `pattern` with: *handle when it already holds that
// pattern, else *handle (or a new handle) compiled afresh. Null on an error.
BRegexp* PrepareHandle(std::string_view pattern, BRegexp** handle, char* message) {
  BRegexp* rx = *handle;
  if (rx != nullptr && rx->compiled != nullptr && rx->compiled->pattern == pattern) return rx;

  if (auto kept = CompiledPool::Instance().Take(pattern)) {
    if (rx == nullptr) {
      rx = new BRegexp;
      *handle = rx;
    }
    return Install(*rx, std::move(kept));
  }

  std::string_view expression;
  std::string_view flags;
  if (!SplitSlashPattern(pattern, expression, flags)) {
    SetMessage(message, "invalid pattern: expected /expression/");
    return nullptr;
  }
  const std::string source = ExpressionWithFlags(expression, flags);

  auto compiled = std::make_unique<BRegexp::Compiled>();
  compiled->pattern.assign(pattern);
  OnigErrorInfo info{};
  int rc;
  {
    std::lock_guard<std::mutex> lock(CompileMutex());
    const auto* begin = reinterpret_cast<const OnigUChar*>(source.data());
    rc = onig_new(&compiled->regex, begin, begin + source.size(), ONIG_OPTION_CAPTURE_GROUP, ONIG_ENCODING_SJIS,
                  ONIG_SYNTAX_PERL, &info);
  }
  if (rc != ONIG_NORMAL) {
    compiled->regex = nullptr;
    SetEngineMessage(message, rc, &info);
    if (rx != nullptr) rx->compiled.reset();
    return nullptr;
  }
  compiled->region = onig_region_new();
  if (compiled->region == nullptr) {
    SetMessage(message, "out of memory");
    if (rx != nullptr) rx->compiled.reset();
    return nullptr;
  }
  if (rx == nullptr) {
    rx = new BRegexp;
    *handle = rx;
  }
  // Without flags a simple pattern means the same to both matchers; the
  // group count is checked so that the two can never disagree on it.
  if (flags.empty()) {
    compiled->simple = SimplePattern::Parse(expression);
    if (compiled->simple && compiled->simple->Groups() != onig_number_of_captures(compiled->regex)) {
      compiled->simple.reset();
    }
  }
  return Install(*rx, std::move(compiled));
}

// The fast matcher's budget for a search of `length` bytes: a few passes
// over the text per call, and per start position well below the engine's
// own retry limit, so that whatever the fast matcher finishes the engine
// would have finished too.
SimplePattern::Budget FastBudget(std::size_t length) {
  constexpr std::size_t kPerStart = 1000000;
  SimplePattern::Budget budget;
  const unsigned long engineLimit = onig_get_retry_limit_in_match();
  budget.perStart = engineLimit == 0 ? kPerStart : std::min<std::size_t>(kPerStart, engineLimit / 10);
  budget.perCall = 8 * length + kPerStart;
  const unsigned long searchLimit = onig_get_retry_limit_in_search();
  if (searchLimit != 0) budget.perCall = std::min<std::size_t>(budget.perCall, searchLimit / 10);
  return budget;
}

// Searches [from, end) of the text that begins at start. Returns 1, 0 or -1
// like BMatch and fills the group positions. A simple pattern is searched by
// the fast matcher first when `fast` allows; the engine searches whatever it
// gives up on.
int Search(BRegexp& rx, const char* start, const char* from, const char* end, char* message, bool fast) {
  if (fast && rx.compiled->simple && onig_get_match_stack_limit_size() == 0) {
    std::fill(rx.startp.begin(), rx.startp.end(), nullptr);
    std::fill(rx.endp.begin(), rx.endp.end(), nullptr);
    const auto outcome = rx.compiled->simple->Search(from, end, FastBudget(static_cast<std::size_t>(end - from)),
                                                     rx.startp.data(), rx.endp.data());
    if (outcome == SimplePattern::Outcome::Match) return 1;
    if (outcome == SimplePattern::Outcome::NoMatch) return 0;
  }
  const auto* text = reinterpret_cast<const OnigUChar*>(start);
  const auto* stop = reinterpret_cast<const OnigUChar*>(end);
  const auto* at = reinterpret_cast<const OnigUChar*>(from);
  OnigRegion* region = rx.compiled->region;
  const int rc = onig_search(rx.compiled->regex, text, stop, at, stop, region, ONIG_OPTION_NONE);
  std::fill(rx.startp.begin(), rx.startp.end(), nullptr);
  std::fill(rx.endp.begin(), rx.endp.end(), nullptr);
  if (rc == ONIG_MISMATCH) return 0;
  if (rc < 0) {
    SetEngineMessage(message, rc, nullptr);
    return -1;
  }
  for (int g = 0; g <= rx.nparens && g < region->num_regs; ++g) {
    if (region->beg[g] < 0) continue;  // the group took no part in the match
    rx.startp[static_cast<std::size_t>(g)] = start + region->beg[g];
    rx.endp[static_cast<std::size_t>(g)] = start + region->end[g];
  }
  return 1;
}

// Reads the expression's top level for its literal runs. Returns false when
// the expression uses something this reading does not follow.
bool CollectRequiredTexts(std::string_view expression, std::vector<std::string>& texts) {
  std::string run;
  auto endRun = [&] {
    if (!run.empty()) texts.push_back(run);
    run.clear();
  };
  std::size_t lastCharSize = 0;  // bytes of the run's last character
  int depth = 0;
  std::size_t i = 0;
  while (i < expression.size()) {
    const auto c = static_cast<unsigned char>(expression[i]);
    if (c == '[') {
      // A character class: skip to its closing bracket.
      if (depth == 0) endRun();
      std::size_t j = i + 1;
      if (j < expression.size() && expression[j] == '^') ++j;
      if (j < expression.size() && expression[j] == ']') ++j;
      while (j < expression.size() && expression[j] != ']') {
        const auto cj = static_cast<unsigned char>(expression[j]);
        if (cj == '[') return false;  // nested sets and POSIX brackets
        j += (cj == '\\' || IsSjisLead(cj)) ? 2 : 1;
      }
      if (j >= expression.size()) return false;
      i = j + 1;
      lastCharSize = 0;
      continue;
    }
    if (c == '(') {
      if (i + 1 < expression.size() && expression[i + 1] == '?') return false;
      if (depth == 0) endRun();
      ++depth;
      ++i;
      continue;
    }
    if (c == ')') {
      if (--depth < 0) return false;
      ++i;
      lastCharSize = 0;
      continue;
    }
    if (c == '|') {
      if (depth == 0) return false;
      ++i;
      continue;
    }
    if (c == '{') return false;
    if (c == '*' || c == '+' || c == '?') {
      // The character before is optional or repeated: not part of a run.
      if (depth == 0 && lastCharSize > 0 && run.size() >= lastCharSize) {
        run.resize(run.size() - lastCharSize);
        endRun();
      }
      lastCharSize = 0;
      ++i;
      continue;
    }
    if (c == '.' || c == '^' || c == '$') {
      if (depth == 0) endRun();
      lastCharSize = 0;
      ++i;
      continue;
    }
    std::string_view character;
    if (c == '\\') {
      if (i + 1 >= expression.size()) return false;
      const auto next = static_cast<unsigned char>(expression[i + 1]);
      if (std::isalnum(next) != 0) {
        if (std::strchr("dDsSwWbBhHntrfvAzZ", next) == nullptr) return false;
        if (depth == 0) endRun();
        lastCharSize = 0;
        i += 2;
        continue;
      }
      const std::size_t size = IsSjisLead(next) ? 2 : 1;
      if (i + 1 + size > expression.size()) return false;
      character = expression.substr(i + 1, size);
      i += 1 + size;
    } else {
      const std::size_t size = IsSjisLead(c) ? 2 : 1;
      if (i + size > expression.size()) return false;
      character = expression.substr(i, size);
      i += size;
    }
    if (depth == 0) {
      run.append(character);
      lastCharSize = character.size();
    }
  }
  if (depth != 0) return false;
  endRun();
  return true;
}

}  // namespace

std::vector<std::string> RequiredTexts(std::string_view pattern) {
  std::string_view expression;
  std::string_view flags;
  std::vector<std::string> texts;
  if (!SplitSlashPattern(pattern, expression, flags)) return texts;
  if (flags.find('i') != std::string_view::npos || flags.find('x') != std::string_view::npos) return texts;
  if (!CollectRequiredTexts(expression, texts)) texts.clear();
  return texts;
}

CBregOnig::CBregOnig(bool load, MatchPath path)
    : loaded_(load && InitialiseEngine()), fast_(path == MatchPath::FastWhereSimple) {}

CBregOnig::~CBregOnig() { loaded_ = false; }

const char* CBregOnig::WholeCharacterEnd(const char* start, const char* end) {
  // A page cut in the middle of a double-byte character must not let the
  // engine read past end.
  const char* p = end;
  while (p > start && IsSjisLead(static_cast<unsigned char>(p[-1]))) --p;
  return ((end - p) % 2 == 0) ? end : end - 1;
}

BRegexp* CBregOnig::Begin(std::string_view pattern, const char* start, const char*& end, BRegexp** handle,
                         char* message, TextEnd endKind) const {
  SetMessage(message, "");
  if (!loaded_) {
    SetMessage(message, "regular-expression engine not loaded");
    return nullptr;
  }
  if (handle == nullptr || start == nullptr || end == nullptr || end < start) {
    SetMessage(message, "invalid argument");
    return nullptr;
  }
  BRegexp* rx = PrepareHandle(pattern, handle, message);
  if (rx != nullptr && endKind == TextEnd::MayCutCharacter) end = WholeCharacterEnd(start, end);
  return rx;
}

int CBregOnig::BMatch(std::string_view pattern, const char* start, const char* end, BRegexp** handle,
                      char* message, TextEnd endKind) const {
  BRegexp* rx = Begin(pattern, start, end, handle, message, endKind);
  if (rx == nullptr) return -1;
  return Search(*rx, start, start, end, message, fast_);
}

int CBregOnig::BSplit(std::string_view pattern, const char* start, const char* end, int limit, BRegexp** handle,
                      char* message) const {
  BRegexp* rx = Begin(pattern, start, end, handle, message);
  if (rx == nullptr) return -1;
  rx->splitp.clear();

  const char* pieceStart = start;
  const char* from = start;
  while (from <= end) {
    if (limit > 0 && static_cast<int>(rx->splitp.size()) == limit - 1) break;
    const int rc = Search(*rx, start, from, end, message, fast_);
    if (rc < 0) return -1;
    if (rc == 0) break;
    const char* matchStart = rx->startp[0];
    const char* matchEnd = rx->endp[0];
    if (matchEnd == pieceStart) {
      // An empty match where the piece begins splits nothing: look again one
      // character further on.
      if (from >= end) break;
      from += (IsSjisLead(static_cast<unsigned char>(*from)) && from + 1 < end) ? 2 : 1;
      continue;
    }
    rx->splitp.emplace_back(pieceStart, matchStart);
    pieceStart = matchEnd;
    from = matchEnd;
  }
  rx->splitp.emplace_back(pieceStart, end);
  while (!rx->splitp.empty() && rx->splitp.back().empty()) rx->splitp.pop_back();
  return static_cast<int>(rx->splitp.size());
}

void CBregOnig::BRegfree(BRegexp* handle) const {
  if (handle == nullptr) return;
  CompiledPool::Instance().Give(std::move(handle->compiled));
  delete handle;
}

const char* CBregOnig::BRegexpVersion(int) const { return loaded_ ? onig_version() : ""; }

}  // namespace tav
