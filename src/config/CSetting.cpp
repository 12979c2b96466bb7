#include "config/CSetting.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <type_traits>
#include <variant>
#include <filesystem>
#include <system_error>
#include <optional>
#include <vector>

#include "config/AllowList.h"
#include "config/DomainKeys.h"
#include "config/FtpBugList.h"
#include "config/PatternSets.h"
#include "platform/IniFile.h"
#include "platform/TextCodec.h"

namespace tav {

CSetting::CSetting() {
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

// Files of older versions numbered the profiles "Name0", "Name1", ...; they
// are recognised by an empty "Name00".
void LoadApiProfiles(const SettingsReader& in, SettingValues& v) {
  constexpr std::u16string_view s = u"2chAPI";
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

void LoadRoninPass(const SettingsReader& in, SettingValues& v) {
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

void SaveApiProfiles(SettingsWriter& out, const SettingValues& v) {
  constexpr std::u16string_view s = u"2chAPI";
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

void SaveAutoRules(SettingsWriter& out, const SettingValues& v) {
  constexpr std::u16string_view s = u"AutoRule";
  out.Int(s, u"Count", static_cast<int>(v.AutoRules.size()));
  for (std::size_t n = 0; n < v.AutoRules.size(); ++n) {
    const int i = static_cast<int>(n);
    out.Text(s, Indexed(u"Rule", i), v.AutoRules[n].rule);
    out.Int(s, Indexed(u"Mode", i), v.AutoRules[n].mode);
  }
}

void SaveRoninPass(SettingsWriter& out, const SettingValues& v) {
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

// --- the key table ---

// Each key of the file is named once, here, in the order of the file; both
// loading and saving walk this table.

struct LoadContext {
  const IniFile& ini;
  const SettingsReader& in;
  std::vector<std::u16string>& warnings;
};

// A number. `missing` is the value of an absent key (not always the
// built-in default); the value read is held within [min, max]. A flag is
// written as 0 or 1.
struct IntKey {
  int SettingValues::*member;
  int missing;
  int min = std::numeric_limits<int>::min();
  int max = std::numeric_limits<int>::max();
  bool flag = false;
};
// A text. `keep`: an empty or absent value keeps the current text; else the
// text is always taken, even when empty.
struct TextKey {
  CDoubleString SettingValues::*member;
  bool keep = true;
};
// Numbers joined with colons.
template <std::size_t N>
struct ColonKey {
  std::array<int, N> SettingValues::*member;
};
// Keys that belong together (a list with its count, the domains): read and
// written by functions of their own.
struct GroupKey {
  void (*load)(const LoadContext&, SettingValues&);
  void (*save)(SettingsWriter&, const SettingValues&);
};

struct SettingKey {
  std::u16string_view section;
  std::u16string_view key;
  std::variant<IntKey, TextKey, ColonKey<4>, ColonKey<8>, GroupKey> field;
};

IntKey Flag(int SettingValues::*member, int missing) { return IntKey{member, missing, IntKey{}.min, IntKey{}.max, true}; }
IntKey Number(int SettingValues::*member, int missing) { return IntKey{member, missing}; }
IntKey AtLeast(int SettingValues::*member, int missing, int min) { return IntKey{member, missing, min}; }

template <void (*Load)(const SettingsReader&, SettingValues&)>
void LoadList(const LoadContext& context, SettingValues& v) {
  Load(context.in, v);
}

void LoadDomains(const LoadContext& context, SettingValues& v) { LoadDomain(context.ini, v, context.warnings); }

using V = SettingValues;
const SettingKey kSettingKeys[] = {
    {u"Setting", u"GatewayHost", TextKey{&V::GatewayHost}},
    {u"Setting", u"GatewayPort", Number(&V::GatewayPort, 8822)},
    {u"Setting", u"DatMode", Number(&V::DatMode, 2)},
    {u"Setting", u"HtmlSSL", Flag(&V::HtmlSSL, 0)},
    {u"Setting", u"SubjectSubback", Flag(&V::SubjectSubback, 0)},
    {u"Setting", u"KakoLogHtml", Flag(&V::KakoLogHtml, 0)},
    {u"Setting", u"WriteUrlencoded", Flag(&V::WriteUrlencoded, 0)},
    {u"Setting", u"WriteAcceptHeader", Flag(&V::WriteAcceptHeader, 0)},
    {u"Setting", u"AcceptHeader", TextKey{&V::AcceptHeader}},
    {u"Setting", u"EnableFakeUA", Flag(&V::EnableFakeUA, 0)},
    {u"Setting", u"FakeUA", TextKey{&V::FakeUA}},
    {u"Setting", u"AllowFrom", TextKey{&V::AllowFrom}},
    {u"Window", u"Position", ColonKey<4>{&V::Position}},
    {u"Window", u"ColumnOrder", ColonKey<8>{&V::ColumnOrder}},
    {u"Window", u"ColumnWidth", ColonKey<8>{&V::ColumnWidth}},
    {u"Window", u"AlwaysOnTop", Flag(&V::AlwaysOnTop, 0)},
    {u"Window", u"WindowMinimize", Flag(&V::WindowMinimize, 0)},
    {u"Window", u"ExitDialog", Flag(&V::ExitDialog, 1)},
    {u"Window", u"GridLine", Flag(&V::GridLine, 0)},
    {u"Window", u"LogSort", Number(&V::LogSort, 0)},
    {u"Window", u"LogMax", IntKey{&V::LogMax, 25, 1, 50}},
    {u"Network", u"ConnectTimeOut", AtLeast(&V::ConnectTimeOut, 10000, 1000)},
    {u"Network", u"ReceiveTimeOut", AtLeast(&V::ReceiveTimeOut, 30000, 1000)},
    {u"Network", u"ProxyMode", Number(&V::ProxyMode, 0)},
    {u"Network", u"Proxy", TextKey{&V::Proxy}},
    {u"Network", u"RecvBufferSize", AtLeast(&V::RecvBufferSize, 4096, 256)},
    {u"Network", u"MultiReadThread", Flag(&V::MultiReadThread, 1)},
    {u"Network", u"CloseConnection", Flag(&V::CloseConnection, 0)},
    {u"5ch", u"5ch", Flag(&V::Use5ch, 1)},
    {u"5ch", u"NetworkReplace", Flag(&V::NetworkReplace, 1)},
    {u"2chAPI", u"SIDTime", Number(&V::SIDTime, -1)},
    {u"2chAPI", u"Current", Number(&V::Current, 0)},
    {u"2chAPI", u"Count", GroupKey{&LoadList<LoadApiProfiles>, &SaveApiProfiles}},
    {u"HTML", u"UserAgent", TextKey{&V::HtmlUserAgent}},
    {u"HTML", u"ApplyAllUA", Flag(&V::ApplyAllUA, 1)},
    {u"HTML", u"DiffMode", Number(&V::DiffMode, 0)},
    {u"HTML", u"DatCacheCount", Number(&V::DatCacheCount, 50)},
    {u"HTML", u"RemoveHalfSpace", Flag(&V::HtmlRemoveHalfSpace, 1)},
    {u"HTML", u"FixBRBR", Flag(&V::FixBRBR, 1)},
    {u"HTML", u"FixFTPBug", Flag(&V::FixFTPBug, 0)},
    {u"Bregexp", u"Ver", GroupKey{&LoadList<LoadPatternSets>, &SavePatternSets}},
    {u"FTPBug", u"Count", GroupKey{&LoadList<LoadFtpBugEntries>, &SaveFtpBugEntries}},
    {u"JaneStyle", u"Path", TextKey{&V::JaneStylePath, false}},
    {u"JaneStyle", u"LogsPath", TextKey{&V::LogsPath}},
    {u"JSON", u"UseHtmlUA", Flag(&V::UseHtmlUA, 1)},
    {u"JSON", u"UserAgent", TextKey{&V::JsonUserAgent}},
    {u"JSON", u"RemoveHalfSpace", Flag(&V::JsonRemoveHalfSpace, 1)},
    {u"AutoRule", u"Count", GroupKey{&LoadList<LoadAutoRules>, &SaveAutoRules}},
    {u"Ronin", u"LoginAPI", Flag(&V::LoginAPI, 0)},
    {u"Ronin", u"ID", TextKey{&V::RoninID}},
    {u"Ronin", u"Pass", GroupKey{&LoadList<LoadRoninPass>, &SaveRoninPass}},
    {u"Domain", u"Primary", GroupKey{&LoadDomains, &SaveDomain}},
};

void LoadKey(const SettingKey& entry, const LoadContext& context, SettingValues& v) {
  const SettingsReader& in = context.in;
  std::visit(
      [&](const auto& field) {
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, IntKey>) {
          v.*field.member = std::clamp(in.Int(entry.section, entry.key, field.missing), field.min, field.max);
        } else if constexpr (std::is_same_v<Field, TextKey>) {
          if (field.keep) {
            in.Keep(entry.section, entry.key, v.*field.member);
          } else {
            in.Take(entry.section, entry.key, v.*field.member);
          }
        } else if constexpr (std::is_same_v<Field, GroupKey>) {
          field.load(context, v);
        } else {
          in.ColonList(entry.section, entry.key, v.*field.member);
        }
      },
      entry.field);
}

void SaveKey(const SettingKey& entry, SettingsWriter& out, const SettingValues& v) {
  std::visit(
      [&](const auto& field) {
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, IntKey>) {
          if (field.flag) {
            out.Flag(entry.section, entry.key, v.*field.member);
          } else {
            out.Int(entry.section, entry.key, v.*field.member);
          }
        } else if constexpr (std::is_same_v<Field, TextKey>) {
          out.Text(entry.section, entry.key, v.*field.member);
        } else if constexpr (std::is_same_v<Field, GroupKey>) {
          field.save(out, v);
        } else {
          out.ColonList(entry.section, entry.key, v.*field.member);
        }
      },
      entry.field);
}

}  // namespace

int CSetting::Load(const std::string& path) {
  iniPath_ = path;
  loadWarnings_.clear();
  keepUnreadableFile_ = false;
  IniFile ini;
  // A file that exists but cannot be read is not taken as empty: that would
  // take the "missing" value of every key and empty the lists. The defaults
  // stand, and the file itself is kept for the user (see Save).
  std::string reason;
  const int read = IniFile::LoadFile(path, ini, &reason);
  if (read == IniFile::kUnreadable) {
    keepUnreadableFile_ = true;
    loadWarnings_.push_back(u"設定ファイル " + Utf8ToUtf16(path) + u" を読み込めません (" + Utf8ToUtf16(reason) +
                            u")。このファイルは上書きせず、設定の保存時に " + Utf8ToUtf16(path) +
                            u".unreadable に名前を変えて残します。");
  }
  if (read != IniFile::kOk) return -1;

  SettingValues copy = *Snapshot();
  const SettingsReader in(ini);
  const LoadContext context{ini, in, loadWarnings_};
  for (const SettingKey& entry : kSettingKeys) LoadKey(entry, context, copy);
  const AllowList allowFrom = AllowList::Parse(copy.AllowFrom.Narrow());
  for (const std::string& entry : allowFrom.Invalid()) {
    loadWarnings_.push_back(u"[Setting] AllowFrom: \"" + Cp932ToUtf16(entry) +
                            u"\" is not an address or an address range; it allows nobody");
  }
  Publish(std::move(copy));
  return 0;
}

int CSetting::Save() {
  if (iniPath_.empty()) return -1;
  if (keepUnreadableFile_) {
    // Gone meanwhile: nothing left to keep. Otherwise it goes aside first,
    // and when it cannot, nothing is written over it.
    std::error_code error;
    const bool present = std::filesystem::exists(std::filesystem::symlink_status(iniPath_, error));
    if (present && !IniFile::MoveAside(iniPath_, ".unreadable")) return -1;
    keepUnreadableFile_ = false;
  }
  const std::shared_ptr<const SettingValues> values = Snapshot();
  IniFile ini;
  SettingsWriter out(ini);
  for (const SettingKey& entry : kSettingKeys) SaveKey(entry, out, *values);
  return ini.SaveFile(iniPath_) == IniFile::kOk ? 0 : -1;
}

std::string CSetting::EncodePassword(std::string_view password) { return Base64Encode(Scrambled(password)); }

std::string CSetting::DecodePassword(std::string_view stored) { return Scrambled(Base64Decode(stored)); }

}  // namespace tav
