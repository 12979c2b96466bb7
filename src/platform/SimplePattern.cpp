#include "platform/SimplePattern.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/ByteSearch.h"

namespace tav {
namespace {

using Byte = unsigned char;

bool IsLead(Byte c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsTrail(Byte c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// More tokens than this and the pattern is left to the engine.
constexpr std::size_t kMaxTokens = 32;

bool IsQuantifier(std::string_view e, std::size_t i) { return i < e.size() && std::strchr("*+?{", e[i]) != nullptr; }

// Punctuation that stands for itself after a backslash.
bool IsEscapedLiteral(char c) { return c != '\0' && std::strchr("/.()[]{}*+?|^$\\-\"=:,;!#%~@_ ", c) != nullptr; }

// ASCII that stands for itself outside brackets.
bool IsPlainLiteral(char c) {
  return c >= 0x20 && c <= 0x7E && std::strchr(".*+?()[]{}|^$\\", c) == nullptr;
}

using Token = SimplePattern::Token;

#if defined(__x86_64__)
// Lead bytes among the 32 at q whose next byte cannot trail a lead byte
// (reads q .. q + 32).
__attribute__((target("avx2"))) unsigned BrokenPairsWide(const Byte* q) {
  const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
  const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 1));
  const __m256i v = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)), flip);
  const __m256i w = _mm256_xor_si256(raw, flip);
  // Seen as signed after the flip: leads 0x81-0x9F and 0xE0-0xFC; bytes
  // that cannot trail below 0x40, 0x7F and 0xFD-0xFF.
  const __m256i lead = _mm256_or_si256(
      _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(0x00)), _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), v)),
      _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(0x5F)), _mm256_cmpgt_epi8(_mm256_set1_epi8(0x7D), v)));
  const __m256i bad = _mm256_or_si256(
      _mm256_or_si256(_mm256_cmpgt_epi8(_mm256_set1_epi8(-0x40), w), _mm256_cmpgt_epi8(w, _mm256_set1_epi8(0x7C))),
      _mm256_cmpeq_epi8(raw, _mm256_set1_epi8(0x7F)));
  return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(lead, bad)));
}

bool Wide() {
  static const bool wide = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return wide;
}
#endif

// The first occurrence of `needle` in [p, end), or null.
const Byte* SearchBytes(const Byte* p, const Byte* end, const std::string& needle) {
  const std::string_view text(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
  const std::size_t at = FindBytes(text, needle);
  return at == std::string_view::npos ? nullptr : p + at;
}

// Reads "*", "+" and, where allowed, a lazy "?" after a repeated set.
bool ReadQuantifier(std::string_view e, std::size_t& i, Token& token, bool lazyAllowed) {
  if (i >= e.size() || (e[i] != '*' && e[i] != '+')) return false;
  token.atLeastOne = e[i] == '+';
  ++i;
  if (i < e.size() && e[i] == '?') {
    if (!lazyAllowed) return false;
    token.lazy = true;
    ++i;
  }
  return !IsQuantifier(e, i);  // possessive and stacked quantifiers
}

void AddSpace(Token& token) {
  for (Byte c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20}) token.single[c] = true;
}

void AddDigits(Token& token) {
  for (Byte c = '0'; c <= '9'; ++c) token.single[c] = true;
}

// A bracket class of ASCII members, `i` just past "[".
bool ReadClass(std::string_view e, std::size_t& i, Token& token) {
  bool negated = false;
  if (i < e.size() && e[i] == '^') {
    negated = true;
    ++i;
  }
  bool any = false;
  while (true) {
    if (i >= e.size()) return false;
    const char c = e[i];
    if (c == ']') {
      if (!any) return false;
      ++i;
      break;
    }
    if (c == '\\') {
      if (i + 1 >= e.size()) return false;
      const char n = e[i + 1];
      if (n == 's') {
        AddSpace(token);
      } else if (n == 'd') {
        AddDigits(token);
      } else if (n == 't') {
        token.single[0x09] = true;
      } else if (n == 'n') {
        token.single[0x0A] = true;
      } else if (n == 'r') {
        token.single[0x0D] = true;
      } else if (IsEscapedLiteral(n)) {
        token.single[static_cast<Byte>(n)] = true;
      } else {
        return false;
      }
      i += 2;
      any = true;
      continue;
    }
    if (c < 0x20 || c > 0x7E || std::strchr("[]\\^-&", c) != nullptr) return false;
    Byte low = static_cast<Byte>(c);
    Byte high = low;
    if (i + 2 < e.size() && e[i + 1] == '-' && e[i + 2] != ']') {
      const char h = e[i + 2];
      if (h < 0x20 || h > 0x7E || std::strchr("[]\\^-&", h) != nullptr || static_cast<Byte>(h) < low) return false;
      high = static_cast<Byte>(h);
      i += 3;
    } else {
      i += 1;
    }
    for (unsigned b = low; b <= high; ++b) token.single[b] = true;
    any = true;
  }
  if (negated) {
    for (auto& member : token.single) member = !member;
  }
  token.multibyte = negated;
  return true;
}

// One repeated set: ".", "\d" or a bracket class with its quantifier.
bool ReadRepeat(std::string_view e, std::size_t& i, Token& token) {
  token.kind = Token::Kind::Repeat;
  if (i >= e.size()) return false;
  if (e[i] == '.') {
    ++i;
    token.dot = true;
    token.single.fill(true);
    token.single[0x0A] = false;
    token.multibyte = true;
    return ReadQuantifier(e, i, token, true);
  }
  if (e[i] == '\\' && i + 1 < e.size() && e[i + 1] == 'd') {
    i += 2;
    AddDigits(token);
    return ReadQuantifier(e, i, token, false);
  }
  if (e[i] == '[') {
    ++i;
    return ReadClass(e, i, token) && ReadQuantifier(e, i, token, false);
  }
  return false;
}

}  // namespace

std::optional<SimplePattern> SimplePattern::Parse(std::string_view e) {
  SimplePattern pattern;
  auto addLiteral = [&](std::string_view text) {
    if (pattern.tokens_.empty() || pattern.tokens_.back().kind != Token::Kind::Literal) {
      pattern.tokens_.emplace_back();
    }
    pattern.tokens_.back().literal.append(text);
  };
  std::size_t i = 0;
  while (i < e.size()) {
    const char c = e[i];
    const auto b = static_cast<Byte>(c);
    if (c == '(') {
      if (i + 1 < e.size() && e[i + 1] == '?') return std::nullopt;
      ++i;
      Token token;
      token.group = ++pattern.groups_;
      if (!ReadRepeat(e, i, token) || i >= e.size() || e[i] != ')') return std::nullopt;
      ++i;
      if (IsQuantifier(e, i)) return std::nullopt;
      pattern.tokens_.push_back(token);
    } else if (c == '.' || (c == '\\' && i + 1 < e.size() && e[i + 1] == 'd') || c == '[') {
      Token token;
      if (!ReadRepeat(e, i, token)) return std::nullopt;
      pattern.tokens_.push_back(token);
    } else if (c == '\\') {
      if (i + 1 >= e.size() || !IsEscapedLiteral(e[i + 1])) return std::nullopt;
      addLiteral(e.substr(i + 1, 1));
      i += 2;
      if (IsQuantifier(e, i)) return std::nullopt;
    } else if (IsPlainLiteral(c)) {
      addLiteral(e.substr(i, 1));
      i += 1;
      if (IsQuantifier(e, i)) return std::nullopt;
    } else if (IsLead(b) && i + 1 < e.size() && IsTrail(static_cast<Byte>(e[i + 1]))) {
      addLiteral(e.substr(i, 2));
      i += 2;
      if (IsQuantifier(e, i)) return std::nullopt;
    } else {
      return std::nullopt;
    }
    if (pattern.tokens_.size() > kMaxTokens) return std::nullopt;
  }
  if (pattern.tokens_.empty()) return std::nullopt;
  return pattern;
}

namespace {

// One search: the text, the budget and what the search has learnt so far.
class Searcher {
 public:
  enum class Step { Match, Fail, GiveUp };

  Searcher(const std::vector<Token>& tokens, const Byte* from, const Byte* end, const SimplePattern::Budget& budget,
           const char** starts, const char** ends)
      : tokens_(tokens), from_(from), end_(end), budget_(budget), starts_(starts), ends_(ends), seen_(from) {
    // Only the caches of the pattern's own tokens are cleared: a search is
    // often short, and clearing all of them would cost more than it.
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      literals_[i] = LiteralCache{};
      newlines_[i] = NewlineCache{};
    }
  }

  SimplePattern::Outcome Run() {
    using Outcome = SimplePattern::Outcome;
    const Step step = tokens_[0].kind == Token::Kind::Literal ? RunFromLiteral() : RunEverywhere();
    if (step == Step::GiveUp) return Outcome::GaveUp;
    // The engine reads a lead byte followed by a byte that cannot trail it
    // differently from a plain walk; such text is left to it.
    if (HasBrokenPair(std::min(seen_, end_))) return Outcome::GaveUp;
    if (step == Step::Fail) return Outcome::NoMatch;
    starts_[0] = reinterpret_cast<const char*>(matchStart_);
    ends_[0] = reinterpret_cast<const char*>(matchEnd_);
    return Outcome::Match;
  }

 private:
  // Plain structs, cleared by the constructor for the tokens in use.
  struct LiteralCache {  // the first occurrence of a literal at or after `from`
    const Byte* from;
    const Byte* hit;
  };
  struct NewlineCache {  // [from, to) holds no newline; a newline at `to` if *to is one
    const Byte* from;
    const Byte* to;
  };

  // Start positions are where the leading literal occurs.
  Step RunFromLiteral() {
    const std::string& first = tokens_[0].literal;
    const Byte* s = from_;
    while (true) {
      const Byte* hit = FindLiteral(0, first, s);
      if (hit == nullptr) return Step::Fail;
      if (auto step = Attempt(hit); step != Step::Fail) return step;
      s = hit + CharLength(hit);  // within the literal found there
    }
  }

  // Every character boundary is a start position.
  Step RunEverywhere() {
    // No shortcut for a literal that occurs nowhere: where the engine does
    // not take one, it may run out of retries instead of finding nothing.
    const Byte* s = from_;
    while (true) {
      if (auto step = Attempt(s); step != Step::Fail) return step;
      if (s >= end_) return Step::Fail;
      See(s + 1);
      const std::size_t n = CharLength(s);
      if (n > static_cast<std::size_t>(end_ - s)) return Step::Fail;  // a character cut by the end
      s += n;
    }
  }

  Step Attempt(const Byte* s) {
    attemptSteps_ = 0;
    if (!Charge(1)) return Step::GiveUp;
    matchStart_ = s;
    return Match(0, s);
  }

  // Counts work; false once the budget is spent.
  bool Charge(std::size_t n) {
    steps_ += n;
    attemptSteps_ += n;
    return steps_ <= budget_.perCall && attemptSteps_ <= budget_.perStart;
  }

  void See(const Byte* p) { seen_ = std::max(seen_, std::min(p, end_)); }

  std::size_t CharLength(const Byte* p) const { return (p < end_ && IsLead(*p)) ? 2 : 1; }

  // Bytes of the character at p when it is in the token's set, else 0.
  std::size_t InSet(const Token& t, const Byte* p) {
    if (p >= end_) return 0;
    See(p + 1);
    if (IsLead(*p)) return (p + 2 <= end_ && t.multibyte) ? 2 : 0;
    return t.single[*p] ? 1 : 0;
  }

  // The last character boundary at or before x, counting from the boundary lo.
  const Byte* AlignDown(const Byte* lo, const Byte* x) {
    const Byte* p = x;
    while (p > lo && IsLead(p[-1])) --p;
    Charge(static_cast<std::size_t>(x - p));
    return x - ((x - p) & 1);
  }

  // The first boundary at or after `at` (a boundary) where token i's literal
  // occurs.
  const Byte* FindLiteral(std::size_t i, const std::string& literal, const Byte* at) {
    LiteralCache& cache = literals_[i];
    while (true) {
      const Byte* hit;
      if (cache.from != nullptr && at >= cache.from && (cache.hit == nullptr || at <= cache.hit)) {
        hit = cache.hit;
      } else {
        hit = SearchBytes(at, end_, literal);
        Charge(static_cast<std::size_t>((hit != nullptr ? hit : end_) - at));
        cache = {at, hit};
      }
      if (hit == nullptr) {
        See(end_);
        return nullptr;
      }
      See(hit + literal.size());
      if (AlignDown(at, hit) == hit) return hit;
      at = hit + 1;  // hit is a trail byte, so a character starts after it
    }
  }

  // The first newline in [at, limit), for the repeat at token i.
  const Byte* NewlineIn(std::size_t i, const Byte* at, const Byte* limit) {
    NewlineCache& cache = newlines_[i];
    const Byte* scan = at;
    if (cache.from != nullptr && at >= cache.from && at <= cache.to) {
      if (limit <= cache.to) return nullptr;
      if (cache.to < end_ && *cache.to == '\n') return cache.to;
      scan = cache.to;
    } else {
      cache.from = at;
    }
    const auto* nl = static_cast<const Byte*>(std::memchr(scan, '\n', static_cast<std::size_t>(limit - scan)));
    cache.to = nl != nullptr ? nl : limit;
    Charge(static_cast<std::size_t>(cache.to - scan));
    See(nl != nullptr ? nl + 1 : limit);
    return nl;
  }

  Step Continue(std::size_t i, const Byte* p, const Byte* e) {
    const Token& t = tokens_[i];
    if (t.group > 0) {
      starts_[t.group] = reinterpret_cast<const char*>(p);
      ends_[t.group] = reinterpret_cast<const char*>(e);
    }
    return Match(i + 1, e);
  }

  Step Match(std::size_t i, const Byte* p) {
    while (i < tokens_.size() && tokens_[i].kind == Token::Kind::Literal) {
      const std::string& literal = tokens_[i].literal;
      See(p + literal.size());
      if (static_cast<std::size_t>(end_ - p) < literal.size() || std::memcmp(p, literal.data(), literal.size()) != 0) {
        return Step::Fail;
      }
      p += literal.size();
      ++i;
    }
    if (i == tokens_.size()) {
      matchEnd_ = p;
      return Step::Match;
    }
    if (!Charge(1)) return Step::GiveUp;
    const Token& t = tokens_[i];
    const Token* next = i + 1 < tokens_.size() ? &tokens_[i + 1] : nullptr;
    const std::string* literal = (next != nullptr && next->kind == Token::Kind::Literal) ? &next->literal : nullptr;
    if (t.lazy) return literal != nullptr ? LazyDotToLiteral(i, p, *literal) : Lazy(i, p);
    if (t.dot) return literal != nullptr ? GreedyDotToLiteral(i, p, *literal) : GreedyDot(i, p);
    return GreedySet(i, p, literal);
  }

  // Where a repeat of `t` from p ends at the earliest: at p, or after one
  // character for "+"; null when that character is not in the set.
  const Byte* ShortestEnd(const Token& t, const Byte* p) {
    if (!t.atLeastOne) return p;
    const std::size_t n = InSet(t, p);
    return n == 0 ? nullptr : p + n;
  }

  // Lazy ".": the shortest extent first, one character longer each time.
  Step Lazy(std::size_t i, const Byte* p) {
    const Token& t = tokens_[i];
    const Byte* e = ShortestEnd(t, p);
    if (e == nullptr) return Step::Fail;
    while (true) {
      if (auto step = Continue(i, p, e); step != Step::Fail) return step;
      const std::size_t n = InSet(t, e);
      if (n == 0) return Step::Fail;
      e += n;
      if (!Charge(1)) return Step::GiveUp;
    }
  }

  // Lazy "." before a literal: only the places where the literal occurs can
  // end it, so it jumps from one to the next, stopping at a newline.
  Step LazyDotToLiteral(std::size_t i, const Byte* p, const std::string& literal) {
    const Token& t = tokens_[i];
    const Byte* e = ShortestEnd(t, p);
    if (e == nullptr) return Step::Fail;
    while (true) {
      const Byte* hit = FindLiteral(i + 1, literal, e);
      if (hit == nullptr) return Step::Fail;
      // The engine steps over every character up to the hit, found in the
      // cache or not; the budget counts them so that it runs out no later
      // than the engine's retry limit would.
      if (!Charge(static_cast<std::size_t>(hit - e))) return Step::GiveUp;
      if (NewlineIn(i, e, hit) != nullptr) return Step::Fail;
      if (auto step = Continue(i, p, hit); step != Step::Fail) return step;
      e = hit + CharLength(hit);
      if (!Charge(1)) return Step::GiveUp;
    }
  }

  // The longest extent of "." from p: up to the first newline or the end.
  bool DotExtent(std::size_t i, const Byte* p, const Byte*& shortest, const Byte*& longest) {
    const Byte* nl = NewlineIn(i, p, end_);
    longest = AlignDown(p, nl != nullptr ? nl : end_);
    shortest = p;
    if (tokens_[i].atLeastOne) {
      if (longest == p) return false;
      shortest = p + CharLength(p);
    }
    return true;
  }

  // Greedy ".": the longest extent first, one character shorter each time.
  Step GreedyDot(std::size_t i, const Byte* p) {
    const Byte* shortest;
    const Byte* e;
    if (!DotExtent(i, p, shortest, e)) return Step::Fail;
    while (true) {
      if (auto step = Continue(i, p, e); step != Step::Fail) return step;
      if (e == shortest) return Step::Fail;
      e = AlignDown(p, e - 1);
      if (!Charge(1)) return Step::GiveUp;
    }
  }

  // Greedy "." before a literal: only the places where the literal occurs,
  // from the last one back.
  Step GreedyDotToLiteral(std::size_t i, const Byte* p, const std::string& literal) {
    const Byte* shortest;
    const Byte* longest;
    if (!DotExtent(i, p, shortest, longest)) return Step::Fail;
    const Byte* top = longest < end_ ? longest + 1 : end_;  // candidates lie in [shortest, top)
    const auto first = static_cast<Byte>(literal[0]);
    while (top > shortest) {
      const auto* hit =
          static_cast<const Byte*>(memrchr(shortest, first, static_cast<std::size_t>(top - shortest)));
      if (!Charge(static_cast<std::size_t>(top - (hit != nullptr ? hit : shortest)))) return Step::GiveUp;
      if (hit == nullptr) return Step::Fail;
      if (static_cast<std::size_t>(end_ - hit) >= literal.size() &&
          std::memcmp(hit, literal.data(), literal.size()) == 0 && AlignDown(p, hit) == hit) {
        if (auto step = Continue(i, p, hit); step != Step::Fail) return step;
      }
      top = hit;
    }
    return Step::Fail;
  }

  // Greedy "\d" or class: the longest extent first, one character shorter
  // each time.
  Step GreedySet(std::size_t i, const Byte* p, const std::string* literal) {
    const Token& t = tokens_[i];
    const Byte* e = p;
    while (const std::size_t n = InSet(t, e)) e += n;
    if (!Charge(static_cast<std::size_t>(e - p))) return Step::GiveUp;
    const Byte* shortest = p;
    if (t.atLeastOne) {
      if (e == p) return Step::Fail;
      shortest = p + CharLength(p);
    }
    while (true) {
      if (literal == nullptr || (e < end_ && *e == static_cast<Byte>((*literal)[0]))) {
        if (auto step = Continue(i, p, e); step != Step::Fail) return step;
      }
      if (e == shortest) return Step::Fail;
      e = t.multibyte ? AlignDown(p, e - 1) : e - 1;  // without two-byte members every character is one byte
      if (!Charge(1)) return Step::GiveUp;
    }
  }

  // Whether a character of [from, to) is a lead byte followed by a byte that
  // cannot trail it.
  bool HasBrokenPair(const Byte* to) {
    const Byte* known = from_;  // a character boundary at or before every candidate
    auto broken = [&](const Byte* h) {
      if (h < known) return false;
      const Byte* p = h;
      while (p > known && IsLead(p[-1])) --p;
      if (((h - p) & 1) != 0) {  // h trails a lead byte
        known = h + 1;
        return false;
      }
      return true;
    };
    const Byte* q = from_;
#if defined(__x86_64__)
    if (Wide()) {
      for (; q < to && end_ - q >= 33; q += 32) {
        for (unsigned mask = BrokenPairsWide(q); mask != 0; mask &= mask - 1) {
          const Byte* h = q + __builtin_ctz(mask);
          if (h >= to) break;
          if (broken(h)) return true;
        }
      }
    }
#endif
    for (; q < to && q + 1 < end_; ++q) {
      if (IsLead(q[0]) && !IsTrail(q[1]) && broken(q)) return true;
    }
    return false;
  }

  const std::vector<Token>& tokens_;
  const Byte* const from_;
  const Byte* const end_;
  const SimplePattern::Budget& budget_;
  const char** starts_;
  const char** ends_;
  const Byte* seen_;  // one past the furthest byte read
  const Byte* matchStart_ = nullptr;
  const Byte* matchEnd_ = nullptr;
  std::size_t steps_ = 0;
  std::size_t attemptSteps_ = 0;
  std::array<LiteralCache, kMaxTokens + 1> literals_;
  std::array<NewlineCache, kMaxTokens + 1> newlines_;
};

}  // namespace

SimplePattern::Outcome SimplePattern::Search(const char* from, const char* end, const Budget& budget,
                                             const char** starts, const char** ends) const {
  Searcher searcher(tokens_, reinterpret_cast<const Byte*>(from), reinterpret_cast<const Byte*>(end), budget, starts,
                    ends);
  return searcher.Run();
}

}  // namespace tav
