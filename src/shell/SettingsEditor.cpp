#include "shell/SettingsEditor.h"

#include <mutex>

#include "acquire/ApiSessionCache.h"
#include "config/CSetting.h"
#include "platform/CBregOnig.h"

namespace tav {

std::u16string SettingsPageLabel(SettingsPageId page) {
  for (const SettingsTreeItem& item : kSettingsTree) {
    if (item.page == page) return item.label;
  }
  return {};
}

SettingsEditor::SettingsEditor(const CSetting& setting, SettingsServices services) : services_(services) {
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
  static const CBregOnig missing(false);
  patternSets.Load(*v, services_.engine != nullptr ? *services_.engine : missing);
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
  if (profileChanged && services_.apiSession != nullptr) {
    ApiSessionCache& session = *services_.apiSession;
    std::lock_guard lock(session.mutex);
    session.sessionId.clear();
  }
  return std::nullopt;
}

}  // namespace tav
