#pragma once
// The keys of the [Domain] section and the one rule by which their texts
// become board domains and hosts, shared by the settings file and the
// settings dialog.

#include <array>
#include <string>
#include <string_view>

#include "config/SettingValues.h"

namespace tav {

// In the order of the file; Secondary comes before Aliases, which depend on it.
enum class DomainKey {
  Primary,
  Secondary,
  Adult,
  Aliases,
  Headline,
  ApiPrimary,
  ApiSecondary,
  JsonPrimary,
  JsonSecondary,
  JsonAdult,
  BePrimary,
  BeSecondary,
};

inline constexpr std::array<DomainKey, 12> kDomainKeys = {
    DomainKey::Primary,       DomainKey::Secondary,  DomainKey::Adult,        DomainKey::Aliases,
    DomainKey::Headline,      DomainKey::ApiPrimary, DomainKey::ApiSecondary, DomainKey::JsonPrimary,
    DomainKey::JsonSecondary, DomainKey::JsonAdult,  DomainKey::BePrimary,    DomainKey::BeSecondary,
};

// The key's name in the file ("Primary", ...).
std::u16string_view DomainKeyName(DomainKey key);

// The value of `key` as the file holds it (Aliases joined with ",").
std::u16string DomainText(const BoardDomains& domains, DomainKey key);

// Takes `text` as the value of `key`. An empty text keeps the value, except
// for Aliases, where it means no aliases (a comma-separated list whose
// entries are trimmed of spaces; one repeating Secondary is dropped).
// Primary, Secondary, Adult and every alias must start with "."; otherwise
// the text is refused: false, and `domains` stays as it was.
bool SetDomainText(BoardDomains& domains, DomainKey key, std::u16string_view text);

}  // namespace tav
