#pragma once
// The regular-expression bridge: slash-delimited Perl-like patterns matched
// on Shift_JIS bytes, with the calls the page converters rely on. The engine
// behind it is Oniguruma with its Shift_JIS encoding and Perl syntax, so a
// trail byte is never taken for an ASCII character.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tav {

// Size of the message buffer BMatch and BSplit write their error text into.
inline constexpr std::size_t kBregMessageSize = 80;

// A compiled pattern and the groups of its last match. BMatch creates it,
// reuses it for the same pattern text and BRegfree releases it.
struct BRegexp {
  BRegexp();
  ~BRegexp();
  BRegexp(const BRegexp&) = delete;
  BRegexp& operator=(const BRegexp&) = delete;

  // Number of groups of the pattern (group 0, the whole match, not counted).
  int nparens = 0;
  // Start and end of group 0 and of each group in the searched text, both
  // nparens + 1 long after a match; null for a group that took no part.
  std::vector<const char*> startp;
  std::vector<const char*> endp;
  // Pieces of the text after BSplit.
  std::vector<std::string> splitp;

  struct Compiled;
  std::unique_ptr<Compiled> compiled;
};

// Whether the end handed to a match may cut a double-byte character. The
// bridge pulls such an end back to a whole character, stepping back over the
// trailing run of lead-range bytes; a caller that matches many times against
// the same end finds that boundary once (WholeCharacterEnd) and says so.
enum class TextEnd { MayCutCharacter, WholeCharacter };

// Which matcher searches a pattern. Simple patterns (literal text, "."
// with "*", "+", "*?" or "+?", greedy "\d" and ASCII classes, plain groups
// around one of those) go to a fast matcher that gives the engine's answer
// byte for byte and hands anything it is not sure of to the engine;
// EngineOnly sends every pattern to the engine, for comparisons.
enum class MatchPath { FastWhereSimple, EngineOnly };

class CBregOnig {
 public:
  // `load` false leaves the engine unloaded, as when the library is missing.
  explicit CBregOnig(bool load = true, MatchPath path = MatchPath::FastWhereSimple);
  virtual ~CBregOnig();
  CBregOnig(const CBregOnig&) = delete;
  CBregOnig& operator=(const CBregOnig&) = delete;

  bool Loaded() const { return loaded_; }

  // Searches [start, end) for `pattern` ("/expression/flags"). `handle` is
  // in/out: null for a fresh match, or a handle of an earlier call that is
  // reused when its pattern text is the same (recompiled otherwise). Returns
  // 1 on a match (positions in *handle), 0 when there is none, -1 on an error
  // whose text goes to `message` (kBregMessageSize bytes, may be null). The
  // handle, when one was made, must be released with BRegfree in every case.
  int BMatch(std::string_view pattern, const char* start, const char* end, BRegexp** handle, char* message,
             TextEnd endKind = TextEnd::MayCutCharacter) const;

  // One past the last whole Shift_JIS character of [start, end): bytes after
  // a byte that cannot be a lead byte start a character, and a run of
  // lead-range bytes pairs up from there.
  static const char* WholeCharacterEnd(const char* start, const char* end);

  // Splits [start, end) at every match of `pattern` into (*handle)->splitp;
  // `limit` above 0 caps the number of pieces. Returns the number of pieces
  // or -1 on an error.
  int BSplit(std::string_view pattern, const char* start, const char* end, int limit, BRegexp** handle,
             char* message) const;

  void BRegfree(BRegexp* handle) const;

  // The engine's own version text (empty when not loaded).
  const char* BRegexpVersion(int unused) const;

 private:
  // The checks every call makes, and the handle for `pattern`: null (with
  // the reason in `message`) when the call cannot go on. `end` is pulled
  // back to a whole character.
  BRegexp* Begin(std::string_view pattern, const char* start, const char*& end, BRegexp** handle, char* message,
                 TextEnd endKind = TextEnd::MayCutCharacter) const;

  bool loaded_ = false;
  bool fast_ = true;
};

// Texts that every match of `pattern` must contain: the literal runs that
// stand outside any group and are not made optional by a quantifier. Empty
// when the pattern goes beyond that simple reading (alternation at the top,
// inline options, intervals, the "i" or "x" flag, escapes other than the
// plain character classes), so a search may be skipped only when one of the
// returned texts is missing from the text.
std::vector<std::string> RequiredTexts(std::string_view pattern);

// Owns a handle of the bridge and releases it when it goes out of scope.
class BRegexpHolder {
 public:
  explicit BRegexpHolder(const CBregOnig& engine) : engine_(engine) {}
  ~BRegexpHolder() { Release(); }
  BRegexpHolder(const BRegexpHolder&) = delete;
  BRegexpHolder& operator=(const BRegexpHolder&) = delete;

  BRegexp** Out() { return &handle_; }
  const BRegexp* Get() const { return handle_; }
  void Release() {
    engine_.BRegfree(handle_);
    handle_ = nullptr;
  }

 private:
  const CBregOnig& engine_;
  BRegexp* handle_ = nullptr;
};

}  // namespace tav
