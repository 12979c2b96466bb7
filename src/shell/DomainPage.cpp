#include "shell/DomainPage.h"

namespace tav {

void DomainPage::Load(const SettingValues& v) { Show(v.Domains); }

void DomainPage::RestoreDefaults() { Show(BoardDomains{}); }

void DomainPage::Show(const BoardDomains& domains) {
  for (DomainKey key : kDomainKeys) Text(key) = DomainText(domains, key);
}

std::optional<DomainKey> DomainPage::Store(SettingValues& v) const {
  BoardDomains domains;
  for (DomainKey key : kDomainKeys) {
    if (!SetDomainText(domains, key, Text(key))) return key;
  }
  v.Domains = std::move(domains);
  return std::nullopt;
}

std::u16string DomainPage::RefusalMessage(DomainKey key) {
  return u"「" + std::u16string(DomainKeyName(key)) + u"」のドメインは「.」で始めてください。";
}

}  // namespace tav
