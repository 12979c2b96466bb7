#include "shell/ApiProfilesPage.h"

#include "shell/SettingsPages.h"

namespace tav {

void ApiProfilesPage::Load(const SettingValues& v) {
  current_ = v.Current;
  profiles_.Replace(v.ApiProfiles, v.Current);
  Select(profiles_.Selected());
  sidTime = v.SIDTime;
}

bool ApiProfilesPage::Store(SettingValues& v) const {
  WorkingList<C2chAPIInfo> stored = profiles_;
  const int selected = stored.Selected();
  if (C2chAPIInfo* profile = stored.SelectedItem()) *profile = shown;
  v.ApiProfiles = stored.Items();
  v.SIDTime = sidTime;
  if (selected < 0) return false;
  v.Current = selected;
  return selected != current_;
}

std::vector<std::u16string> ApiProfilesPage::Labels() const {
  std::vector<std::u16string> labels;
  for (const C2chAPIInfo& profile : profiles_.Items()) {
    labels.push_back(NumberedLabel(static_cast<int>(labels.size()) + 1, profile.Name.Wide()));
  }
  return labels;
}

void ApiProfilesPage::Select(int index) {
  profiles_.Select(index);
  shown = profiles_.SelectedItem() != nullptr ? *profiles_.SelectedItem() : C2chAPIInfo::Blank();
}

bool ApiProfilesPage::Add() {
  C2chAPIInfo added = C2chAPIInfo::Blank();
  added.Name = CDoubleString::FromUtf8("noname");
  added.Enable = 0;
  added.CTMode = 1;
  if (!profiles_.Append(std::move(added), kMaxProfiles, true)) return false;
  Select(profiles_.Selected());
  return true;
}

bool ApiProfilesPage::Delete() {
  if (!profiles_.DeleteSelected(2, AfterDelete::SelectPrevious)) return false;
  Select(profiles_.Selected());
  return true;
}

bool ApiProfilesPage::Update() {
  C2chAPIInfo* profile = profiles_.SelectedItem();
  if (profile == nullptr) return false;
  *profile = shown;
  return true;
}

}  // namespace tav
