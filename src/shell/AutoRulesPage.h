#pragma once
// Page 7 "自動切替": a working copy of the automatic mode switch's rules and
// the rule text and mode shown in the page's fields.

#include <cstddef>
#include <string>

#include "config/SettingValues.h"
#include "shell/WorkingList.h"

namespace tav {

class AutoRulesPage {
 public:
  static constexpr std::size_t kMaxRules = 99;
  // The modes offered: "直接" to "xDAT" (0-5); "自動切替" is not.
  static constexpr int kOfferedModes = 6;

  void Load(const SettingValues& v);
  void Store(SettingValues& v) const;

  const WorkingList<CAutoRule>& Rules() const { return rules_; }
  // Shows the rule at `index` in the fields.
  void Select(int index);
  bool MoveUp() { return rules_.MoveUp(); }
  bool MoveDown() { return rules_.MoveDown(); }
  // Appends "hoge" with mode 2 while fewer than 99 rules exist.
  bool Add();
  // Deletes the selected rule; nothing is selected afterwards.
  bool Delete() { return rules_.DeleteSelected(1, AfterDelete::SelectNone); }
  // Stores the fields into the selected rule (the text cut to 47 characters;
  // with no offered mode chosen the rule keeps its mode).
  bool Update();

  std::u16string shownRule;
  int shownMode = 0;  // 0-5, or -1 when the rule's mode is not offered

 private:
  WorkingList<CAutoRule> rules_;
};

}  // namespace tav
