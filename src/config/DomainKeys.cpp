#include "config/DomainKeys.h"

#include <vector>

#include "platform/TextCodec.h"

namespace tav {
namespace {

struct KeyField {
  const char16_t* name;
  std::string BoardDomains::*field;  // null for Aliases
  bool isDomain;                     // must start with "."
};

constexpr KeyField kFields[] = {
    {u"Primary", &BoardDomains::Primary, true},
    {u"Secondary", &BoardDomains::Secondary, true},
    {u"Adult", &BoardDomains::Adult, true},
    {u"Aliases", nullptr, true},
    {u"Headline", &BoardDomains::Headline, false},
    {u"ApiPrimary", &BoardDomains::ApiPrimary, false},
    {u"ApiSecondary", &BoardDomains::ApiSecondary, false},
    {u"JsonPrimary", &BoardDomains::JsonPrimary, false},
    {u"JsonSecondary", &BoardDomains::JsonSecondary, false},
    {u"JsonAdult", &BoardDomains::JsonAdult, false},
    {u"BePrimary", &BoardDomains::BePrimary, false},
    {u"BeSecondary", &BoardDomains::BeSecondary, false},
};

const KeyField& FieldOf(DomainKey key) { return kFields[static_cast<std::size_t>(key)]; }

bool StartsWithDot(std::u16string_view text) { return !text.empty() && text.front() == u'.'; }

std::u16string_view TrimmedSpaces(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

bool SetAliases(BoardDomains& domains, std::u16string_view text) {
  std::vector<std::string> aliases;
  for (;;) {
    const std::size_t comma = text.find(u',');
    const std::u16string_view alias = TrimmedSpaces(text.substr(0, comma));
    if (!alias.empty()) {
      if (!StartsWithDot(alias)) return false;
      std::string narrow = Utf16ToCp932(alias);
      if (narrow != domains.Secondary) aliases.push_back(std::move(narrow));
    }
    if (comma == std::u16string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  domains.Aliases = std::move(aliases);
  return true;
}

}  // namespace

std::u16string_view DomainKeyName(DomainKey key) { return FieldOf(key).name; }

std::u16string DomainText(const BoardDomains& domains, DomainKey key) {
  const KeyField& field = FieldOf(key);
  if (field.field != nullptr) return Cp932ToUtf16(domains.*field.field);
  std::u16string joined;
  for (const std::string& alias : domains.Aliases)
    joined += (joined.empty() ? u"" : u",") + Cp932ToUtf16(alias);
  return joined;
}

bool SetDomainText(BoardDomains& domains, DomainKey key, std::u16string_view text) {
  const KeyField& field = FieldOf(key);
  if (field.field == nullptr) return SetAliases(domains, text);
  if (text.empty()) return true;
  if (field.isDomain && !StartsWithDot(text)) return false;
  domains.*field.field = Utf16ToCp932(text);
  return true;
}

}  // namespace tav
