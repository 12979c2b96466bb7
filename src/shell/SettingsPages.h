#pragma once
// The settings pages with plain fields: each loads what it shows from a
// settings snapshot and stores it into a new one. The fields hold what the
// page's controls hold (edit texts as text), so the rules for turning them
// into settings live here and not in the widgets.

#include <optional>
#include <string>
#include <string_view>

#include "config/SettingValues.h"
#include "shell/WorkingList.h"

namespace tav {

// A number typed into an edit: spaces around it are ignored; anything but
// decimal digits reads as 0; a value beyond the int range is capped.
int ParseDecimalEntry(std::u16string_view text);

// "%d. %s": an entry of the profile and pattern-set drop-downs.
std::u16string NumberedLabel(int position, std::u16string_view name);

struct HostPort {
  std::u16string host;
  int port = 0;
};
// "host:port", split at the first ":"; no ":" gives nothing.
std::optional<HostPort> SplitHostPort(std::u16string_view text);

// Page 0 "基本".
struct BasicPage {
  std::u16string hostPort;  // "%s:%d" of GatewayHost and GatewayPort
  int datMode = 2;          // drop-down index; a mode outside the list stays as it is
  bool enableFakeUA = false;
  std::u16string fakeUA;
  bool htmlSSL = false;
  bool subjectSubback = false;
  bool kakoLogHtml = false;
  bool writeUrlencoded = false;
  bool writeAcceptHeader = false;
  bool windowMinimize = false;
  bool noExitDialog = false;  // checked means ExitDialog 0

  void Load(const SettingValues& v);
  void Store(SettingValues& v) const;
  bool FakeUAEnabled() const { return enableFakeUA; }
};

// Page 2 "通信".
struct NetworkPage {
  std::u16string connectTimeOut;  // ms
  std::u16string receiveTimeOut;  // ms
  int proxyMode = 0;              // 0 none, 1 the system's, 2 the Proxy text
  std::u16string proxy;
  std::u16string bufferKB;  // RecvBufferSize / 1024
  bool multiReadThread = true;
  bool closeConnection = false;
  std::u16string allowFrom;  // which readers may connect, stored as typed

  void Load(const SettingValues& v);
  void Store(SettingValues& v) const;
  bool ProxyEnabled() const { return proxyMode == 2; }
};

// Page 3 "ログビュー": the columns in display order, by column index.
struct LogViewPage {
  WorkingList<int> columns;
  int logMax = 25;

  void Load(const SettingValues& v);
  void Store(SettingValues& v) const;
  // The columns in index order 0-7; the selected position stays.
  void ResetColumns();
};

// Page 4 "JaneStyle".
struct JaneStylePage {
  std::u16string path;
  std::u16string logsPath;

  void Load(const SettingValues& v);
  void Store(SettingValues& v) const;
};

// Page 5 "HTML".
struct HtmlPage {
  int diffMode = 0;  // 0 complete, 1 cache; another value checks neither radio and stays
  int datCacheCount = 50;
  std::u16string userAgent;
  bool applyAllUA = true;
  bool removeHalfSpace = true;
  bool fixBRBR = true;
  bool fixFTPBug = false;

  void Load(const SettingValues& v);
  void Store(SettingValues& v) const;
  bool CacheCountEnabled() const { return diffMode == 1; }
};

// Page 6 "Ronin(人柱)".
struct RoninPage {
  bool loginAPI = false;
  std::u16string id;
  std::u16string pass;

  void Load(const SettingValues& v);
  void Store(SettingValues& v) const;
  bool FieldsEnabled() const { return loginAPI; }
};

// Page 8 "JSON".
struct JsonPage {
  bool useHtmlUA = true;
  std::u16string userAgent;
  bool removeHalfSpace = true;

  void Load(const SettingValues& v);
  void Store(SettingValues& v) const;
  bool AgentEnabled() const { return !useHtmlUA; }
};

// Page 10 "5ch".
struct FiveChPage {
  bool use5ch = true;
  bool networkReplace = true;

  void Load(const SettingValues& v);
  void Store(SettingValues& v) const;
  // The label of the NetworkReplace box, naming the configured domains.
  static std::u16string NetworkReplaceLabel(const BoardDomains& domains);
};

}  // namespace tav
