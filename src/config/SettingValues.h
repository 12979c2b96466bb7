#pragma once
// Every value of the settings file, with its built-in default. A snapshot of
// these values is immutable once published: workers hold one snapshot per
// request while the main thread may publish a new one at any time.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/AllowList.h"
#include "platform/CDoubleString.h"

namespace tav {

// One API login profile.
struct C2chAPIInfo {
  CDoubleString Name = CDoubleString::FromUtf8("JaneStyle");
  int Enable = 1;
  CDoubleString HMKey;
  CDoubleString AppKey;
  CDoubleString CT;
  int CTMode = 1;  // 0 the fixed CT text, 1 current UNIX time, 2 random (unused)
  CDoubleString XUserAgent = CDoubleString::FromUtf8("JaneStyle/3.83");
  CDoubleString UserAgent = CDoubleString::FromUtf8("Mozilla/3.0 (compatible; JaneStyle/3.83)");
  CDoubleString UserAgentAuth;

  // A profile as read from a file: every text empty, both numbers 1.
  static C2chAPIInfo Blank();
};

// One entry of the automatic mode switch.
struct CAutoRule {
  std::u16string rule;  // at most 47 characters
  int mode = 2;
};

// One regular-expression pattern set.
struct CRegexpPatternInfo {
  std::u16string label;  // at most 255 characters
  CDoubleString title;
  CDoubleString res;
  CDoubleString be;
  CDoubleString mailName;
  CDoubleString name;
};

// One thread whose page particular posts break.
struct FtpBugEntry {
  std::u16string board;   // at most 259 characters
  std::u16string thread;  // at most 259 characters
  std::vector<std::int32_t> posts;
};

// The board domains and the hosts derived from them.
struct BoardDomains {
  std::string Primary = ".2ch.net";
  std::string Secondary = ".5ch.io";
  std::string Adult = ".bbspink.com";
  std::vector<std::string> Aliases = {".5ch.net"};  // treated exactly like Primary
  std::string Headline = "headline.";
  std::string ApiPrimary = "api.2ch.net";
  std::string ApiSecondary = "api.5ch.net";
  std::string JsonPrimary = "itest.2ch.net";
  std::string JsonSecondary = "itest.5ch.net";
  std::string JsonAdult = "itest.bbspink.com";
  std::string BePrimary = "be.2ch.net";
  std::string BeSecondary = "be.5ch.net";

  // Primary, Secondary, Adult and the aliases: the suffixes of board hosts
  // (empty ones left out).
  std::vector<std::string_view> Suffixes() const;
};

// Whether `host` names a server under one of the board domains.
bool IsBoardHost(const BoardDomains& domains, std::string_view host);

// Lengths (UTF-16 units) the settings keep of some texts, in the file and in
// the dialog alike.
inline constexpr std::size_t kAutoRuleTextMax = 47;
inline constexpr std::size_t kPatternLabelMax = 255;
inline constexpr std::size_t kPathTextMax = 259;

// `text` cut to at most `maxUnits` units, never keeping half of a surrogate pair.
std::u16string TruncatedText(std::u16string text, std::size_t maxUnits);

inline constexpr std::array<int, 8> kDefaultColumnWidths = {13, 140, 150, 240, 100, 140, 70, 70};
inline constexpr std::array<int, 8> kDefaultColumnOrder = {0, 1, 2, 3, 4, 5, 6, 7};

struct SettingValues {
  // [Setting]
  CDoubleString GatewayHost = CDoubleString::FromUtf8("127.0.0.1");
  int GatewayPort = 8822;
  int DatMode = 2;
  int HtmlSSL = 0;
  int SubjectSubback = 0;
  int KakoLogHtml = 0;
  int WriteUrlencoded = 0;
  int WriteAcceptHeader = 0;
  CDoubleString AcceptHeader = CDoubleString::FromUtf8(
      "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  int EnableFakeUA = 0;
  CDoubleString FakeUA = CDoubleString::FromUtf8("Monazilla/1.00 (JaneStyle/3.83)");
  // Readers that may connect: addresses and CIDR ranges, comma-separated.
  CDoubleString AllowFrom = CDoubleString::FromUtf8(kDefaultAllowFrom);

  // [Window]
  std::array<int, 4> Position = {0, 0, 0, 0};  // left, top, width, height
  std::array<int, 8> ColumnOrder = kDefaultColumnOrder;
  std::array<int, 8> ColumnWidth = kDefaultColumnWidths;
  int AlwaysOnTop = 0;
  int WindowMinimize = 0;
  int ExitDialog = 1;
  int GridLine = 0;
  int LogSort = 0;
  int LogMax = 25;

  // [Network]
  int ConnectTimeOut = 10000;
  int ReceiveTimeOut = 30000;
  int ProxyMode = 0;
  CDoubleString Proxy;
  int RecvBufferSize = 4096;
  int MultiReadThread = 1;
  int CloseConnection = 0;

  // [5ch]
  int Use5ch = 1;  // key "5ch"
  int NetworkReplace = 1;

  // [2chAPI]
  int SIDTime = 720;
  int Current = 0;
  std::vector<C2chAPIInfo> ApiProfiles = {C2chAPIInfo{}};

  // [HTML]
  CDoubleString HtmlUserAgent = CDoubleString::FromUtf8(
      "Mozilla/5.0 (Windows NT 6.3; WOW64; Trident/7.0; Touch; rv:11.0) like Gecko");
  int ApplyAllUA = 1;
  int DiffMode = 0;
  int DatCacheCount = 50;
  int HtmlRemoveHalfSpace = 1;
  int FixBRBR = 1;
  int FixFTPBug = 0;

  // [Bregexp]
  int BregexpMode = 1;
  std::vector<CRegexpPatternInfo> PatternSets;  // filled with the defaults by CSetting

  // [FTPBug]
  std::vector<FtpBugEntry> FtpBugEntries = {FtpBugEntry{u"software", u"1437650830", {296}}};

  // [JaneStyle]
  CDoubleString JaneStylePath;
  CDoubleString LogsPath;

  // [JSON]
  int UseHtmlUA = 1;
  CDoubleString JsonUserAgent;
  int JsonRemoveHalfSpace = 1;

  // [AutoRule]
  std::vector<CAutoRule> AutoRules = {CAutoRule{u"#carpenter", 0}, CAutoRule{u"*", 2}};

  // [Ronin]
  int LoginAPI = 0;
  CDoubleString RoninID;
  CDoubleString RoninPass;  // plain text in memory

  // Board domains and hosts (implementation configuration).
  BoardDomains Domains;

  // The current API profile, or null when Current names none.
  const C2chAPIInfo* CurrentProfile() const {
    if (Current < 0 || static_cast<std::size_t>(Current) >= ApiProfiles.size()) return nullptr;
    return &ApiProfiles[static_cast<std::size_t>(Current)];
  }
};

// Names of the DatMode values: "直接", "API", "HTML", "Style", "JSON", "xDAT",
// "自動切替" for 0-6, "不明" otherwise.
std::u16string ModeName(int datMode);

}  // namespace tav
