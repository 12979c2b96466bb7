#pragma once
// A matcher for the small family of patterns the page converters use:
// literal characters, "." with a lazy or greedy "*" or "+", "\d" and ASCII
// bracket classes with a greedy "*" or "+", and capture groups around one
// such repeat. It walks Shift_JIS by lead byte as the engine does and follows
// the engine's leftmost, first-alternative-wins order, so its answer is the
// engine's answer; where it cannot be sure of that (a lead byte followed by a
// byte that cannot trail it, or more work than its budget) it gives up and
// the caller asks the engine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tav {

class SimplePattern {
 public:
  // One element of the pattern: a run of literal characters, or a repeated
  // character set, possibly captured as a group of its own.
  struct Token {
    enum class Kind : std::uint8_t { Literal, Repeat };
    Kind kind = Kind::Literal;
    std::string literal;
    // Repeat: which one-byte characters and whether two-byte characters
    // belong to the set; `dot` when it is "." (anything but a newline).
    std::array<bool, 256> single{};
    bool multibyte = false;
    bool dot = false;
    bool atLeastOne = false;
    bool lazy = false;
    int group = 0;  // capture number, 0 when not captured
  };

  // The work a search may do before it gives up: steps within one start
  // position, and steps in the whole call.
  struct Budget {
    std::size_t perStart = 0;
    std::size_t perCall = 0;
  };

  enum class Outcome { Match, NoMatch, GaveUp };

  // The pattern for `expression` (without delimiters or flags), or nothing
  // when it goes beyond the family.
  static std::optional<SimplePattern> Parse(std::string_view expression);

  int Groups() const { return groups_; }

  // Searches [from, end) with the characters counted from `from`. On a
  // match, starts[g] and ends[g] (Groups() + 1 entries each, group 0 the
  // whole match) are filled. NoMatch is the result of a complete search.
  Outcome Search(const char* from, const char* end, const Budget& budget, const char** starts,
                 const char** ends) const;

 private:
  std::vector<Token> tokens_;
  int groups_ = 0;
};

}  // namespace tav
