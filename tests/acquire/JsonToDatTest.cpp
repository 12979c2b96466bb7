#include "acquire/JsonToDat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquire/ScopedTimeZone.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

using test::ScopedTimeZone;

// A post of the endpoint's answer: [number, name, mail, time, ID, BE, message].
std::string Post(const std::string& name, const std::string& mail, const std::string& time, const std::string& id,
                 const std::string& be, const std::string& message) {
  return "[1,\"" + name + "\",\"" + mail + "\"," + time + ",\"" + id + "\",\"" + be + "\",\"" + message + "\"]";
}

std::string Answer(const std::string& totalCount, const std::string& title, const std::vector<std::string>& posts) {
  std::string comments;
  for (const auto& post : posts) comments += (comments.empty() ? "" : ",") + post;
  return "{\"total_count\":" + totalCount + ",\"thread\":[1,2,3,4,5,\"" + title + "\",7],\"comments\":[" + comments +
         "]}";
}

// The converter's output as UTF-8, for readable expectations. References
// and ASCII pass unchanged.
std::string DatOf(const std::string& json, bool removeHalfSpace = true, int* result = nullptr) {
  std::string dat;
  const int count = JsonToDat(json, dat, removeHalfSpace);
  if (result != nullptr) *result = count;
  return Cp932ToUtf8(dat);
}

class JsonToDatTest : public ::testing::Test {
 protected:
  ScopedTimeZone tokyo_{"Asia/Tokyo"};
};

TEST_F(JsonToDatTest, WritesOneLinePerPostWithTheTitleOnTheFirstOnly) {
  const std::string json = Answer("2", "スレタイ", {Post("名無しさん", "sage", "0", "AbCd0", "", "本文<br>二行目"),
                                                    Post("二人目", "", "1700000000", "XyZ", "", "返信")});
  int result = 0;
  EXPECT_EQ(DatOf(json, true, &result),
            "名無しさん<>sage<>1970/01/01(木) 09:00:00.00 ID:AbCd0<>本文<br>二行目<>スレタイ\n"
            "二人目<><>2023/11/15(水) 07:13:20.00 ID:XyZ<>返信<>\n");
  EXPECT_EQ(result, 2);
}

TEST_F(JsonToDatTest, TheOutputIsShiftJis) {
  std::string dat;
  ASSERT_EQ(JsonToDat(Answer("1", "題", {Post("名無し", "", "0", "", "", "あ")}), dat, true), 1);
  EXPECT_EQ(dat, Sjis("名無し<><>1970/01/01(木) 09:00:00.00 ID:<>あ<>題\n"));
}

TEST_F(JsonToDatTest, TheDateFollowsTheLocalTimeZone) {
  const std::string json = Answer("1", "t", {Post("n", "", "1700000000", "i", "", "m")});
  EXPECT_EQ(DatOf(json), "n<><>2023/11/15(水) 07:13:20.00 ID:i<>m<>t\n");
  ScopedTimeZone utc("UTC");
  EXPECT_EQ(DatOf(json), "n<><>2023/11/14(火) 22:13:20.00 ID:i<>m<>t\n");
}

TEST_F(JsonToDatTest, EveryWeekdayHasItsName) {
  std::vector<std::string> posts;
  for (int day = 0; day < 7; ++day) posts.push_back(Post("", "", std::to_string(day * 86400), "", "", ""));
  const std::string dat = DatOf(Answer("7", "", posts));
  const char* expected[] = {"01(木)", "02(金)", "03(土)", "04(日)", "05(月)", "06(火)", "07(水)"};
  std::size_t from = 0;
  for (const char* day : expected) {
    const std::size_t at = dat.find(day, from);
    ASSERT_NE(at, std::string::npos) << day;
    from = at;
  }
}

TEST_F(JsonToDatTest, ABeValueFollowsTheId) {
  const std::string json =
      Answer("2", "t", {Post("n", "", "0", "id1", "123456789", "m"), Post("n", "", "0", "id2", "", "m")});
  EXPECT_EQ(DatOf(json),
            "n<><>1970/01/01(木) 09:00:00.00 ID:id1 BE:123456789<>m<>t\n"
            "n<><>1970/01/01(木) 09:00:00.00 ID:id2<>m<>\n");
}

TEST_F(JsonToDatTest, RemoveHalfSpaceShrinksRunsInNameMailAndMessageOnly) {
  const std::string json = Answer("1", "a   b", {Post("x  y", "s   t", "0", "i  d", "b  e", "one   two  three")});
  EXPECT_EQ(DatOf(json, true), "x y<>s t<>1970/01/01(木) 09:00:00.00 ID:i  d BE:b  e<>one two three<>a   b\n");
  EXPECT_EQ(DatOf(json, false),
            "x  y<>s   t<>1970/01/01(木) 09:00:00.00 ID:i  d BE:b  e<>one   two  three<>a   b\n");
}

TEST_F(JsonToDatTest, TheTimeMayBeATruncatedNumberOrADecimalString) {
  auto dateOf = [](const std::string& time) {
    const std::string dat = DatOf(Answer("1", "", {Post("", "", time, "", "", "")}));
    return dat.substr(4, dat.find(" ID:") - 4);
  };
  EXPECT_EQ(dateOf("86400.9"), "1970/01/02(金) 09:00:00.00");
  EXPECT_EQ(dateOf("\"86401\""), "1970/01/02(金) 09:00:01.00");
  EXPECT_EQ(dateOf("\"-1\""), "1970/01/01(木) 08:59:59.00");
  EXPECT_EQ(dateOf("\"yesterday\""), "1970/01/01(木) 09:00:00.00");
  EXPECT_EQ(dateOf("true"), "1970/01/01(木) 09:00:00.00");
  EXPECT_EQ(dateOf("null"), "1970/01/01(木) 09:00:00.00");
  EXPECT_EQ(dateOf("[86400]"), "1970/01/01(木) 09:00:00.00");
  EXPECT_EQ(dateOf("1e300"), "1970/01/01(木) 09:00:00.00") << "beyond any calendar";
  EXPECT_EQ(dateOf("\"99999999999999999999999\""), "1970/01/01(木) 09:00:00.00");
}

TEST_F(JsonToDatTest, TotalCountDecidesHowManyPostsAreWritten) {
  const std::string post = Post("n", "", "0", "", "", "m");
  int result = 0;
  EXPECT_EQ(DatOf(Answer("0", "t", {post, post}), true, &result), "");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(DatOf(Answer("1.9", "t", {post, post}), true, &result), "n<><>1970/01/01(木) 09:00:00.00 ID:<>m<>t\n");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(DatOf(Answer("-3", "t", {post, post}), true, &result), "");
  EXPECT_EQ(result, -3) << "a negative count fails the route with that value";
}

TEST_F(JsonToDatTest, ACountBeyondTheCommentsConvertsThePostsThatExist) {
  const std::string post = Post("n", "", "0", "", "", "m");
  int result = 0;
  const std::string dat = DatOf(Answer("1e9", "t", {post, post}), true, &result);
  EXPECT_EQ(dat, "n<><>1970/01/01(木) 09:00:00.00 ID:<>m<>t\nn<><>1970/01/01(木) 09:00:00.00 ID:<>m<>\n");
  EXPECT_EQ(result, 1000000000);
  EXPECT_EQ(DatOf(Answer("5", "t", {}), true, &result), "");
}

TEST_F(JsonToDatTest, ShortPostsAndForeignTypesGiveEmptyFields) {
  const std::string json = Answer("4", "t",
                                  {"[1,\"name\"]", "[1,2,[],86400,{},false,3]", "7", R"([1,"a","b",0,"c","d","e",8])"});
  EXPECT_EQ(DatOf(json),
            "name<><>1970/01/01(木) 09:00:00.00 ID:<><>t\n"
            "<><>1970/01/02(金) 09:00:00.00 ID:<><>\n"
            "<><>1970/01/01(木) 09:00:00.00 ID:<><>\n"
            "a<>b<>1970/01/01(木) 09:00:00.00 ID:c BE:d<>e<>\n");
}

// The answers that are refused: -1 and nothing written.
TEST_F(JsonToDatTest, RefusesAnswersOfAnotherShape) {
  const std::string post = Post("n", "", "0", "", "", "m");
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"root is an array", "[" + Answer("1", "t", {post}) + "]"},
      {"root is a string", "\"total_count\""},
      {"root is a number", "1"},
      {"no thread", R"({"total_count":1,"comments":[[1,"n","",0,"","","m"]]})"},
      {"no comments", R"({"total_count":1,"thread":[1,2,3,4,5,"t"]})"},
      {"no total_count", R"({"thread":[1,2,3,4,5,"t"],"comments":[[1,"n","",0,"","","m"]]})"},
      {"thread too short", R"({"total_count":1,"thread":[1,2,3,4,5],"comments":[[1,"n","",0,"","","m"]]})"},
      {"thread an object", R"({"total_count":1,"thread":{"5":"t"},"comments":[[1,"n","",0,"","","m"]]})"},
      {"title a number", R"({"total_count":1,"thread":[1,2,3,4,5,6],"comments":[[1,"n","",0,"","","m"]]})"},
      {"comments an object", R"({"total_count":1,"thread":[1,2,3,4,5,"t"],"comments":{"0":[]}})"},
      {"total_count a string", R"({"total_count":"1","thread":[1,2,3,4,5,"t"],"comments":[[1,"n","",0,"","","m"]]})"},
      {"total_count null", R"({"total_count":null,"thread":[1,2,3,4,5,"t"],"comments":[]})"},
  };
  for (const auto& [what, json] : refused) {
    std::string dat = "left over";
    EXPECT_EQ(JsonToDat(json, dat, true), -1) << what;
    EXPECT_EQ(dat, "") << what;
  }
  std::string dat;
  EXPECT_EQ(JsonToDat(R"({"total_count":1,"thread":[1,2,3,4,5,"t"],"comments":[]})", dat, true), 1)
      << "the well-formed answer for comparison";
}

TEST_F(JsonToDatTest, RefusesTextThatIsNotJson) {
  std::string dat;
  EXPECT_EQ(JsonToDat("<html><body>503 Service Unavailable</body></html>", dat, true), -1);
  EXPECT_EQ(JsonToDat("", dat, true), -1);
  EXPECT_EQ(JsonToDat(R"({"total_count":1,"thread":[1,2,3,4,5,"t"],"comments":[)", dat, true), -1);
  EXPECT_EQ(JsonToDat(R"({"total_count":1e999,"thread":[1,2,3,4,5,"t"],"comments":[]})", dat, true), -1)
      << "a number beyond a double";
  EXPECT_EQ(dat, "");
}

TEST_F(JsonToDatTest, RefusesDeepNestingWithoutExhaustingTheStack) {
  std::string dat;
  std::string nested;
  for (int i = 0; i < 200000; ++i) nested += "{\"a\":";
  EXPECT_EQ(JsonToDat(nested, dat, true), -1);
  EXPECT_EQ(JsonToDat(std::string(200000, '['), dat, true), -1);
  const std::string shallowInString = R"({"total_count":1,"thread":[1,2,3,4,5,")" + std::string(5000, '[') +
                                      R"("],"comments":[[1,"n","",0,"","","m"]]})";
  EXPECT_EQ(JsonToDat(shallowInString, dat, true), 1) << "brackets inside strings do not nest";
}

TEST_F(JsonToDatTest, CharactersOutsideCp932BecomeNumericReferences) {
  EXPECT_EQ(DatOf(Answer("1", "\\ud83d\\ude00", {Post("😀", "", "0", "", "", "笑顔😀です")})),
            "&#128512;<><>1970/01/01(木) 09:00:00.00 ID:<>笑顔&#128512;です<>&#128512;\n");
}

TEST_F(JsonToDatTest, NulCharactersAreDropped) {
  std::string dat;
  ASSERT_EQ(JsonToDat(Answer("1", "t", {Post("a\\u0000b", "", "0", "", "", "c\\u0000d")}), dat, true), 1);
  EXPECT_EQ(dat.find('\0'), std::string::npos);
  EXPECT_EQ(Cp932ToUtf8(dat), "ab<><>1970/01/01(木) 09:00:00.00 ID:<>cd<>t\n");
}

// Fields longer than their room are cut between characters.
TEST_F(JsonToDatTest, LongFieldsAreCutAtTheirRoom) {
  const std::string longName(300, 'a');
  const std::string longMessage(9000, 'm');
  const std::string dat = DatOf(Answer("1", std::string(270, 't'), {Post(longName, "", "0", "", "", longMessage)}));
  EXPECT_EQ(dat, std::string(260, 'a') + "<><>1970/01/01(木) 09:00:00.00 ID:<>" + std::string(8192, 'm') + "<>" +
                     std::string(260, 't') + "\n");
}

TEST_F(JsonToDatTest, ACutNeverSplitsACharacter) {
  // 259 units, then a surrogate pair across the room's end.
  std::string name = std::string(259, 'a') + "😀";
  std::string kana;
  for (int i = 0; i < 300; ++i) kana += "あ";
  std::string dat;
  ASSERT_EQ(JsonToDat(Answer("1", "t", {Post(name, kana, "0", "", "", "")}), dat, true), 1);
  std::string expectedMail;
  for (int i = 0; i < 260; ++i) expectedMail += "あ";
  EXPECT_EQ(dat.substr(0, dat.find(' ')), std::string(259, 'a') + "<>" + Sjis(expectedMail) + "<>1970/01/01(" +
                                              Sjis("木") + ")");
}

TEST_F(JsonToDatTest, AFieldIsCutBeforeTheByteLimitBetweenReferences) {
  // 8192 characters that each become an eight-byte reference: 65536 bytes,
  // one more than a field may hold, so the last whole reference goes.
  std::string message;
  for (int i = 0; i < 8192; ++i) message += "\xEF\xBF\xAE";  // U+FFEE, not in CP932
  std::string dat;
  ASSERT_EQ(JsonToDat(Answer("1", "", {Post("", "", "0", "", "", message)}), dat, true), 1);
  const std::size_t start = dat.find(Sjis("ID:<>")) + 5;
  const std::string field = dat.substr(start, dat.rfind("<>") - start);
  EXPECT_EQ(field.size(), 8191u * 8u);
  EXPECT_EQ(field.substr(field.size() - 8), "&#65518;");
}

TEST_F(JsonToDatTest, TheDatMayBeMuchLongerThanTheJson) {
  // An empty post still makes a full line: far more than twice its JSON.
  std::vector<std::string> posts(2000, "[]");
  const std::string json = Answer("2000", "", posts);
  std::string dat;
  ASSERT_EQ(JsonToDat(json, dat, true), 2000);
  const std::string line = Sjis("<><>1970/01/01(木) 09:00:00.00 ID:<><>\n");
  EXPECT_GT(dat.size(), json.size() * 2);
  EXPECT_EQ(dat.size(), line.size() * 2000);
  EXPECT_EQ(dat.substr(dat.size() - line.size()), line);
}

}  // namespace
}  // namespace tav
