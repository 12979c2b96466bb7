#include "config/CSetting.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "config/DomainKeys.h"
#include "config/PatternSets.h"
#include "platform/CBregOnig.h"
#include "platform/IniFile.h"
#include "platform/TextCodec.h"

namespace tav {

CSetting::CSetting(bool loadRegexEngine) : bregexp_(std::make_unique<CBregOnig>(loadRegexEngine)) {
  SettingValues defaults;
  FillDefaultPatternSets(defaults.PatternSets);
  snapshot_ = std::make_shared<const SettingValues>(std::move(defaults));
}

CSetting::~CSetting() = default;

std::shared_ptr<const SettingValues> CSetting::Snapshot() const {
  std::lock_guard lock(snapshotMutex_);
  return snapshot_;
}

void CSetting::Publish(SettingValues values) {
  auto next = std::make_shared<const SettingValues>(std::move(values));
  std::lock_guard lock(snapshotMutex_);
  snapshot_ = std::move(next);
}

void CSetting::ResetColumns() {
  Update([](SettingValues& v) {
    v.ColumnOrder = kDefaultColumnOrder;
    v.ColumnWidth = kDefaultColumnWidths;
  });
}

// --- INI file ---

namespace {

// Text values are read as the private-profile functions fill a buffer of
// 512 characters; some fields keep less.
constexpr std::size_t kTextMax = 511;
constexpr std::size_t kFtpBugFieldMax = 259;
constexpr std::size_t kFtpBugPostsMax = 4095;
// A count from the file bounds a loop: a broken or hostile file must not keep
// the start-up busy creating millions of blank entries. Far above what the
// dialogs let anyone build (100 profiles, 100 pattern sets, 99 rules).
constexpr int kMaxListEntries = 1000;

int Capped(int count) { return std::min(count, kMaxListEntries); }

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// Key of list entry `index`: "%s%02d", or "%s%d" for files of older versions.
std::u16string Indexed(std::u16string_view key, int index, bool twoDigits = true) {
  char digits[16];
  std::snprintf(digits, sizeof digits, twoDigits ? "%02d" : "%d", index);
  return std::u16string(key) + Ascii(digits);
}

std::vector<std::u16string_view> Split(std::u16string_view text, char16_t separator) {
  std::vector<std::u16string_view> fields;
  for (;;) {
    std::size_t at = text.find(separator);
    fields.push_back(text.substr(0, at));
    if (at == std::u16string_view::npos) return fields;
    text.remove_prefix(at + 1);
  }
}

// "12,abc,15" gives 12, 0, 15; an empty text gives no numbers.
std::vector<std::int32_t> ParsePostNumbers(std::u16string_view text) {
  std::vector<std::int32_t> posts;
  if (text.empty()) return posts;
  for (std::u16string_view piece : Split(text, u',')) posts.push_back(IniFile::ParseInt(piece));
  return posts;
}

std::u16string JoinPostNumbers(const std::vector<std::int32_t>& posts) {
  std::u16string joined;
  for (std::int32_t post : posts) {
    std::u16string piece = Ascii(std::to_string(post));
    if (!joined.empty()) piece.insert(piece.begin(), u',');
    if (joined.size() + piece.size() > kFtpBugPostsMax) break;  // whole numbers only
    joined += piece;
  }
  return joined;
}

// Reads values with the "when missing" rules of the settings file.
class SettingsReader {
 public:
  explicit SettingsReader(const IniFile& ini) : ini_(ini) {}

  // Absent and empty values both read as "".
  std::u16string Text(std::u16string_view section, std::u16string_view key,
                      std::size_t maxUnits = kTextMax) const {
    return TruncatedText(ini_.GetString(section, key).value_or(u""), maxUnits);
  }
  // Empty or absent: the field keeps its value.
  void Keep(std::u16string_view section, std::u16string_view key, CDoubleString& field) const {
    std::u16string text = Text(section, key);
    if (!text.empty()) field.SetWide(text);
  }
  // Always taken, even when empty.
  void Take(std::u16string_view section, std::u16string_view key, CDoubleString& field) const {
    field.SetWide(Text(section, key));
  }
  int Int(std::u16string_view section, std::u16string_view key, int missing) const {
    return ini_.GetInt(section, key, missing);
  }
  // Slot i takes field i when the value has at least i colons; an absent
  // value is "" and so sets slot 0 to 0.
  template <std::size_t N>
  void ColonList(std::u16string_view section, std::u16string_view key, std::array<int, N>& slots) const {
    std::u16string text = Text(section, key);
    std::vector<std::u16string_view> fields = Split(text, u':');
    for (std::size_t i = 0; i < N && i < fields.size(); ++i) slots[i] = IniFile::ParseInt(fields[i]);
  }

 private:
  const IniFile& ini_;
};

class SettingsWriter {
 public:
  explicit SettingsWriter(IniFile& ini) : ini_(ini) {}

  void Text(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    ini_.SetString(section, key, value);
  }
  void Text(std::u16string_view section, std::u16string_view key, const CDoubleString& value) {
    ini_.SetString(section, key, value.Wide());
  }
  void Int(std::u16string_view section, std::u16string_view key, int value) {
    ini_.SetInt(section, key, value);
  }
  void Flag(std::u16string_view section, std::u16string_view key, int value) {
    ini_.SetInt(section, key, value != 0 ? 1 : 0);
  }
  template <std::size_t N>
  void ColonList(std::u16string_view section, std::u16string_view key, const std::array<int, N>& values) {
    std::u16string joined;
    for (std::size_t i = 0; i < N; ++i) {
      if (i > 0) joined += u':';
      joined += Ascii(std::to_string(values[i]));
    }
    ini_.SetString(section, key, joined);
  }

 private:
  IniFile& ini_;
};

// --- load, section by section ---

void LoadSetting(const SettingsReader& in, SettingValues& v) {
  constexpr std::u16string_view s = u"Setting";
  in.Keep(s, u"GatewayHost", v.GatewayHost);
  v.GatewayPort = in.Int(s, u"GatewayPort", 8822);
  v.DatMode = in.Int(s, u"DatMode", 2);
  v.HtmlSSL = in.Int(s, u"HtmlSSL", 0);
  v.SubjectSubback = in.Int(s, u"SubjectSubback", 0);
  v.KakoLogHtml = in.Int(s, u"KakoLogHtml", 0);
  v.WriteUrlencoded = in.Int(s, u"WriteUrlencoded", 0);
  v.WriteAcceptHeader = in.Int(s, u"WriteAcceptHeader", 0);
  in.Keep(s, u"AcceptHeader", v.AcceptHeader);
  v.EnableFakeUA = in.Int(s, u"EnableFakeUA", 0);
  in.Keep(s, u"FakeUA", v.FakeUA);
}

void LoadWindow(const SettingsReader& in, SettingValues& v) {
  constexpr std::u16string_view s = u"Window";
  in.ColonList(s, u"Position", v.Position);
  in.ColonList(s, u"ColumnOrder", v.ColumnOrder);
  in.ColonList(s, u"ColumnWidth", v.ColumnWidth);
  v.AlwaysOnTop = in.Int(s, u"AlwaysOnTop", 0);
  v.WindowMinimize = in.Int(s, u"WindowMinimize", 0);
  v.ExitDialog = in.Int(s, u"ExitDialog", 1);
  v.GridLine = in.Int(s, u"GridLine", 0);
  v.LogSort = in.Int(s, u"LogSort", 0);
  v.LogMax = std::clamp(in.Int(s, u"LogMax", 25), 1, 50);
}

void LoadNetwork(const SettingsReader& in, SettingValues& v) {
  constexpr std::u16string_view s = u"Network";
  v.ConnectTimeOut = std::max(in.Int(s, u"ConnectTimeOut", 10000), 1000);
  v.ReceiveTimeOut = std::max(in.Int(s, u"ReceiveTimeOut", 30000), 1000);
  v.ProxyMode = in.Int(s, u"ProxyMode", 0);
  in.Keep(s, u"Proxy", v.Proxy);
  v.RecvBufferSize = std::max(in.Int(s, u"RecvBufferSize", 4096), 256);
  v.MultiReadThread = in.Int(s, u"MultiReadThread", 1);
  v.CloseConnection = in.Int(s, u"CloseConnection", 0);
}

void Load5ch(const SettingsReader& in, SettingValues& v) {
  v.Use5ch = in.Int(u"5ch", u"5ch", 1);
  v.NetworkReplace = in.Int(u"5ch", u"NetworkReplace", 1);
}

// Files of older versions numbered the profiles "Name0", "Name1", ...; they
// are recognised by an empty "Name00".
void LoadApiProfiles(const SettingsReader& in, SettingValues& v) {
  constexpr std::u16string_view s = u"2chAPI";
  v.SIDTime = in.Int(s, u"SIDTime", -1);
  v.Current = in.Int(s, u"Current", 0);
  const int count = Capped(in.Int(s, u"Count", 0));
  const bool twoDigits = !in.Text(s, Indexed(u"Name", 0)).empty();
  v.ApiProfiles.clear();
  for (int i = 0; i < count; ++i) {
    auto key = [&](std::u16string_view name) { return Indexed(name, i, twoDigits); };
    C2chAPIInfo profile = C2chAPIInfo::Blank();
    in.Take(s, key(u"Name"), profile.Name);
    profile.Enable = in.Int(s, key(u"Enable"), 1);
    in.Take(s, key(u"HMKey"), profile.HMKey);
    in.Take(s, key(u"AppKey"), profile.AppKey);
    in.Take(s, key(u"CT"), profile.CT);
    profile.CTMode = in.Int(s, key(u"CTMode"), 1);
    in.Take(s, key(u"UserAgent"), profile.UserAgent);
    in.Take(s, key(u"XUserAgent"), profile.XUserAgent);
    in.Take(s, key(u"UserAgentAuth"), profile.UserAgentAuth);
    v.ApiProfiles.push_back(std::move(profile));
  }
}

void LoadHtml(const SettingsReader& in, SettingValues& v) {
  constexpr std::u16string_view s = u"HTML";
  in.Keep(s, u"UserAgent", v.HtmlUserAgent);
  v.ApplyAllUA = in.Int(s, u"ApplyAllUA", 1);
  v.DiffMode = in.Int(s, u"DiffMode", 0);
  v.DatCacheCount = in.Int(s, u"DatCacheCount", 50);
  v.HtmlRemoveHalfSpace = in.Int(s, u"RemoveHalfSpace", 1);
  v.FixBRBR = in.Int(s, u"FixBRBR", 1);
  v.FixFTPBug = in.Int(s, u"FixFTPBug", 0);
}

// The stored sets replace the current ones only in a file of format
// version 1 with a non-zero count; a negative count empties the list.
void LoadPatternSets(const SettingsReader& in, SettingValues& v) {
  constexpr std::u16string_view s = u"Bregexp";
  v.BregexpMode = in.Int(s, u"Mode", 0);
  const int version = in.Int(s, u"Ver", -1);
  const int count = in.Int(s, u"Count", 0);
  if (version != 1 || count == 0) return;
  v.PatternSets.clear();
  for (int i = 0; i < Capped(count); ++i) {
    CRegexpPatternInfo set;
    set.label = in.Text(s, Indexed(u"Rule", i), kPatternLabelMax);
    set.title.SetWide(in.Text(s, Indexed(u"Title", i)));
    set.res.SetWide(in.Text(s, Indexed(u"Res", i)));
    set.be.SetWide(in.Text(s, Indexed(u"BE", i)));
    set.name.SetWide(in.Text(s, Indexed(u"Name", i)));
    set.mailName.SetWide(in.Text(s, Indexed(u"MailName", i)));
    v.PatternSets.push_back(std::move(set));
  }
}

void LoadFtpBugEntries(const SettingsReader& in, SettingValues& v) {
  constexpr std::u16string_view s = u"FTPBug";
  const int count = Capped(in.Int(s, u"Count", 0));
  if (count <= 0) return;
  v.FtpBugEntries.clear();
  for (int i = 0; i < count; ++i) {
    FtpBugEntry entry;
    entry.board = in.Text(s, Indexed(u"Ita", i), kFtpBugFieldMax);
    entry.thread = in.Text(s, Indexed(u"Thread", i), kFtpBugFieldMax);
    entry.posts = ParsePostNumbers(in.Text(s, Indexed(u"Res", i), kFtpBugPostsMax));
    if (!entry.posts.empty()) v.FtpBugEntries.push_back(std::move(entry));
  }
}

void LoadJaneStyle(const SettingsReader& in, SettingValues& v) {
  in.Take(u"JaneStyle", u"Path", v.JaneStylePath);
  in.Keep(u"JaneStyle", u"LogsPath", v.LogsPath);
}

void LoadJson(const SettingsReader& in, SettingValues& v) {
  v.UseHtmlUA = in.Int(u"JSON", u"UseHtmlUA", 1);
  in.Keep(u"JSON", u"UserAgent", v.JsonUserAgent);
  v.JsonRemoveHalfSpace = in.Int(u"JSON", u"RemoveHalfSpace", 1);
}

void LoadAutoRules(const SettingsReader& in, SettingValues& v) {
  constexpr std::u16string_view s = u"AutoRule";
  const int count = Capped(in.Int(s, u"Count", 0));
  if (count <= 0) return;
  v.AutoRules.clear();
  for (int i = 0; i < count; ++i) {
    v.AutoRules.push_back(
        CAutoRule{in.Text(s, Indexed(u"Rule", i), kAutoRuleTextMax), in.Int(s, Indexed(u"Mode", i), 2)});
  }
}

void LoadRonin(const SettingsReader& in, SettingValues& v) {
  v.LoginAPI = in.Int(u"Ronin", u"LoginAPI", 0);
  in.Keep(u"Ronin", u"ID", v.RoninID);
  std::u16string stored = in.Text(u"Ronin", u"Pass");
  if (!stored.empty()) v.RoninPass.SetNarrow(CSetting::DecodePassword(Utf16ToCp932(stored)));
}

// [Domain]: the board domains and the hosts derived from them. An absent
// key keeps its default; a refused value keeps it too, with a warning.
void LoadDomain(const IniFile& ini, SettingValues& v, std::vector<std::u16string>& warnings) {
  for (DomainKey key : kDomainKeys) {
    std::optional<std::u16string> text = ini.GetString(u"Domain", DomainKeyName(key));
    if (!text) continue;
    *text = TruncatedText(std::move(*text), kTextMax);
    if (SetDomainText(v.Domains, key, *text)) continue;
    warnings.push_back(u"[Domain] " + std::u16string(DomainKeyName(key)) + u"=" + *text +
                       u": a domain must start with \".\"; using " + DomainText(v.Domains, key));
  }
}

// --- save, in the order of the file ---

void SaveSetting(SettingsWriter& out, const SettingValues& v) {
  constexpr std::u16string_view s = u"Setting";
  out.Text(s, u"GatewayHost", v.GatewayHost);
  out.Int(s, u"GatewayPort", v.GatewayPort);
  out.Int(s, u"DatMode", v.DatMode);
  out.Flag(s, u"HtmlSSL", v.HtmlSSL);
  out.Flag(s, u"SubjectSubback", v.SubjectSubback);
  out.Flag(s, u"KakoLogHtml", v.KakoLogHtml);
  out.Flag(s, u"WriteUrlencoded", v.WriteUrlencoded);
  out.Flag(s, u"WriteAcceptHeader", v.WriteAcceptHeader);
  out.Text(s, u"AcceptHeader", v.AcceptHeader);
  out.Flag(s, u"EnableFakeUA", v.EnableFakeUA);
  out.Text(s, u"FakeUA", v.FakeUA);
}

void SaveWindow(SettingsWriter& out, const SettingValues& v) {
  constexpr std::u16string_view s = u"Window";
  out.ColonList(s, u"Position", v.Position);
  out.ColonList(s, u"ColumnOrder", v.ColumnOrder);
  out.ColonList(s, u"ColumnWidth", v.ColumnWidth);
  out.Flag(s, u"AlwaysOnTop", v.AlwaysOnTop);
  out.Flag(s, u"WindowMinimize", v.WindowMinimize);
  out.Flag(s, u"ExitDialog", v.ExitDialog);
  out.Flag(s, u"GridLine", v.GridLine);
  out.Int(s, u"LogSort", v.LogSort);
  out.Int(s, u"LogMax", v.LogMax);
}

void SaveNetwork(SettingsWriter& out, const SettingValues& v) {
  constexpr std::u16string_view s = u"Network";
  out.Int(s, u"ConnectTimeOut", v.ConnectTimeOut);
  out.Int(s, u"ReceiveTimeOut", v.ReceiveTimeOut);
  out.Int(s, u"ProxyMode", v.ProxyMode);
  out.Text(s, u"Proxy", v.Proxy);
  out.Int(s, u"RecvBufferSize", v.RecvBufferSize);
  out.Flag(s, u"MultiReadThread", v.MultiReadThread);
  out.Flag(s, u"CloseConnection", v.CloseConnection);
}

void Save5ch(SettingsWriter& out, const SettingValues& v) {
  out.Flag(u"5ch", u"5ch", v.Use5ch);
  out.Flag(u"5ch", u"NetworkReplace", v.NetworkReplace);
}

void SaveApiProfiles(SettingsWriter& out, const SettingValues& v) {
  constexpr std::u16string_view s = u"2chAPI";
  out.Int(s, u"SIDTime", v.SIDTime);
  out.Int(s, u"Current", v.Current);
  out.Int(s, u"Count", static_cast<int>(v.ApiProfiles.size()));
  for (std::size_t n = 0; n < v.ApiProfiles.size(); ++n) {
    const C2chAPIInfo& profile = v.ApiProfiles[n];
    const int i = static_cast<int>(n);
    out.Text(s, Indexed(u"Name", i), profile.Name);
    out.Flag(s, Indexed(u"Enable", i), profile.Enable);
    out.Text(s, Indexed(u"HMKey", i), profile.HMKey);
    out.Text(s, Indexed(u"AppKey", i), profile.AppKey);
    out.Text(s, Indexed(u"CT", i), profile.CT);
    out.Int(s, Indexed(u"CTMode", i), profile.CTMode);
    out.Text(s, Indexed(u"UserAgent", i), profile.UserAgent);
    out.Text(s, Indexed(u"XUserAgent", i), profile.XUserAgent);
    out.Text(s, Indexed(u"UserAgentAuth", i), profile.UserAgentAuth);
  }
}

void SaveHtml(SettingsWriter& out, const SettingValues& v) {
  constexpr std::u16string_view s = u"HTML";
  out.Text(s, u"UserAgent", v.HtmlUserAgent);
  out.Flag(s, u"ApplyAllUA", v.ApplyAllUA);
  out.Int(s, u"DiffMode", v.DiffMode);
  out.Int(s, u"DatCacheCount", v.DatCacheCount);
  out.Flag(s, u"RemoveHalfSpace", v.HtmlRemoveHalfSpace);
  out.Flag(s, u"FixBRBR", v.FixBRBR);
  out.Flag(s, u"FixFTPBug", v.FixFTPBug);
}

void SavePatternSets(SettingsWriter& out, const SettingValues& v) {
  constexpr std::u16string_view s = u"Bregexp";
  out.Int(s, u"Ver", 1);
  out.Flag(s, u"Mode", v.BregexpMode);
  out.Int(s, u"Count", static_cast<int>(v.PatternSets.size()));
  for (std::size_t n = 0; n < v.PatternSets.size(); ++n) {
    const CRegexpPatternInfo& set = v.PatternSets[n];
    const int i = static_cast<int>(n);
    out.Text(s, Indexed(u"Rule", i), set.label);
    out.Text(s, Indexed(u"Title", i), set.title);
    out.Text(s, Indexed(u"Res", i), set.res);
    out.Text(s, Indexed(u"BE", i), set.be);
    out.Text(s, Indexed(u"Name", i), set.name);
    out.Text(s, Indexed(u"MailName", i), set.mailName);
  }
}

void SaveFtpBugEntries(SettingsWriter& out, const SettingValues& v) {
  constexpr std::u16string_view s = u"FTPBug";
  out.Int(s, u"Count", static_cast<int>(v.FtpBugEntries.size()));
  for (std::size_t n = 0; n < v.FtpBugEntries.size(); ++n) {
    const FtpBugEntry& entry = v.FtpBugEntries[n];
    const int i = static_cast<int>(n);
    out.Text(s, Indexed(u"Ita", i), entry.board);
    out.Text(s, Indexed(u"Thread", i), entry.thread);
    out.Text(s, Indexed(u"Res", i), JoinPostNumbers(entry.posts));
  }
}

void SaveJaneStyle(SettingsWriter& out, const SettingValues& v) {
  out.Text(u"JaneStyle", u"Path", v.JaneStylePath);
  out.Text(u"JaneStyle", u"LogsPath", v.LogsPath);
}

void SaveJson(SettingsWriter& out, const SettingValues& v) {
  out.Flag(u"JSON", u"UseHtmlUA", v.UseHtmlUA);
  out.Text(u"JSON", u"UserAgent", v.JsonUserAgent);
  out.Flag(u"JSON", u"RemoveHalfSpace", v.JsonRemoveHalfSpace);
}

void SaveAutoRules(SettingsWriter& out, const SettingValues& v) {
  constexpr std::u16string_view s = u"AutoRule";
  out.Int(s, u"Count", static_cast<int>(v.AutoRules.size()));
  for (std::size_t n = 0; n < v.AutoRules.size(); ++n) {
    const int i = static_cast<int>(n);
    out.Text(s, Indexed(u"Rule", i), v.AutoRules[n].rule);
    out.Int(s, Indexed(u"Mode", i), v.AutoRules[n].mode);
  }
}

void SaveRonin(SettingsWriter& out, const SettingValues& v) {
  out.Flag(u"Ronin", u"LoginAPI", v.LoginAPI);
  out.Text(u"Ronin", u"ID", v.RoninID);
  out.Text(u"Ronin", u"Pass", Ascii(CSetting::EncodePassword(v.RoninPass.Narrow())));
}

void SaveDomain(SettingsWriter& out, const SettingValues& v) {
  for (DomainKey key : kDomainKeys) out.Text(u"Domain", DomainKeyName(key), DomainText(v.Domains, key));
}

// --- password scrambling ---

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Byte i is XORed with the low 8 bits of i; applying it twice restores the text.
std::string Scrambled(std::string_view bytes) {
  std::string out(bytes);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ (i & 0xFF));
  }
  return out;
}

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < left ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out.push_back(k <= left ? kBase64Alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=');
    }
  }
  return out;
}

// Characters outside the alphabet (line breaks among them) are skipped; the
// first '=' ends the text.
std::string Base64Decode(std::string_view text) {
  std::string out;
  std::uint32_t bits = 0;
  int bitCount = 0;
  for (char c : text) {
    if (c == '=') break;
    int value = Base64Value(c);
    if (value < 0) continue;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      out.push_back(static_cast<char>((bits >> bitCount) & 0xFF));
    }
  }
  return out;
}

}  // namespace

int CSetting::Load(const std::string& path) {
  iniPath_ = path;
  IniFile ini;
  // A file that exists but cannot be read is treated as missing: reading it
  // as empty would take the "missing" value of every key and empty the lists.
  if (IniFile::LoadFile(path, ini) != IniFile::kOk) return -1;

  SettingValues copy = *Snapshot();
  const SettingsReader in(ini);
  LoadSetting(in, copy);
  LoadWindow(in, copy);
  LoadNetwork(in, copy);
  Load5ch(in, copy);
  LoadApiProfiles(in, copy);
  LoadHtml(in, copy);
  LoadPatternSets(in, copy);
  LoadFtpBugEntries(in, copy);
  LoadJaneStyle(in, copy);
  LoadJson(in, copy);
  LoadAutoRules(in, copy);
  LoadRonin(in, copy);
  loadWarnings_.clear();
  LoadDomain(ini, copy, loadWarnings_);
  Publish(std::move(copy));
  return 0;
}

int CSetting::Save() {
  if (iniPath_.empty()) return -1;
  const std::shared_ptr<const SettingValues> values = Snapshot();
  IniFile ini;
  SettingsWriter out(ini);
  SaveSetting(out, *values);
  SaveWindow(out, *values);
  SaveNetwork(out, *values);
  Save5ch(out, *values);
  SaveApiProfiles(out, *values);
  SaveHtml(out, *values);
  SavePatternSets(out, *values);
  SaveFtpBugEntries(out, *values);
  SaveJaneStyle(out, *values);
  SaveJson(out, *values);
  SaveAutoRules(out, *values);
  SaveRonin(out, *values);
  SaveDomain(out, *values);
  return ini.SaveFile(iniPath_) == IniFile::kOk ? 0 : -1;
}

std::string CSetting::EncodePassword(std::string_view password) { return Base64Encode(Scrambled(password)); }

std::string CSetting::DecodePassword(std::string_view stored) { return Scrambled(Base64Decode(stored)); }

}  // namespace tav
