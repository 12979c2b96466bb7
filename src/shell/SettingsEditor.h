#pragma once
// What the settings dialog edits: one model per page, loaded from the
// settings when the dialog opens and stored by OK. Cancel simply drops the
// editor; nothing reaches the settings before OK.

#include <optional>
#include <string>

#include "shell/ApiProfilesPage.h"
#include "shell/AutoRulesPage.h"
#include "shell/DomainPage.h"
#include "shell/PatternSetsPage.h"
#include "shell/SettingsPages.h"

namespace tav {

struct ApiSessionCache;
class CBregOnig;

class CSetting;

// The pages by their index.
enum class SettingsPageId : int {
  Basic = 0,
  Api = 1,
  Network = 2,
  LogView = 3,
  JaneStyle = 4,
  Html = 5,
  Ronin = 6,
  AutoRule = 7,
  Json = 8,
  Bregexp = 9,
  FiveCh = 10,
  Domain = 11,
};
inline constexpr int kSettingsPageCount = 12;

// One item of the page tree.
struct SettingsTreeItem {
  SettingsPageId page;
  const char16_t* label;
  int depth;      // 0 top level, 1 under "基本", 2 under "HTML"
  bool expanded;  // shown with its children open
};

// The page tree, in tree order.
inline constexpr SettingsTreeItem kSettingsTree[] = {
    {SettingsPageId::Basic, u"基本", 0, true},
    {SettingsPageId::FiveCh, u"5ch", 1, false},
    {SettingsPageId::Api, u"API", 1, false},
    {SettingsPageId::Html, u"HTML", 1, true},
    {SettingsPageId::Bregexp, u"bregexp", 2, false},
    {SettingsPageId::JaneStyle, u"JaneStyle", 1, false},
    {SettingsPageId::Json, u"JSON", 1, false},
    {SettingsPageId::AutoRule, u"自動切替", 1, false},
    {SettingsPageId::Ronin, u"Ronin(人柱)", 1, false},
    {SettingsPageId::Network, u"通信", 0, false},
    {SettingsPageId::LogView, u"ログビュー", 0, false},
    {SettingsPageId::Domain, u"ドメイン", 0, false},
};

// The tree label of `page`.
std::u16string SettingsPageLabel(SettingsPageId page);

// What the dialog touches beside the settings: the pattern engine its
// bregexp page reports on, and the API session that choosing another
// profile drops. Either may be missing (no engine: shown as not loaded).
struct SettingsServices {
  const CBregOnig* engine = nullptr;
  ApiSessionCache* apiSession = nullptr;
};

class SettingsEditor {
 public:
  // Every page loaded from the current settings.
  explicit SettingsEditor(const CSetting& setting, SettingsServices services = {});

  // A value OK could not take; the dialog stays open on its page.
  struct Refusal {
    SettingsPageId page;
    std::u16string message;
  };

  // OK: every page stores into a copy of the current settings, in page-index
  // order; the copy replaces the settings whole, and when another API
  // profile was chosen the cached session id goes. With a refusal nothing
  // changes.
  std::optional<Refusal> Accept(CSetting& setting) const;

 private:
  SettingsServices services_;

 public:

  BasicPage basic;
  ApiProfilesPage api;
  NetworkPage network;
  LogViewPage logView;
  JaneStylePage janeStyle;
  HtmlPage html;
  RoninPage ronin;
  AutoRulesPage autoRules;
  JsonPage json;
  PatternSetsPage patternSets;
  FiveChPage fiveCh;
  DomainPage domain;
  BoardDomains domains;  // as the dialog was opened, for labels naming them
};

}  // namespace tav
