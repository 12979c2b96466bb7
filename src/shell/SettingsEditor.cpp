#include "shell/SettingsEditor.h"

#include <mutex>

#include "config/CSetting.h"

namespace tav {

std::u16string SettingsPageLabel(SettingsPageId page) {
  for (const SettingsTreeItem& item : kSettingsTree) {
    if (item.page == page) return item.label;
  }
  return {};
}

SettingsEditor::SettingsEditor(const CSetting& setting) {
  const std::shared_ptr<const SettingValues> v = setting.Snapshot();
  basic.Load(*v);
  api.Load(*v);
  network.Load(*v);
  logView.Load(*v);
  janeStyle.Load(*v);
  html.Load(*v);
  ronin.Load(*v);
  autoRules.Load(*v);
  json.Load(*v);
  patternSets.Load(*v, setting.Bregexp());
  fiveCh.Load(*v);
  domain.Load(*v);
  domains = v->Domains;
}

std::optional<SettingsEditor::Refusal> SettingsEditor::Accept(CSetting& setting) const {
  SettingValues v = *setting.Snapshot();
  basic.Store(v);
  const bool profileChanged = api.Store(v);
  network.Store(v);
  logView.Store(v);
  janeStyle.Store(v);
  html.Store(v);
  ronin.Store(v);
  autoRules.Store(v);
  json.Store(v);
  patternSets.Store(v);
  fiveCh.Store(v);
  if (std::optional<DomainKey> refused = domain.Store(v)) {
    return Refusal{SettingsPageId::Domain, DomainPage::RefusalMessage(*refused)};
  }
  setting.Publish(std::move(v));
  if (profileChanged) {
    ApiSessionCache& session = setting.Session();
    std::lock_guard lock(session.mutex);
    session.sessionId.clear();
  }
  return std::nullopt;
}

}  // namespace tav
