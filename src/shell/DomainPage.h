#pragma once
// The "ドメイン" page: the [Domain] section, one text per key, checked by the
// same rule that reads the settings file.

#include <array>
#include <optional>
#include <string>

#include "config/DomainKeys.h"
#include "config/SettingValues.h"

namespace tav {

class DomainPage {
 public:
  void Load(const SettingValues& v);
  // Every key back to its built-in value.
  void RestoreDefaults();
  // Applies every text to the built-in domains (an empty text keeps the
  // built-in value; an empty Aliases means none) and stores the result. The
  // first key whose text is refused is returned, and nothing is stored.
  std::optional<DomainKey> Store(SettingValues& v) const;
  // What the user is told about a refused key.
  static std::u16string RefusalMessage(DomainKey key);

  std::u16string& Text(DomainKey key) { return texts_[static_cast<std::size_t>(key)]; }
  const std::u16string& Text(DomainKey key) const { return texts_[static_cast<std::size_t>(key)]; }

 private:
  void Show(const BoardDomains& domains);

  std::array<std::u16string, kDomainKeys.size()> texts_;
};

}  // namespace tav
