#pragma once
// Page 1 "API": a working copy of the API login profiles, the profile shown
// in the page's fields and the session lifetime.

#include <cstddef>
#include <string>
#include <vector>

#include "config/SettingValues.h"
#include "shell/WorkingList.h"

namespace tav {

class ApiProfilesPage {
 public:
  static constexpr std::size_t kMaxProfiles = 100;

  void Load(const SettingValues& v);
  // Into `v`: the working list, Current = the selected position (unchanged
  // when none is selected) and SIDTime. True when another profile than
  // Current was chosen, so the cached session id has to go.
  bool Store(SettingValues& v) const;

  const WorkingList<C2chAPIInfo>& Profiles() const { return profiles_; }
  // The drop-down's entries: "%d. %s" of the position from 1 and the name.
  std::vector<std::u16string> Labels() const;

  // Shows the profile at `index` in the fields (nothing selected: blank).
  void Select(int index);
  // Appends "noname" (disabled, empty texts, CTMode 1), selected and shown.
  bool Add();
  // Deletes the selected profile while at least two exist; the previous
  // position (or the first) is selected and shown.
  bool Delete();
  // Stores the fields into the selected profile.
  bool Update();
  bool CanDelete() const { return profiles_.Size() >= 2; }

  bool CTEnabled() const { return shown.CTMode == 0; }

  C2chAPIInfo shown;  // the page's fields
  int sidTime = 720;  // minutes; -1 no limit, 0 a new session every time

 private:
  WorkingList<C2chAPIInfo> profiles_;
  int current_ = 0;
};

}  // namespace tav
