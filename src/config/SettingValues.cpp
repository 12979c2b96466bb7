#include "config/SettingValues.h"

namespace tav {

std::vector<std::string_view> BoardDomains::Suffixes() const {
  std::vector<std::string_view> suffixes{Primary, Secondary, Adult};
  for (const auto& alias : Aliases) suffixes.push_back(alias);
  std::erase_if(suffixes, [](std::string_view s) { return s.empty(); });
  return suffixes;
}

bool IsBoardHost(const BoardDomains& domains, std::string_view host) {
  for (std::string_view suffix : domains.Suffixes()) {
    if (host.find(suffix) != std::string_view::npos) return true;
  }
  return false;
}

C2chAPIInfo C2chAPIInfo::Blank() {
  C2chAPIInfo blank;
  blank.Name.Clear();
  blank.XUserAgent.Clear();
  blank.UserAgent.Clear();
  return blank;
}

std::u16string TruncatedText(std::u16string text, std::size_t maxUnits) {
  if (text.size() <= maxUnits) return text;
  std::size_t cut = maxUnits;
  if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
  text.resize(cut);
  return text;
}

std::u16string ModeName(int datMode) {
  static const char16_t* const kNames[] = {u"直接", u"API", u"HTML", u"Style", u"JSON", u"xDAT", u"自動切替"};
  if (datMode < 0 || datMode > 6) return u"不明";
  return kNames[datMode];
}

}  // namespace tav
