#include "shell/AutoRulesPage.h"

namespace tav {

void AutoRulesPage::Load(const SettingValues& v) {
  rules_.Replace(v.AutoRules, -1);
  shownRule.clear();
  shownMode = 0;
}

void AutoRulesPage::Store(SettingValues& v) const { v.AutoRules = rules_.Items(); }

void AutoRulesPage::Select(int index) {
  if (!rules_.Select(index)) return;
  const CAutoRule& rule = *rules_.SelectedItem();
  shownRule = rule.rule;
  shownMode = rule.mode >= 0 && rule.mode < kOfferedModes ? rule.mode : -1;
}

bool AutoRulesPage::Add() { return rules_.Append(CAutoRule{u"hoge", 2}, kMaxRules, false); }

bool AutoRulesPage::Update() {
  CAutoRule* rule = rules_.SelectedItem();
  if (rule == nullptr) return false;
  rule->rule = TruncatedText(shownRule, kAutoRuleTextMax);
  if (shownMode >= 0 && shownMode < kOfferedModes) rule->mode = shownMode;
  return true;
}

}  // namespace tav
