#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/IniFile.h"
#include "platform/TextCodec.h"
#include "config/CSetting.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace tav {
namespace {

namespace fs = std::filesystem;

using test::TempDir;

using test::ReadBytes;
using test::WriteBytes;

std::string Utf16LeWithMark(const std::string& utf8) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

class CSettingFile : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("Tavrilox.ini"); }

  // Writes `bytes` as the INI file and loads it into `setting_`.
  int LoadBytes(const std::string& bytes) {
    WriteBytes(Path(), bytes);
    return setting_.Load(Path());
  }
  int LoadText(const std::string& utf8) { return LoadBytes(Utf16LeWithMark(utf8)); }

  // Saves `setting_` and reads the file back.
  IniFile SaveAndParse() {
    EXPECT_EQ(setting_.Save(), 0);
    IniFile ini;
    EXPECT_EQ(IniFile::LoadFile(Path(), ini), IniFile::kOk);
    return ini;
  }

  const SettingValues& Values() {
    snapshot_ = setting_.Snapshot();
    return *snapshot_;
  }

  TempDir dir_;
  CSetting setting_;
  std::shared_ptr<const SettingValues> snapshot_;
};

// --- no file, and the file a first save writes ---

TEST_F(CSettingFile, MissingFileKeepsDefaultsAndStoresThePath) {
  auto before = setting_.Snapshot();
  EXPECT_EQ(setting_.Load(Path()), -1);
  EXPECT_EQ(setting_.IniPath(), Path());
  EXPECT_EQ(setting_.Snapshot(), before) << "nothing published";
  EXPECT_EQ(Values().SIDTime, 720);
  EXPECT_EQ(Values().BregexpMode, 1);
}

TEST_F(CSettingFile, SaveWithoutPathFails) {
  EXPECT_EQ(setting_.Save(), -1);
  EXPECT_FALSE(fs::exists(Path()));
}

TEST_F(CSettingFile, FirstSaveWritesEveryDefault) {
  ASSERT_EQ(setting_.Load(Path()), -1);
  IniFile ini = SaveAndParse();

  EXPECT_EQ(ini.SectionNames(), (std::vector<std::u16string>{u"Setting", u"Window", u"Network", u"5ch",
                                                             u"2chAPI", u"HTML", u"Bregexp", u"FTPBug",
                                                             u"JaneStyle", u"JSON", u"AutoRule", u"Ronin", u"Domain"}));
  EXPECT_EQ(ini.KeyNames(u"Setting"),
            (std::vector<std::u16string>{u"GatewayHost", u"GatewayPort", u"DatMode", u"HtmlSSL",
                                         u"SubjectSubback", u"KakoLogHtml", u"WriteUrlencoded",
                                         u"WriteAcceptHeader", u"AcceptHeader", u"EnableFakeUA", u"FakeUA", u"AllowFrom"}));
  EXPECT_EQ(
      ini.KeyNames(u"Window"),
      (std::vector<std::u16string>{u"Position", u"ColumnOrder", u"ColumnWidth", u"AlwaysOnTop",
                                   u"WindowMinimize", u"ExitDialog", u"GridLine", u"LogSort", u"LogMax"}));
  EXPECT_EQ(ini.KeyNames(u"Network"),
            (std::vector<std::u16string>{u"ConnectTimeOut", u"ReceiveTimeOut", u"ProxyMode", u"Proxy",
                                         u"RecvBufferSize", u"MultiReadThread", u"CloseConnection"}));
  EXPECT_EQ(ini.KeyNames(u"2chAPI"),
            (std::vector<std::u16string>{u"SIDTime", u"Current", u"Count", u"Name00", u"Enable00", u"HMKey00",
                                         u"AppKey00", u"CT00", u"CTMode00", u"UserAgent00", u"XUserAgent00",
                                         u"UserAgentAuth00"}));
  EXPECT_EQ(ini.KeyNames(u"HTML"),
            (std::vector<std::u16string>{u"UserAgent", u"ApplyAllUA", u"DiffMode", u"DatCacheCount",
                                         u"RemoveHalfSpace", u"FixBRBR", u"FixFTPBug"}));
  EXPECT_EQ(ini.KeyNames(u"Ronin"), (std::vector<std::u16string>{u"LoginAPI", u"ID", u"Pass"}));

  EXPECT_EQ(ini.GetString(u"Setting", u"GatewayHost"), u"127.0.0.1");
  EXPECT_EQ(ini.GetString(u"Setting", u"GatewayPort"), u"8822");
  EXPECT_EQ(ini.GetString(u"Setting", u"DatMode"), u"2");
  EXPECT_EQ(ini.GetString(u"Window", u"Position"), u"0:0:0:0");
  EXPECT_EQ(ini.GetString(u"Window", u"ColumnOrder"), u"0:1:2:3:4:5:6:7");
  EXPECT_EQ(ini.GetString(u"Window", u"ColumnWidth"), u"13:140:150:240:100:140:70:70");
  EXPECT_EQ(ini.GetString(u"Window", u"ExitDialog"), u"1");
  EXPECT_EQ(ini.GetString(u"5ch", u"5ch"), u"1");
  EXPECT_EQ(ini.GetString(u"2chAPI", u"SIDTime"), u"720");
  EXPECT_EQ(ini.GetString(u"2chAPI", u"Count"), u"1");
  EXPECT_EQ(ini.GetString(u"2chAPI", u"Name00"), u"JaneStyle");
  EXPECT_EQ(ini.GetString(u"2chAPI", u"CTMode00"), u"1");
  EXPECT_EQ(ini.GetString(u"2chAPI", u"UserAgent00"), u"Mozilla/3.0 (compatible; JaneStyle/3.83)");
  EXPECT_EQ(ini.GetString(u"2chAPI", u"XUserAgent00"), u"JaneStyle/3.83");
  EXPECT_EQ(ini.GetString(u"Bregexp", u"Ver"), u"1");
  EXPECT_EQ(ini.GetString(u"Bregexp", u"Mode"), u"1");
  EXPECT_EQ(ini.GetInt(u"Bregexp", u"Count", -1), static_cast<int>(Values().PatternSets.size()));
  EXPECT_EQ(ini.GetString(u"Bregexp", u"Rule00"), u"ver 05.02.02");
  EXPECT_EQ(ini.GetString(u"FTPBug", u"Count"), u"1");
  EXPECT_EQ(ini.GetString(u"FTPBug", u"Ita00"), u"software");
  EXPECT_EQ(ini.GetString(u"FTPBug", u"Thread00"), u"1437650830");
  EXPECT_EQ(ini.GetString(u"FTPBug", u"Res00"), u"296");
  EXPECT_EQ(ini.GetString(u"AutoRule", u"Count"), u"2");
  EXPECT_EQ(ini.GetString(u"AutoRule", u"Rule00"), u"#carpenter");
  EXPECT_EQ(ini.GetString(u"AutoRule", u"Mode00"), u"0");
  EXPECT_EQ(ini.GetString(u"AutoRule", u"Rule01"), u"*");
  EXPECT_EQ(ini.GetString(u"AutoRule", u"Mode01"), u"2");
  EXPECT_EQ(ini.GetString(u"Ronin", u"Pass"), u"");
  EXPECT_EQ(ini.GetString(u"Domain", u"Primary"), u".2ch.net");
  EXPECT_EQ(ini.GetString(u"Domain", u"Secondary"), u".5ch.io");
  EXPECT_EQ(ini.GetString(u"Domain", u"Aliases"), u".5ch.net");
  EXPECT_EQ(ini.GetString(u"Domain", u"BeSecondary"), u"be.5ch.net");
}

TEST_F(CSettingFile, DomainSectionIsReadDefaultedAndValidated) {
  WriteBytes(Path(),
            "[Domain]\r\nSecondary=.5ch.example.test\r\nAdult=bbspink.com\r\nAliases= .5ch.net , .5ch.example.test,"
            ".old.test\r\nJsonSecondary=\r\nApiSecondary=api.example.test\r\n");
  ASSERT_EQ(setting_.Load(Path()), 0);
  const BoardDomains& d = setting_.Snapshot()->Domains;
  EXPECT_EQ(d.Primary, ".2ch.net") << "missing key keeps its default";
  EXPECT_EQ(d.Secondary, ".5ch.example.test");
  EXPECT_EQ(d.Adult, ".bbspink.com") << "a suffix without its dot is refused";
  EXPECT_EQ(d.Aliases, (std::vector<std::string>{".5ch.net", ".old.test"})) << "the secondary domain is no alias";
  EXPECT_EQ(d.JsonSecondary, "itest.5ch.net") << "empty value keeps the default";
  EXPECT_EQ(d.ApiSecondary, "api.example.test");
  ASSERT_EQ(setting_.LoadWarnings().size(), 1u);
  EXPECT_NE(setting_.LoadWarnings()[0].find(u"Adult=bbspink.com"), std::u16string::npos);

  WriteBytes(Path(), "[Domain]\r\nAliases=\r\n");
  ASSERT_EQ(setting_.Load(Path()), 0);
  EXPECT_TRUE(setting_.Snapshot()->Domains.Aliases.empty()) << "an empty Aliases means none";

  IniFile saved = SaveAndParse();
  EXPECT_EQ(saved.GetString(u"Domain", u"Aliases"), u"");
  EXPECT_EQ(saved.GetString(u"Domain", u"Secondary"), u".5ch.example.test");
}

TEST_F(CSettingFile, WrittenFileIsUtf16WithCrLf) {
  ASSERT_EQ(setting_.Load(Path()), -1);
  ASSERT_EQ(setting_.Save(), 0);
  const std::string bytes = ReadBytes(Path());
  const std::string start = Utf16LeWithMark("[Setting]\r\nGatewayHost=127.0.0.1\r\nGatewayPort=8822\r\n");
  EXPECT_EQ(bytes.substr(0, start.size()), start);
  ASSERT_EQ(bytes.size() % 2, 0u);
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    if (bytes[i] == '\n' && bytes[i + 1] == '\0') {
      ASSERT_GE(i, 4u);
      EXPECT_EQ(bytes.substr(i - 2, 2), std::string("\r\0", 2)) << "bare LF at byte " << i;
    }
  }
  const std::string end = Utf16LeWithMark("BeSecondary=be.5ch.net\r\n").substr(2);
  EXPECT_EQ(bytes.substr(bytes.size() - end.size()), end);
}

TEST_F(CSettingFile, EverySettingSurvivesASaveAndLoad) {
  setting_.Load(Path());
  setting_.Update([](SettingValues& v) {
    v.GatewayHost = CDoubleString::FromUtf8("0.0.0.0");
    v.GatewayPort = 18822;
    v.DatMode = 6;
    v.HtmlSSL = 1;
    v.FakeUA = CDoubleString::FromUtf8("Monazilla/1.00 (ジェーン)");
    v.Position = {-1920, 10, 800, 600};
    v.ColumnOrder = {7, 6, 5, 4, 3, 2, 1, 0};
    v.ColumnWidth = {1, 2, 3, 4, 5, 6, 7, 8};
    v.LogMax = 50;
    v.Proxy = CDoubleString::FromUtf8("127.0.0.1:3128");
    v.Use5ch = 0;
    v.SIDTime = 0;
    v.Current = 1;
    C2chAPIInfo second;
    second.Name = CDoubleString::FromUtf8("二つ目");
    second.Enable = 0;
    second.HMKey = CDoubleString::FromUtf8("hm");
    second.AppKey = CDoubleString::FromUtf8("app");
    second.CT = CDoubleString::FromUtf8("1234567890");
    second.CTMode = 0;
    second.UserAgent = CDoubleString::FromUtf8("ua");
    second.XUserAgent = CDoubleString::FromUtf8("xua");
    second.UserAgentAuth = CDoubleString::FromUtf8("uaa");
    v.ApiProfiles.push_back(second);
    v.DiffMode = 1;
    v.DatCacheCount = 7;
    v.BregexpMode = 0;
    v.PatternSets.resize(2);
    v.PatternSets[1].label = u"自作";
    v.PatternSets[1].res = CDoubleString::FromUtf8("/<p>(\\d+)(.+?)(.+?)(.+?)<\\/p>/");
    v.FtpBugEntries.push_back(FtpBugEntry{u"news", u"1500000000", {1, 2, 3}});
    v.JaneStylePath = CDoubleString::FromUtf8("/opt/ジェーン/Jane2ch.exe");
    v.LogsPath = CDoubleString::FromUtf8("/opt/logs");
    v.UseHtmlUA = 0;
    v.JsonUserAgent = CDoubleString::FromUtf8("json-ua");
    v.AutoRules = {CAutoRule{u"/test/read.cgi/", 4}};
    v.LoginAPI = 1;
    v.RoninID = CDoubleString::FromUtf8("user@example.invalid");
    v.RoninPass = CDoubleString::FromUtf8("秘密pass");
  });
  ASSERT_EQ(setting_.Save(), 0);
  const SettingValues saved = Values();

  CSetting reloaded;
  ASSERT_EQ(reloaded.Load(Path()), 0);
  const SettingValues& v = *reloaded.Snapshot();
  EXPECT_EQ(v.GatewayHost, saved.GatewayHost);
  EXPECT_EQ(v.GatewayPort, 18822);
  EXPECT_EQ(v.DatMode, 6);
  EXPECT_EQ(v.HtmlSSL, 1);
  EXPECT_EQ(v.FakeUA.Wide(), u"Monazilla/1.00 (ジェーン)");
  EXPECT_EQ(v.Position, saved.Position);
  EXPECT_EQ(v.ColumnOrder, saved.ColumnOrder);
  EXPECT_EQ(v.ColumnWidth, saved.ColumnWidth);
  EXPECT_EQ(v.LogMax, 50);
  EXPECT_EQ(v.Proxy, saved.Proxy);
  EXPECT_EQ(v.Use5ch, 0);
  EXPECT_EQ(v.SIDTime, 0);
  EXPECT_EQ(v.Current, 1);
  ASSERT_EQ(v.ApiProfiles.size(), 2u);
  const C2chAPIInfo& p = v.ApiProfiles[1];
  EXPECT_EQ(p.Name.Wide(), u"二つ目");
  EXPECT_EQ(p.Enable, 0);
  EXPECT_EQ(p.HMKey.Wide(), u"hm");
  EXPECT_EQ(p.AppKey.Wide(), u"app");
  EXPECT_EQ(p.CT.Wide(), u"1234567890");
  EXPECT_EQ(p.CTMode, 0);
  EXPECT_EQ(p.UserAgent.Wide(), u"ua");
  EXPECT_EQ(p.XUserAgent.Wide(), u"xua");
  EXPECT_EQ(p.UserAgentAuth.Wide(), u"uaa");
  EXPECT_EQ(v.ApiProfiles[0].Name.Wide(), u"JaneStyle");
  EXPECT_EQ(v.DiffMode, 1);
  EXPECT_EQ(v.DatCacheCount, 7);
  EXPECT_EQ(v.BregexpMode, 0);
  ASSERT_EQ(v.PatternSets.size(), 2u);
  EXPECT_EQ(v.PatternSets[0].label, saved.PatternSets[0].label);
  EXPECT_EQ(v.PatternSets[0].title, saved.PatternSets[0].title);
  EXPECT_EQ(v.PatternSets[0].res, saved.PatternSets[0].res);
  EXPECT_EQ(v.PatternSets[0].be, saved.PatternSets[0].be);
  EXPECT_EQ(v.PatternSets[0].mailName, saved.PatternSets[0].mailName);
  EXPECT_EQ(v.PatternSets[0].name, saved.PatternSets[0].name);
  EXPECT_EQ(v.PatternSets[1].label, u"自作");
  EXPECT_EQ(v.PatternSets[1].res, saved.PatternSets[1].res);
  EXPECT_EQ(v.PatternSets[1].title, saved.PatternSets[1].title);
  ASSERT_EQ(v.FtpBugEntries.size(), 2u);
  EXPECT_EQ(v.FtpBugEntries[1].board, u"news");
  EXPECT_EQ(v.FtpBugEntries[1].thread, u"1500000000");
  EXPECT_EQ(v.FtpBugEntries[1].posts, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(v.JaneStylePath.Wide(), u"/opt/ジェーン/Jane2ch.exe");
  EXPECT_EQ(v.LogsPath.Wide(), u"/opt/logs");
  EXPECT_EQ(v.UseHtmlUA, 0);
  EXPECT_EQ(v.JsonUserAgent.Wide(), u"json-ua");
  ASSERT_EQ(v.AutoRules.size(), 1u);
  EXPECT_EQ(v.AutoRules[0].rule, u"/test/read.cgi/");
  EXPECT_EQ(v.AutoRules[0].mode, 4);
  EXPECT_EQ(v.LoginAPI, 1);
  EXPECT_EQ(v.RoninID.Wide(), u"user@example.invalid");
  EXPECT_EQ(v.RoninPass.Wide(), u"秘密pass");
}

// --- the "when missing" rules ---

TEST_F(CSettingFile, AbsentKeysTakeTheirMissingValues) {
  setting_.Update([](SettingValues& v) {
    v.DatMode = 4;
    v.Proxy = CDoubleString::FromUtf8("kept:8080");
    v.JaneStylePath = CDoubleString::FromUtf8("/was/set");
    v.LogsPath = CDoubleString::FromUtf8("/logs/kept");
    v.RoninID = CDoubleString::FromUtf8("kept-id");
    v.RoninPass = CDoubleString::FromUtf8("kept-pass");
  });
  const SettingValues before = Values();
  ASSERT_EQ(LoadText("[Setting]\r\nGatewayPort=9000\r\n"), 0);
  const SettingValues& v = Values();
  EXPECT_EQ(v.GatewayPort, 9000);
  EXPECT_EQ(v.DatMode, 2);
  EXPECT_EQ(v.SIDTime, -1);
  EXPECT_EQ(v.BregexpMode, 0);
  EXPECT_EQ(v.ExitDialog, 1);
  EXPECT_EQ(v.MultiReadThread, 1);
  EXPECT_EQ(v.LogMax, 25);
  EXPECT_TRUE(v.ApiProfiles.empty()) << "no profile keys: the list is emptied";
  EXPECT_EQ(v.PatternSets.size(), before.PatternSets.size()) << "no Ver: the sets stay";
  EXPECT_EQ(v.FtpBugEntries.size(), 1u);
  EXPECT_EQ(v.AutoRules.size(), 2u);
  EXPECT_EQ(v.Proxy.Wide(), u"kept:8080");
  EXPECT_TRUE(v.JaneStylePath.Empty()) << "Path is always taken";
  EXPECT_EQ(v.LogsPath.Wide(), u"/logs/kept");
  EXPECT_EQ(v.RoninID.Wide(), u"kept-id");
  EXPECT_EQ(v.RoninPass.Wide(), u"kept-pass");
  EXPECT_EQ(v.GatewayHost, before.GatewayHost);
}

TEST_F(CSettingFile, EmptyTextValuesKeepDefaultsButEmptyPathEmpties) {
  setting_.Update([](SettingValues& v) { v.JaneStylePath = CDoubleString::FromUtf8("/x/Jane2ch.exe"); });
  const SettingValues defaults = Values();
  ASSERT_EQ(LoadText("[Setting]\r\nGatewayHost=\r\nAcceptHeader=\r\nFakeUA=  \r\n"
                     "[HTML]\r\nUserAgent=\r\n[JaneStyle]\r\nPath=\r\nLogsPath=\r\n"),
            0);
  const SettingValues& v = Values();
  EXPECT_EQ(v.GatewayHost, defaults.GatewayHost);
  EXPECT_EQ(v.AcceptHeader, defaults.AcceptHeader);
  EXPECT_EQ(v.FakeUA, defaults.FakeUA);
  EXPECT_EQ(v.HtmlUserAgent, defaults.HtmlUserAgent);
  EXPECT_TRUE(v.JaneStylePath.Empty());
}

TEST_F(CSettingFile, LongTextValuesAreCutTo511Characters) {
  const std::string longValue(600, 'u');
  ASSERT_EQ(LoadText("[Setting]\r\nFakeUA=" + longValue + "\r\n[2chAPI]\r\nCount=1\r\nName00=" + longValue +
                     "\r\n[Window]\r\nColumnWidth=" + std::string(507, '0') + "12:34\r\n"),
            0);
  EXPECT_EQ(Values().FakeUA.Wide(), std::u16string(511, u'u'));
  ASSERT_EQ(Values().ApiProfiles.size(), 1u);
  EXPECT_EQ(Values().ApiProfiles[0].Name.Wide().size(), 511u);
  // The 511-character buffer ends inside the second field.
  EXPECT_EQ(Values().ColumnWidth[0], 12);
  EXPECT_EQ(Values().ColumnWidth[1], 3);
}

// --- clamps and colon lists ---

TEST_F(CSettingFile, OutOfRangeNumbersAreClamped) {
  ASSERT_EQ(LoadText("[Window]\r\nLogMax=0\r\n[Network]\r\nConnectTimeOut=5\r\nReceiveTimeOut=-3\r\n"
                     "RecvBufferSize=100\r\n"),
            0);
  EXPECT_EQ(Values().LogMax, 1);
  EXPECT_EQ(Values().ConnectTimeOut, 1000);
  EXPECT_EQ(Values().ReceiveTimeOut, 1000);
  EXPECT_EQ(Values().RecvBufferSize, 256);

  ASSERT_EQ(LoadText("[Window]\r\nLogMax=99\r\n[Network]\r\nConnectTimeOut=1000\r\nRecvBufferSize=256\r\n"),
            0);
  EXPECT_EQ(Values().LogMax, 50);
  EXPECT_EQ(Values().ConnectTimeOut, 1000);
  EXPECT_EQ(Values().RecvBufferSize, 256);
}

TEST_F(CSettingFile, ColonListsSetOnlyTheSlotsTheyHave) {
  setting_.Update([](SettingValues& v) { v.Position = {5, 6, 7, 8}; });
  ASSERT_EQ(LoadText("[Window]\r\nColumnOrder=3:x:-2\r\n"), 0);
  const SettingValues& v = Values();
  EXPECT_EQ(v.ColumnWidth, (std::array<int, 8>{0, 140, 150, 240, 100, 140, 70, 70})) << "absent: slot 0 only";
  EXPECT_EQ(v.Position, (std::array<int, 4>{0, 6, 7, 8}));
  EXPECT_EQ(v.ColumnOrder, (std::array<int, 8>{3, 0, -2, 3, 4, 5, 6, 7}));

  ASSERT_EQ(LoadText("[Window]\r\nColumnWidth=20:30\r\nPosition=-100:-50:640:480:9\r\n"), 0);
  EXPECT_EQ(Values().ColumnWidth, (std::array<int, 8>{20, 30, 150, 240, 100, 140, 70, 70}));
  EXPECT_EQ(Values().Position, (std::array<int, 4>{-100, -50, 640, 480}));
}

// --- API profiles ---

TEST_F(CSettingFile, OldOneDigitProfileKeysAreReadAndWrittenBackWithTwoDigits) {
  ASSERT_EQ(LoadText("[2chAPI]\r\nCount=2\r\nName00=\r\nName0=First\r\nHMKey0=k0\r\nCTMode0=0\r\n"
                     "Name1=Second\r\nEnable1=0\r\nName01=ignored\r\n"),
            0);
  ASSERT_EQ(Values().ApiProfiles.size(), 2u);
  EXPECT_EQ(Values().ApiProfiles[0].Name.Wide(), u"First");
  EXPECT_EQ(Values().ApiProfiles[0].HMKey.Wide(), u"k0");
  EXPECT_EQ(Values().ApiProfiles[0].CTMode, 0);
  EXPECT_EQ(Values().ApiProfiles[0].Enable, 1);
  EXPECT_EQ(Values().ApiProfiles[1].Name.Wide(), u"Second");
  EXPECT_EQ(Values().ApiProfiles[1].Enable, 0);

  IniFile saved = SaveAndParse();
  EXPECT_EQ(saved.GetString(u"2chAPI", u"Name00"), u"First");
  EXPECT_EQ(saved.GetString(u"2chAPI", u"Name01"), u"Second");
  EXPECT_EQ(saved.GetString(u"2chAPI", u"HMKey00"), u"k0");
  EXPECT_FALSE(saved.GetString(u"2chAPI", u"Name0").has_value());
  EXPECT_FALSE(saved.GetString(u"2chAPI", u"Name1").has_value());
}

TEST_F(CSettingFile, ProfilesBeyondTheStoredKeysAreBlank) {
  ASSERT_EQ(LoadText("[2chAPI]\r\nCount=2\r\nName00=Only\r\nUserAgent00=ua\r\n"), 0);
  ASSERT_EQ(Values().ApiProfiles.size(), 2u);
  const C2chAPIInfo& blank = Values().ApiProfiles[1];
  EXPECT_TRUE(blank.Name.Empty());
  EXPECT_TRUE(blank.UserAgent.Empty()) << "texts are taken even when absent";
  EXPECT_TRUE(blank.XUserAgent.Empty());
  EXPECT_EQ(blank.Enable, 1);
  EXPECT_EQ(blank.CTMode, 1);

  ASSERT_EQ(LoadText("[2chAPI]\r\nCount=-4\r\nName00=x\r\n"), 0);
  EXPECT_TRUE(Values().ApiProfiles.empty());
}

TEST_F(CSettingFile, AbsurdCountsDoNotHangTheLoad) {
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(LoadText("[2chAPI]\r\nCount=2147483647\r\n[Bregexp]\r\nVer=1\r\nCount=2147483647\r\n"
                     "[FTPBug]\r\nCount=2147483647\r\n[AutoRule]\r\nCount=999999999\r\n"),
            0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_LE(Values().ApiProfiles.size(), 1000u);
  EXPECT_LE(Values().PatternSets.size(), 1000u);
  EXPECT_LE(Values().AutoRules.size(), 1000u);
  EXPECT_TRUE(Values().FtpBugEntries.empty()) << "entries without posts are dropped";
}

// --- pattern sets ---

TEST_F(CSettingFile, PatternSetsFollowVerAndCount) {
  const std::size_t defaults = Values().PatternSets.size();
  ASSERT_GT(defaults, 1u);

  ASSERT_EQ(LoadText("[Bregexp]\r\nVer=0\r\nMode=1\r\nCount=1\r\nRule00=stored\r\nRes00=/x/\r\n"), 0);
  EXPECT_EQ(Values().PatternSets.size(), defaults) << "other Ver: defaults kept";
  EXPECT_EQ(Values().BregexpMode, 1);

  ASSERT_EQ(LoadText("[Bregexp]\r\nVer=1\r\nCount=0\r\nRule00=stored\r\n"), 0);
  EXPECT_EQ(Values().PatternSets.size(), defaults) << "Count 0: defaults kept";

  ASSERT_EQ(LoadText("[Bregexp]\r\nVer=1\r\nCount=1\r\nRes00=/<p>(.+?)<\\/p>/\r\nRule00=" +
                     std::string(300, 'r') + "\r\nBE00=/be/\r\nName00=/n/\r\nMailName00=/mn/\r\n"),
            0);
  ASSERT_EQ(Values().PatternSets.size(), 1u);
  const CRegexpPatternInfo& set = Values().PatternSets[0];
  EXPECT_EQ(set.label, std::u16string(255, u'r'));
  EXPECT_TRUE(set.title.Empty());
  EXPECT_EQ(set.res.Narrow(), "/<p>(.+?)<\\/p>/");
  EXPECT_EQ(set.be.Narrow(), "/be/");
  EXPECT_EQ(set.name.Narrow(), "/n/");
  EXPECT_EQ(set.mailName.Narrow(), "/mn/");

  ASSERT_EQ(LoadText("[Bregexp]\r\nVer=1\r\nCount=-1\r\n"), 0);
  EXPECT_TRUE(Values().PatternSets.empty()) << "negative Count empties the list";
}

// --- FTP-bug entries and auto rules ---

TEST_F(CSettingFile, FtpBugPostNumbersAreParsedAndJoined) {
  ASSERT_EQ(LoadText("[FTPBug]\r\nCount=3\r\nIta00=a\r\nThread00=1\r\nRes00=12,abc,15\r\n"
                     "Ita01=dropped\r\nThread01=2\r\nRes01=\r\nIta02=c\r\nThread02=3\r\nRes02=-4\r\n"),
            0);
  ASSERT_EQ(Values().FtpBugEntries.size(), 2u);
  EXPECT_EQ(Values().FtpBugEntries[0].posts, (std::vector<std::int32_t>{12, 0, 15}));
  EXPECT_EQ(Values().FtpBugEntries[1].board, u"c");
  EXPECT_EQ(Values().FtpBugEntries[1].posts, (std::vector<std::int32_t>{-4}));

  IniFile saved = SaveAndParse();
  EXPECT_EQ(saved.GetString(u"FTPBug", u"Count"), u"2");
  EXPECT_EQ(saved.GetString(u"FTPBug", u"Res00"), u"12,0,15");
  EXPECT_EQ(saved.GetString(u"FTPBug", u"Ita01"), u"c");

  ASSERT_EQ(LoadText("[FTPBug]\r\nCount=0\r\nIta00=x\r\nRes00=1\r\n"), 0);
  EXPECT_EQ(Values().FtpBugEntries.size(), 2u) << "Count 0 keeps the list";
}

TEST_F(CSettingFile, FtpBugPostListIsWrittenInWholeNumbersUpTo4095Characters) {
  setting_.Load(Path());
  setting_.Update([](SettingValues& v) {
    v.FtpBugEntries = {FtpBugEntry{u"b", u"t", std::vector<std::int32_t>(1000, 1000)}};
  });
  IniFile saved = SaveAndParse();
  std::u16string res = saved.GetString(u"FTPBug", u"Res00").value_or(u"");
  EXPECT_LE(res.size(), 4095u);
  EXPECT_GT(res.size(), 4090u);
  EXPECT_EQ(res.substr(res.size() - 5), u",1000");
}

TEST_F(CSettingFile, AutoRulesReplaceTheDefaultsOnlyWithAPositiveCount) {
  ASSERT_EQ(LoadText("[AutoRule]\r\nCount=2\r\nRule00=#pink\r\nMode00=4\r\nRule01=" + std::string(60, 'z') +
                     "\r\n"),
            0);
  ASSERT_EQ(Values().AutoRules.size(), 2u);
  EXPECT_EQ(Values().AutoRules[0].rule, u"#pink");
  EXPECT_EQ(Values().AutoRules[0].mode, 4);
  EXPECT_EQ(Values().AutoRules[1].rule, std::u16string(47, u'z'));
  EXPECT_EQ(Values().AutoRules[1].mode, 2);

  ASSERT_EQ(LoadText("[AutoRule]\r\nCount=-1\r\n"), 0);
  EXPECT_EQ(Values().AutoRules.size(), 2u);
}

// --- encodings of the file ---

TEST_F(CSettingFile, ReadsUtf16Utf8AndCp932Files) {
  const std::string text =
      "[Setting]\r\nFakeUA=Monazilla/1.00 (ジェーン)\r\n[AutoRule]\r\nCount=1\r\nRule00=ニュース速報\r\n";

  ASSERT_EQ(LoadBytes(Utf16LeWithMark(text)), 0);
  EXPECT_EQ(Values().FakeUA.Wide(), u"Monazilla/1.00 (ジェーン)");
  EXPECT_EQ(Values().AutoRules[0].rule, u"ニュース速報");

  setting_.Update([](SettingValues& v) { v.AutoRules.clear(); });
  ASSERT_EQ(LoadBytes("\xEF\xBB\xBF" + text), 0);
  EXPECT_EQ(Values().FakeUA.Wide(), u"Monazilla/1.00 (ジェーン)");
  ASSERT_EQ(Values().AutoRules.size(), 1u);
  EXPECT_EQ(Values().AutoRules[0].rule, u"ニュース速報");

  setting_.Update([](SettingValues& v) { v.AutoRules.clear(); });
  ASSERT_EQ(LoadBytes(text), 0);
  ASSERT_EQ(Values().AutoRules.size(), 1u);
  EXPECT_EQ(Values().AutoRules[0].rule, u"ニュース速報");

  setting_.Update([](SettingValues& v) { v.AutoRules.clear(); });
  ASSERT_EQ(LoadBytes(Sjis(text)), 0);
  EXPECT_EQ(Values().FakeUA.Narrow(), Sjis("Monazilla/1.00 (ジェーン)"));
  ASSERT_EQ(Values().AutoRules.size(), 1u);
  EXPECT_EQ(Values().AutoRules[0].rule, u"ニュース速報");
}

// --- saving safely ---

TEST_F(CSettingFile, AFailedSaveKeepsTheOldFile) {
  ASSERT_EQ(LoadText("[Setting]\r\nDatMode=4\r\n"), 0);
  const std::string old = ReadBytes(Path());
  setting_.Update([](SettingValues& v) { v.DatMode = 1; });
  IniFile::SetSaveFaultHookForTesting(
      [](IniFile::SaveStep step) { return step == IniFile::SaveStep::Write; });
  EXPECT_EQ(setting_.Save(), -1);
  IniFile::SetSaveFaultHookForTesting(nullptr);
  EXPECT_EQ(ReadBytes(Path()), old);

  EXPECT_EQ(setting_.Save(), 0);
  IniFile saved;
  ASSERT_EQ(IniFile::LoadFile(Path(), saved), IniFile::kOk);
  EXPECT_EQ(saved.GetInt(u"Setting", u"DatMode", -1), 1);
}

// --- the stored password ---

TEST(CSettingPassword, KnownEncodings) {
  EXPECT_EQ(CSetting::EncodePassword(""), "");
  EXPECT_EQ(CSetting::EncodePassword("a"), "YQ==");    // 0x61
  EXPECT_EQ(CSetting::EncodePassword("ab"), "YWM=");   // 0x61 0x63
  EXPECT_EQ(CSetting::EncodePassword("abc"), "YWNh");  // 0x61 0x63 0x61
  EXPECT_EQ(CSetting::EncodePassword("abcd"), "YWNhZw==");
  // Byte i XOR (i & 0xFF) turns the bytes 0, 1, ..., 255, 0, 1, ... into zeros.
  std::string positions;
  for (int i = 0; i < 300; ++i) positions.push_back(static_cast<char>(i & 0xFF));
  EXPECT_EQ(CSetting::EncodePassword(positions), std::string(400, 'A'));
}

TEST(CSettingPassword, LengthsAndRoundTrip) {
  for (std::size_t length : {1u, 2u, 3u}) {
    std::string password(length, 'p');
    EXPECT_EQ(CSetting::EncodePassword(password).size(), 4u);
    EXPECT_EQ(CSetting::DecodePassword(CSetting::EncodePassword(password)), password);
  }
  const std::string sixty(60, 'x');
  const std::string stored = CSetting::EncodePassword(sixty);
  EXPECT_EQ(stored.size(), 80u);
  EXPECT_EQ(stored.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(CSetting::DecodePassword(stored), sixty);

  std::string everyByte;
  for (int i = 0; i < 600; ++i) everyByte.push_back(static_cast<char>(i * 7));
  EXPECT_EQ(CSetting::DecodePassword(CSetting::EncodePassword(everyByte)), everyByte);
}

TEST(CSettingPassword, DecodeSkipsLineBreaksAndStopsAtPadding) {
  EXPECT_EQ(CSetting::DecodePassword("YW\r\nNh"), "abc");
  EXPECT_EQ(CSetting::DecodePassword("YWM=YWNh"), "ab");
  EXPECT_EQ(CSetting::DecodePassword(""), "");
  EXPECT_EQ(CSetting::DecodePassword("Y"), "");  // six bits make no byte
}

TEST_F(CSettingFile, PasswordIsStoredScrambledAndReadBack) {
  setting_.Load(Path());
  setting_.Update([](SettingValues& v) { v.RoninPass = CDoubleString::FromUtf8("abc"); });
  IniFile saved = SaveAndParse();
  EXPECT_EQ(saved.GetString(u"Ronin", u"Pass"), u"YWNh");

  ASSERT_EQ(LoadText("[Ronin]\r\nLoginAPI=1\r\nID=me\r\nPass=YWM=\r\n"), 0);
  EXPECT_EQ(Values().RoninPass.Narrow(), "ab");
  EXPECT_EQ(Values().RoninID.Narrow(), "me");
  EXPECT_EQ(Values().LoginAPI, 1);
}

}  // namespace
}  // namespace tav
