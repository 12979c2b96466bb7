#pragma once
// The regular-expression bridge: slash-delimited Perl-like patterns matched
// on Shift_JIS bytes, with the calls the page converters rely on.

#include <string>

namespace tav {

struct BRegexp;  // a compiled pattern and the groups of its last match

class CBregOnig {
 public:
  // `load` false leaves the engine unloaded, as when the library is missing.
  explicit CBregOnig(bool load = true);
  virtual ~CBregOnig();
  CBregOnig(const CBregOnig&) = delete;
  CBregOnig& operator=(const CBregOnig&) = delete;

  bool Loaded() const { return loaded_; }

 private:
  bool loaded_ = false;
};

}  // namespace tav
