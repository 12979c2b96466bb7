#include "acquire/DatAnswer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>

#include "acquire/CDatCache.h"
#include "net/CGateway.h"
#include "config/SettingValues.h"

namespace tav {
namespace {

const std::string kDat = "a<>b<>c<>d<>title\ne<>f<>g<>h<>\n";  // 31 bytes
const std::string kDate = "Tue, 08 Dec 2026 16:05:05 GMT";

std::string FullHead(std::size_t length) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(length) +
         "\r\nConnection: keep-alive\r\nVary: Accept-Encoding\r\nServer: cloudflare-nginx\r\n";
}

std::string PartialHead(std::size_t length, std::int64_t start, std::int64_t total) {
  return "HTTP/1.1 206 Partial Content\r\nServer: cloudflare-nginx\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(length) + "\r\nConnection: close\r\nAccept-Ranges: bytes\r\nContent-Range: bytes " +
         std::to_string(start) + "-" + std::to_string(total - 1) + "/" + std::to_string(total) + "\r\n";
}

const std::string kNotModified = "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n";

TEST(DatAnswerRule, NoRangeGivesTheWholeTextWithKeepAlive) {
  EXPECT_EQ(BuildDatAnswer(kDat, -1, ""), FullHead(kDat.size()) + "\r\n" + kDat);
  EXPECT_EQ(BuildDatAnswer("", -1, ""), FullHead(0) + "\r\n");
}

TEST(DatAnswerRule, RangeAtTheEndOrOnlyTheLastLineEndIsNotModified) {
  EXPECT_EQ(BuildDatAnswer(kDat, static_cast<std::int64_t>(kDat.size()), ""), kNotModified + "\r\n");
  EXPECT_EQ(BuildDatAnswer(kDat, static_cast<std::int64_t>(kDat.size()) - 1, ""), kNotModified + "\r\n");
}

TEST(DatAnswerRule, RangePastTheEndGivesAStar) {
  const auto length = static_cast<std::int64_t>(kDat.size());
  EXPECT_EQ(BuildDatAnswer(kDat, length + 1, ""), PartialHead(1, length + 1, length) + "\r\n*");
}

TEST(DatAnswerRule, RangeInTheMiddleGivesTheTail) {
  const std::int64_t start = 18;
  const std::string tail = kDat.substr(18);
  EXPECT_EQ(BuildDatAnswer(kDat, start, ""),
            PartialHead(tail.size(), start, static_cast<std::int64_t>(kDat.size())) + "\r\n" + tail);
  EXPECT_EQ(BuildDatAnswer(kDat, 0, ""), PartialHead(kDat.size(), 0, static_cast<std::int64_t>(kDat.size())) +
                                             "\r\n" + kDat);
}

TEST(DatAnswerRule, BoardDateBecomesLastModifiedOnEveryKind) {
  const std::string line = "Last-Modified: " + kDate + "\r\n";
  const auto length = static_cast<std::int64_t>(kDat.size());
  EXPECT_EQ(BuildDatAnswer(kDat, -1, kDate), FullHead(kDat.size()) + line + "\r\n" + kDat);
  EXPECT_EQ(BuildDatAnswer(kDat, 18, kDate), PartialHead(kDat.size() - 18, 18, length) + line + "\r\n" +
                                                 kDat.substr(18));
  EXPECT_EQ(BuildDatAnswer(kDat, length, kDate), kNotModified + line + "\r\n");
  EXPECT_EQ(BuildDatAnswer(kDat, length + 5, kDate), PartialHead(1, length + 5, length) + line + "\r\n*");
}

TEST(DatAnswerRule, AnOverlongBoardDateIsCut) {
  const std::string date(1500, 'D');
  const std::string answer = BuildDatAnswer("x\n", -1, date);
  EXPECT_NE(answer.find("Last-Modified: " + std::string(1022, 'D') + "\r\n\r\n"), std::string::npos);
}

TEST(DatAnswerRule, ClosedHeadersEndWithTheBlankLine) {
  EXPECT_EQ(FullAnswerHeader(5, true), FullHead(5) + "\r\n");
  EXPECT_EQ(PartialAnswerHeader(2, 3, 5, true), PartialHead(2, 3, 5) + "\r\n");
}

TEST(DatAnswerRule, OverloadIsNotModifiedWithNothingMore) {
  EXPECT_EQ(BuildOverloadAnswer(), "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n");
}

// A reader socket pair: the answer is written to one end and read back from
// the other.
class ReaderPair : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
    auto values = std::make_shared<SettingValues>();
    values->RecvBufferSize = 1024;
    ctx_.cfg = values;
    ctx_.readerSocket = fds_[0];
  }
  void TearDown() override {
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }
  // Everything written to the reader end, once the writer end is shut down.
  std::string ReadAll() {
    shutdown(fds_[0], SHUT_WR);
    return ReadUntilEnd();
  }
  std::string ReadUntilEnd() {
    std::string data;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds_[1], buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<std::size_t>(n));
    return data;
  }

  int fds_[2] = {-1, -1};
  CGateway ctx_;
};

TEST_F(ReaderPair, SendDatAnswerWritesTheWholeAnswerAndCountsIt) {
  // A text that is larger than the socket buffer so that the writer waits.
  std::string big;
  for (int i = 0; i < 30000; ++i) big += "name<>sage<>date<>message<>\n";
  std::string received;
  std::thread reader([&] { received = ReadUntilEnd(); });
  std::int64_t sent = -1;
  EXPECT_EQ(SendDatAnswer(ctx_, big, -1, kDate, sent), 0);
  shutdown(fds_[0], SHUT_WR);
  reader.join();
  const std::string expected = BuildDatAnswer(big, -1, kDate);
  EXPECT_EQ(sent, static_cast<std::int64_t>(expected.size()));
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
}

TEST_F(ReaderPair, SendOverloadAnswerSetsTheOverloadFlag) {
  std::int64_t sent = -1;
  EXPECT_EQ(SendOverloadAnswer(ctx_, sent), 0);
  EXPECT_EQ(ctx_.overload, 1);
  EXPECT_EQ(ReadAll(), BuildOverloadAnswer());
  EXPECT_EQ(sent, static_cast<std::int64_t>(BuildOverloadAnswer().size()));
}

TEST_F(ReaderPair, SendToAClosedReaderReportsOnlyWhatWasWritten) {
  close(fds_[1]);
  fds_[1] = -1;
  std::int64_t sent = -1;
  EXPECT_EQ(SendDatAnswer(ctx_, kDat, -1, "", sent), 0);
  EXPECT_EQ(sent, 0);
}

// DiffMode: the answer choice with the cache behind it.
class DiffModeAnswer : public ::testing::Test {
 protected:
  std::string Answer(std::int64_t start, int cached, int result, std::string_view text, bool diffMode = true,
                     int* rc = nullptr) {
    DiffModeAnswerInput in;
    in.diffMode = diffMode;
    in.rangeStart = start;
    in.cachedCount = cached;
    in.converterResult = result;
    in.text = text;
    in.server = "egg";
    in.key = "1234567890";
    in.datCacheCount = 2;
    std::string answer;
    const int status = BuildDiffModeAnswer(cache_, in, kDate, answer);
    if (rc != nullptr) *rc = status;
    return answer;
  }
  int CachedCount(std::int64_t start) { return DiffModeCachedCount(cache_, true, start, "egg", "1234567890"); }

  CDatCache cache_;
  const std::string date_ = "Last-Modified: " + kDate + "\r\n";
};

const std::string kFirstThree = "1<><>d<>m<>T\n2<><>d<>m<>\n3<><>d<>m<>\n";  // 3 posts
const std::string kNewTwo = "4<><>d<>m<>\n5<><>d<>m<>\n";

TEST_F(DiffModeAnswer, CachedCountIsLookedUpOnlyWithARange) {
  cache_.Store("egg", "1234567890", 7, "x", false, 2);
  EXPECT_EQ(DiffModeCachedCount(cache_, true, -1, "egg", "1234567890"), -1);
  EXPECT_EQ(DiffModeCachedCount(cache_, false, 10, "egg", "1234567890"), -1);
  EXPECT_EQ(DiffModeCachedCount(cache_, true, 10, "egg", "1234567890"), 7);
  EXPECT_EQ(DiffModeCachedCount(cache_, true, 10, "egg", "99"), -1);
}

TEST_F(DiffModeAnswer, FirstRequestStoresTheWholePageAndAnswersTheTail) {
  const std::int64_t start = 13;  // the reader holds the first line
  ASSERT_EQ(CachedCount(start), -1);
  const std::string answer = Answer(start, -1, 3, kFirstThree);
  EXPECT_EQ(answer, PartialHead(kFirstThree.size() - 13, 13, static_cast<std::int64_t>(kFirstThree.size())) +
                        date_ + "\r\n" + kFirstThree.substr(13));
  std::string text;
  EXPECT_EQ(cache_.Lookup("egg", "1234567890", &text), 3);
  EXPECT_EQ(text, kFirstThree);
}

TEST_F(DiffModeAnswer, AThreadOfOnePostIsNotStoredOnFirstSight) {
  Answer(5, -1, 1, "1<><>d<>m<>T\n");
  EXPECT_EQ(cache_.Lookup("egg", "1234567890"), -1);
}

TEST_F(DiffModeAnswer, NewPostsAreAppendedAndCutFromTheCachedText) {
  Answer(-1, -1, 3, kFirstThree);  // a full request stores the page
  const auto start = static_cast<std::int64_t>(kFirstThree.size());
  ASSERT_EQ(CachedCount(start), 3);
  const std::string answer = Answer(start, 3, 2, kNewTwo);
  const std::string whole = kFirstThree + kNewTwo;
  EXPECT_EQ(answer, PartialHead(kNewTwo.size(), start, static_cast<std::int64_t>(whole.size())) + date_ + "\r\n" +
                        kNewTwo);
  std::string text;
  EXPECT_EQ(cache_.Lookup("egg", "1234567890", &text), 5);
  EXPECT_EQ(text, whole);
}

TEST_F(DiffModeAnswer, NoNewPostsIsNotModified) {
  Answer(-1, -1, 3, kFirstThree);
  const auto start = static_cast<std::int64_t>(kFirstThree.size());
  EXPECT_EQ(Answer(start, 3, 0, ""), kNotModified + date_ + "\r\n");
  EXPECT_EQ(cache_.Lookup("egg", "1234567890"), 3);
}

TEST_F(DiffModeAnswer, ARangeBeyondTheCachedTextGetsAStarOnTheEntrysSize) {
  Answer(-1, -1, 3, kFirstThree);
  const std::string whole = kFirstThree + kNewTwo;
  const std::int64_t start = 500;  // the reader holds more than the cache
  EXPECT_EQ(Answer(start, 3, 2, kNewTwo),
            PartialHead(1, start, static_cast<std::int64_t>(whole.size())) + date_ + "\r\n*");
}

TEST_F(DiffModeAnswer, ACachedCountOfZeroGivesTheWholeTextAndReplaces) {
  cache_.Store("egg", "1234567890", 0, "", false, 2);
  EXPECT_EQ(Answer(0, 0, 3, kFirstThree), FullHead(kFirstThree.size()) + date_ + "\r\n" + kFirstThree);
  std::string text;
  EXPECT_EQ(cache_.Lookup("egg", "1234567890", &text), 3);
  EXPECT_EQ(text, kFirstThree);
}

TEST_F(DiffModeAnswer, WithoutRangeTheWholeTextIsSentAndStored) {
  EXPECT_EQ(Answer(-1, -1, 3, kFirstThree), FullHead(kFirstThree.size()) + date_ + "\r\n" + kFirstThree);
  EXPECT_EQ(cache_.Lookup("egg", "1234567890"), 3);
  // A range past the produced text without a cached count: the star.
  const auto length = static_cast<std::int64_t>(kFirstThree.size());
  EXPECT_EQ(Answer(length + 3, 0, 3, kFirstThree), PartialHead(1, length + 3, length) + date_ + "\r\n*");
}

TEST_F(DiffModeAnswer, DiffModeOffNeverTouchesTheCache) {
  EXPECT_EQ(Answer(13, -1, 3, kFirstThree, false),
            BuildDatAnswer(kFirstThree, 13, kDate));
  EXPECT_EQ(Answer(-1, -1, 3, kFirstThree, false), BuildDatAnswer(kFirstThree, -1, kDate));
  EXPECT_EQ(cache_.Size(), 0u);
}

TEST_F(DiffModeAnswer, EvictionWithTwoEntriesIsSeenByTheNextLookup) {
  DiffModeAnswerInput in;
  in.diffMode = true;
  in.converterResult = 3;
  in.text = kFirstThree;
  in.datCacheCount = 2;
  in.server = "egg";
  std::string answer;
  for (const char* key : {"1", "2", "3"}) {
    in.key = key;
    ASSERT_EQ(BuildDiffModeAnswer(cache_, in, "", answer), 0);
  }
  EXPECT_EQ(DiffModeCachedCount(cache_, true, 0, "egg", "1"), -1);
  EXPECT_EQ(DiffModeCachedCount(cache_, true, 0, "egg", "2"), 3);
  EXPECT_EQ(DiffModeCachedCount(cache_, true, 0, "egg", "3"), 3);
}

}  // namespace
}  // namespace tav
