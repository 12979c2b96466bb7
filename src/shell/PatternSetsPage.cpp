#include "shell/PatternSetsPage.h"

#include "config/PatternSets.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "shell/SettingsPages.h"

namespace tav {

void PatternSetsPage::Load(const SettingValues& v, const CBregOnig& engine) {
  mode = v.BregexpMode != 0;
  engineLoaded_ = engine.Loaded();
  engineText_ =
      engineLoaded_ ? Utf8ToUtf16(engine.BRegexpVersion(0)) : u"bregexp.dllの読み込みに失敗しました.";
  sets_.Replace(v.PatternSets, 0);
  Select(0);
}

void PatternSetsPage::Store(SettingValues& v) const {
  v.BregexpMode = mode ? 1 : 0;
  v.PatternSets = sets_.Items();
}

std::vector<std::u16string> PatternSetsPage::Labels() const {
  std::vector<std::u16string> labels;
  for (const CRegexpPatternInfo& set : sets_.Items()) {
    labels.push_back(NumberedLabel(static_cast<int>(labels.size()) + 1, set.label));
  }
  return labels;
}

void PatternSetsPage::Select(int index) {
  sets_.Select(index);
  shown = sets_.SelectedItem() != nullptr ? *sets_.SelectedItem() : CRegexpPatternInfo{};
}

bool PatternSetsPage::Add() {
  CRegexpPatternInfo added;
  added.label = u"noname";
  if (!sets_.Append(std::move(added), kMaxSets, true)) return false;
  Select(sets_.Selected());
  return true;
}

bool PatternSetsPage::Delete() {
  if (!sets_.DeleteSelected(2, AfterDelete::SelectPrevious)) return false;
  Select(sets_.Selected());
  return true;
}

void PatternSetsPage::Reset() {
  std::vector<CRegexpPatternInfo> defaults;
  FillDefaultPatternSets(defaults);
  sets_.Replace(std::move(defaults), 0);
  Select(0);
}

bool PatternSetsPage::Update() {
  CRegexpPatternInfo* set = sets_.SelectedItem();
  if (set == nullptr) return false;
  *set = shown;
  set->label = TruncatedText(shown.label, kPatternLabelMax);
  return true;
}

}  // namespace tav
