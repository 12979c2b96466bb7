#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "platform/IniFile.h"
#include "platform/TextCodec.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

using test::TempDir;

using test::ReadBytes;
using test::WriteBytes;

std::string Utf16Le(std::u16string_view text, bool bom = true) {
  std::string bytes = bom ? "\xFF\xFE" : "";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Utf16Be(std::u16string_view text) {
  std::string bytes = "\xFE\xFF";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit >> 8));
    bytes.push_back(static_cast<char>(unit & 0xFF));
  }
  return bytes;
}

// Makes one step of every save on this thread fail while it lives.
class SaveFault {
 public:
  explicit SaveFault(IniFile::SaveStep failing) {
    IniFile::SetSaveFaultHookForTesting([failing](IniFile::SaveStep step) { return step == failing; });
  }
  ~SaveFault() { IniFile::SetSaveFaultHookForTesting(nullptr); }
  SaveFault(const SaveFault&) = delete;
  SaveFault& operator=(const SaveFault&) = delete;
};

// --- reading ---

TEST(IniFileParse, NamesIgnoreCaseAndValuesAreTrimmed) {
  IniFile ini = IniFile::Parse(
      "[Setting]\r\n"
      "  GatewayHost \t=\t 127.0.0.2  \r\n"
      "Empty=\r\n"
      "Inner = a = b \r\n");
  EXPECT_EQ(ini.GetString(u"setting", u"gatewayhost"), u"127.0.0.2");
  EXPECT_EQ(ini.GetString(u"SETTING", u"GATEWAYHOST"), u"127.0.0.2");
  EXPECT_EQ(ini.GetString(u"Setting", u"Empty"), u"");
  EXPECT_EQ(ini.GetString(u"Setting", u"Inner"), u"a = b");  // split at the first '='
  EXPECT_EQ(ini.GetString(u"Setting", u"Missing"), std::nullopt);
  EXPECT_EQ(ini.GetString(u"Other", u"GatewayHost"), std::nullopt);
}

TEST(IniFileParse, FirstOccurrenceWinsAndRepeatedSectionsAreOne) {
  IniFile ini = IniFile::Parse(
      "[A]\nkey=first\nKEY=second\n"
      "[B]\nonly=b\n"
      "[a]\nkey=third\nlate=yes\n");
  EXPECT_EQ(ini.GetString(u"A", u"key"), u"first");
  EXPECT_EQ(ini.GetString(u"A", u"late"), u"yes");
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::u16string>{u"A", u"B"}));
  EXPECT_EQ(ini.KeyNames(u"a"), (std::vector<std::u16string>{u"key", u"late"}));
}

TEST(IniFileParse, CommentsStrayLinesAndHeaderlessKeysAreIgnored) {
  IniFile ini = IniFile::Parse(
      "orphan=1\n"
      "; comment=1\n"
      "[S]\n"
      "  ;indented=1\n"
      "no equals sign\n"
      "=nameless\n"
      "[ Spaced ] trailing text\n"
      "k=v\n"
      "[Broken\n"
      "after=broken\n");
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::u16string>{u"S", u"Spaced"}));
  EXPECT_TRUE(ini.KeyNames(u"S").empty());
  EXPECT_EQ(ini.GetString(u"Spaced", u"k"), u"v");
  // A '[' line without ']' is no header; the keys stay in the section before.
  EXPECT_EQ(ini.GetString(u"Spaced", u"after"), u"broken");
}

TEST(IniFileParse, LineEndsOfEveryKind) {
  IniFile ini = IniFile::Parse("[S]\ra=1\nb=2\r\nc=3\n\rd=4");
  EXPECT_EQ(ini.GetString(u"S", u"a"), u"1");
  EXPECT_EQ(ini.GetString(u"S", u"b"), u"2");
  EXPECT_EQ(ini.GetString(u"S", u"c"), u"3");
  EXPECT_EQ(ini.GetString(u"S", u"d"), u"4");
}

TEST(IniFileInt, PrivateProfileIntegerReader) {
  IniFile ini = IniFile::Parse(
      "[N]\nplain=42\nneg=-7\nlead=12abc\nword=abc\nempty=\nminus=-\nplus=+5\n"
      "big=99999999999\nsmall=-99999999999\nspaced=  8 \nmin=-2147483648\n");
  EXPECT_EQ(ini.GetInt(u"N", u"plain", -1), 42);
  EXPECT_EQ(ini.GetInt(u"N", u"neg", -1), -7);
  EXPECT_EQ(ini.GetInt(u"N", u"lead", -1), 12);
  EXPECT_EQ(ini.GetInt(u"N", u"word", -1), 0);
  EXPECT_EQ(ini.GetInt(u"N", u"minus", -1), 0);
  EXPECT_EQ(ini.GetInt(u"N", u"plus", -1), 0);
  EXPECT_EQ(ini.GetInt(u"N", u"empty", 33), 33);
  EXPECT_EQ(ini.GetInt(u"N", u"absent", 44), 44);
  EXPECT_EQ(ini.GetInt(u"Nowhere", u"plain", 55), 55);
  EXPECT_EQ(ini.GetInt(u"N", u"big", 0), INT_MAX);
  EXPECT_EQ(ini.GetInt(u"N", u"small", 0), INT_MIN);
  EXPECT_EQ(ini.GetInt(u"N", u"spaced", 0), 8);
  EXPECT_EQ(ini.GetInt(u"N", u"min", 0), INT_MIN);
}

// --- encodings ---

TEST(IniFileEncoding, Utf16WithByteOrderMark) {
  const std::u16string text = u"[S]\r\nname=板\U0001F600\r\n";
  EXPECT_EQ(IniFile::DetectEncoding(Utf16Le(text)), IniFile::Encoding::Utf16Le);
  EXPECT_EQ(IniFile::Parse(Utf16Le(text)).GetString(u"S", u"name"), u"板\U0001F600");
  EXPECT_EQ(IniFile::DetectEncoding(Utf16Be(text)), IniFile::Encoding::Utf16Be);
  EXPECT_EQ(IniFile::Parse(Utf16Be(text)).GetString(u"S", u"name"), u"板\U0001F600");
}

TEST(IniFileEncoding, Utf8WithAndWithoutByteOrderMark) {
  const std::string text = "[S]\r\nname=スレッド\r\n";
  EXPECT_EQ(IniFile::DetectEncoding("\xEF\xBB\xBF" + text), IniFile::Encoding::Utf8WithBom);
  EXPECT_EQ(IniFile::Parse("\xEF\xBB\xBF" + text).GetString(u"S", u"name"), u"スレッド");
  EXPECT_EQ(IniFile::DetectEncoding(text), IniFile::Encoding::Utf8);
  EXPECT_EQ(IniFile::Parse(text).GetString(u"S", u"name"), u"スレッド");
  // The mark is no part of the first section's name.
  EXPECT_EQ(IniFile::Parse("\xEF\xBB\xBF" + text).SectionNames(), (std::vector<std::u16string>{u"S"}));
}

TEST(IniFileEncoding, Cp932WhenNotUtf8) {
  const std::string text = Sjis("[AutoRule]\r\nRule00=ソフトウェア板\r\n");
  EXPECT_EQ(IniFile::DetectEncoding(text), IniFile::Encoding::Cp932);
  EXPECT_EQ(IniFile::Parse(text).GetString(u"AutoRule", u"Rule00"), u"ソフトウェア板");
}

// --- bad input ---

TEST(IniFileBadInput, OddByteCountAndLoneSurrogates) {
  std::string odd = Utf16Le(u"[S]\nk=v") + "\x41";
  EXPECT_EQ(IniFile::Parse(odd).GetString(u"S", u"k"), u"v");

  std::u16string lone = u"[S]\nhigh=a";
  lone += static_cast<char16_t>(0xD800);
  lone += u"b\nlow=";
  lone += static_cast<char16_t>(0xDC00);
  lone += u"\nend=";
  lone += static_cast<char16_t>(0xDBFF);
  IniFile ini = IniFile::Parse(Utf16Le(lone));
  EXPECT_EQ(ini.GetString(u"S", u"high"), u"a\uFFFDb");
  EXPECT_EQ(ini.GetString(u"S", u"low"), u"\uFFFD");
  EXPECT_EQ(ini.GetString(u"S", u"end"), u"\uFFFD");
}

TEST(IniFileBadInput, InvalidBytesAfterUtf8MarkBecomeReplacementCharacters) {
  IniFile ini = IniFile::Parse(
      "\xEF\xBB\xBF[S]\nk=a\xC0\xAF"
      "b\xED\xA0\x80"
      "c\n");
  std::optional<std::u16string> value = ini.GetString(u"S", u"k");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->front(), u'a');
  EXPECT_EQ(value->back(), u'c');
  for (char16_t unit : *value) {
    EXPECT_FALSE(unit >= 0xD800 && unit <= 0xDFFF) << "surrogate left in the value";
  }
}

TEST(IniFileBadInput, NulEndsALine) {
  IniFile ini = IniFile::Parse("[S]\nk=abc\0hidden=1\nnext=2\n"s);
  EXPECT_EQ(ini.GetString(u"S", u"k"), u"abc");
  EXPECT_EQ(ini.GetString(u"S", u"hidden"), u"1");
  EXPECT_EQ(ini.GetString(u"S", u"next"), u"2");
}

TEST(IniFileBadInput, HugeLinesAndDegenerateFiles) {
  std::string huge = "[S]\nk=" + std::string(4u << 20, 'x') + "\nafter=1\n" + std::string(1u << 20, '[');
  IniFile ini = IniFile::Parse(huge);
  EXPECT_EQ(ini.GetString(u"S", u"k")->size(), 4u << 20);
  EXPECT_EQ(ini.GetString(u"S", u"after"), u"1");

  for (std::string degenerate : {std::string(), std::string("\xFF\xFE"), std::string("\xFE\xFF\x00", 3),
                                 std::string("\xEF\xBB\xBF"), std::string("["), std::string("]"),
                                 std::string("[]\n=\n"), std::string(1000, '\0'), std::string("\x81")}) {
    IniFile parsed = IniFile::Parse(degenerate);
    EXPECT_FALSE(parsed.GetString(u"S", u"k").has_value());
  }
}

// --- writing ---

TEST(IniFileWrite, InsertionOrderAndReplacementInPlace) {
  IniFile ini;
  ini.SetString(u"B", u"two", u"2");
  ini.SetString(u"A", u"one", u"1");
  ini.SetInt(u"B", u"three", -3);
  ini.SetString(u"b", u"TWO", u"22");  // same key, other case: replaced in place
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::u16string>{u"B", u"A"}));
  EXPECT_EQ(ini.KeyNames(u"B"), (std::vector<std::u16string>{u"two", u"three"}));
  EXPECT_EQ(ini.Serialize(), Utf16Le(u"[B]\r\ntwo=22\r\nthree=-3\r\n[A]\r\none=1\r\n"));
}

TEST(IniFileWrite, ValuesCannotAddLines) {
  IniFile ini;
  ini.SetString(u"S", u"k", u"a\r\n[Evil]\nx=1\0y"s);
  IniFile back = IniFile::Parse(ini.Serialize());
  EXPECT_EQ(back.SectionNames(), (std::vector<std::u16string>{u"S"}));
  EXPECT_EQ(back.GetString(u"S", u"k"), std::u16string(u"a  [Evil] x=1 y"));
}

TEST(IniFileWrite, RoundTripKeepsEveryCharacter) {
  IniFile ini;
  ini.SetString(u"Setting", u"FakeUA", u"Monazilla/1.00 (ジェーン) \U0001F600;=[]");
  ini.SetString(u"Setting", u"Empty", u"");
  IniFile back = IniFile::Parse(ini.Serialize());
  EXPECT_EQ(back.GetString(u"Setting", u"FakeUA"), u"Monazilla/1.00 (ジェーン) \U0001F600;=[]");
  EXPECT_EQ(back.GetString(u"Setting", u"Empty"), u"");
}

// --- files ---

TEST(IniFileSave, WritesUtf16WithMarkAndCrLf) {
  TempDir dir;
  IniFile ini;
  ini.SetString(u"Setting", u"GatewayHost", u"127.0.0.1");
  ini.SetInt(u"Setting", u"GatewayPort", 8822);
  const std::string path = dir.File("Tavrilox.ini");
  ASSERT_EQ(ini.SaveFile(path), IniFile::kOk);
  const std::string bytes = ReadBytes(path);
  const std::string expected("\xFF\xFE[\0S\0e\0t\0t\0i\0n\0g\0]\0\r\0\n\0", 24);
  EXPECT_EQ(bytes.substr(0, expected.size()), expected);
  EXPECT_EQ(bytes, Utf16Le(u"[Setting]\r\nGatewayHost=127.0.0.1\r\nGatewayPort=8822\r\n"));
  EXPECT_EQ(dir.EntryCount(), 1u) << "no temporary file left behind";

  IniFile loaded;
  ASSERT_EQ(IniFile::LoadFile(path, loaded), IniFile::kOk);
  EXPECT_EQ(loaded.GetInt(u"Setting", u"GatewayPort", 0), 8822);
}

TEST(IniFileSave, ReplacesTheOldFileAndKeepsItsPermissions) {
  TempDir dir;
  const std::string path = dir.File("Tavrilox.ini");
  WriteBytes(path, "[Old]\nk=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  IniFile ini;
  ini.SetString(u"New", u"k", u"2");
  ASSERT_EQ(ini.SaveFile(path), IniFile::kOk);
  EXPECT_EQ(ReadBytes(path), Utf16Le(u"[New]\r\nk=2\r\n"));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(IniFileSave, ThroughASymbolicLinkUpdatesTheLinkedFile) {
  TempDir dir;
  const std::string real = dir.File("real.ini");
  const std::string link = dir.File("Tavrilox.ini");
  WriteBytes(real, "[Old]\n");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  IniFile ini;
  ini.SetString(u"New", u"k", u"1");
  ASSERT_EQ(ini.SaveFile(link), IniFile::kOk);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadBytes(real), Utf16Le(u"[New]\r\nk=1\r\n"));
}

TEST(IniFileSave, AFailedSaveLeavesTheOldFileIntact) {
  for (IniFile::SaveStep step : {IniFile::SaveStep::CreateTemp, IniFile::SaveStep::Write,
                                 IniFile::SaveStep::Sync, IniFile::SaveStep::Rename}) {
    SCOPED_TRACE(static_cast<int>(step));
    TempDir dir;
    const std::string path = dir.File("Tavrilox.ini");
    const std::string old = Utf16Le(u"[Setting]\r\nDatMode=4\r\n");
    WriteBytes(path, old);
    IniFile ini;
    ini.SetInt(u"Setting", u"DatMode", 1);
    {
      SaveFault fault(step);
      EXPECT_EQ(ini.SaveFile(path), IniFile::kWriteFailed);
    }
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(dir.EntryCount(), 1u) << "the temporary file is removed";
    EXPECT_EQ(ini.SaveFile(path), IniFile::kOk) << "the next save works again";
  }
}

TEST(IniFileSave, FailsWithoutAFolderOrOverADirectory) {
  TempDir dir;
  IniFile ini;
  ini.SetString(u"S", u"k", u"v");
  EXPECT_EQ(ini.SaveFile(dir.File("missing/Tavrilox.ini")), IniFile::kWriteFailed);

  const std::string folder = dir.File("Tavrilox.ini");
  ASSERT_TRUE(fs::create_directory(folder));
  WriteBytes(folder + "/inside", "keep");
  EXPECT_EQ(ini.SaveFile(folder), IniFile::kWriteFailed);
  EXPECT_EQ(ReadBytes(folder + "/inside"), "keep");
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(IniFileLoad, MissingUnreadableAndNonRegularFiles) {
  TempDir dir;
  IniFile ini;
  EXPECT_EQ(IniFile::LoadFile(dir.File("none.ini"), ini), IniFile::kMissing);
  EXPECT_EQ(IniFile::LoadFile(dir.File("none/none.ini"), ini), IniFile::kMissing);
  EXPECT_EQ(IniFile::LoadFile(dir.Path(), ini), IniFile::kUnreadable);
  const std::string fifo = dir.File("fifo.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(IniFile::LoadFile(fifo, ini), IniFile::kUnreadable);  // must not block

  const std::string big = dir.File("big.ini");
  WriteBytes(big, "[S]\n");
  fs::resize_file(big, IniFile::kMaxFileBytes + 1);
  EXPECT_EQ(IniFile::LoadFile(big, ini), IniFile::kUnreadable);
}

}  // namespace
}  // namespace tav
