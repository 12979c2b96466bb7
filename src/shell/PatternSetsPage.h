#pragma once
// Page 9 "bregexp": whether HTML is converted with the pattern sets, the
// regular-expression engine's state, and a working copy of the sets with the
// one shown in the page's fields.

#include <cstddef>
#include <string>
#include <vector>

#include "config/SettingValues.h"
#include "shell/WorkingList.h"

namespace tav {

class CBregOnig;

class PatternSetsPage {
 public:
  static constexpr std::size_t kMaxSets = 100;

  void Load(const SettingValues& v, const CBregOnig& engine);
  void Store(SettingValues& v) const;

  // The switch can be used only with the engine loaded.
  bool ModeEnabled() const { return engineLoaded_; }
  // The engine's version text, or the text saying it could not be loaded.
  const std::u16string& EngineText() const { return engineText_; }

  const WorkingList<CRegexpPatternInfo>& Sets() const { return sets_; }
  // "%d. %s" of the position from 1 and the name.
  std::vector<std::u16string> Labels() const;
  // Shows the set at `index` in the fields.
  void Select(int index);
  // Appends "noname" with empty patterns while fewer than 100 exist;
  // selected and shown.
  bool Add();
  // Deletes the selected set while at least two exist; the previous
  // position (or the first) is selected and shown.
  bool Delete();
  // The built-in sets, the first selected and shown.
  void Reset();
  // Stores the six fields into the selected set (the name cut to 255).
  bool Update();

  bool mode = true;
  CRegexpPatternInfo shown;

 private:
  WorkingList<CRegexpPatternInfo> sets_;
  bool engineLoaded_ = false;
  std::u16string engineText_;
};

}  // namespace tav
