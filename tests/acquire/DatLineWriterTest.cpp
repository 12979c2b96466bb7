#include "acquire/DatLineWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/TextCodec.h"

namespace tav {
namespace {

// Runs the numbering over `numbers` and describes the output: the post
// number for a post line, "D" for a deleted-post line.
struct NumberingRun {
  std::vector<std::string> lines;
  int result = 0;
  bool full = false;
};

NumberingRun Number(std::vector<int> numbers, int cached, int firstExpected = 1, std::size_t limit = 1 << 20) {
  std::string out;
  DatLineWriter writer(out, limit, cached, firstExpected);
  writer.SetTitle("T");
  NumberingRun run;
  for (int n : numbers) {
    const auto admission = writer.Admit(n);
    if (admission == DatLineWriter::Admission::kFull) {
      run.full = true;
      break;
    }
    if (admission == DatLineWriter::Admission::kLeaveOut) continue;
    if (!writer.AddPost(std::to_string(n), "", "", "")) {
      run.full = true;
      break;
    }
  }
  run.result = writer.Result();
  std::size_t pos = 0;
  while (pos < out.size()) {
    const std::size_t end = out.find('\n', pos);
    const std::string line = out.substr(pos, end - pos + 1);
    run.lines.push_back(line == DatLineWriter::DeletedPostLine() ? "D" : line.substr(0, line.find('<')));
    pos = end + 1;
  }
  return run;
}

using Lines = std::vector<std::string>;

TEST(DatLineWriter, DeletedPostLineIsExactlyTheBoardsText) {
  EXPECT_EQ(DatLineWriter::DeletedPostLine(),
            "\x82\xa4\x82\xd3\x81\x60\x82\xf1<>\x82\xa4\x82\xd3\x81\x60\x82\xf1<>\x82\xa4\x82\xd3\x81\x60\x82\xf1"
            " ID:DELETED<>\x82\xa4\x82\xd3\x81\x60\x82\xf1<>\x82\xa4\x82\xd3\x81\x60\x82\xf1<>\n");
  EXPECT_EQ(DatLineWriter::DeletedPostLine(), Sjis("うふ～ん<>うふ～ん<>うふ～ん ID:DELETED<>うふ～ん<>うふ～ん<>\n"));
}

TEST(DatLineWriter, TitleOnlyOnTheFirstLineAndFiveFields) {
  std::string out;
  DatLineWriter writer(out, 1000, -1, 1);
  writer.SetTitle("Title");
  ASSERT_EQ(writer.Admit(1), DatLineWriter::Admission::kTake);
  ASSERT_TRUE(writer.AddPost("n", "m", "d", "msg"));
  ASSERT_EQ(writer.Admit(2), DatLineWriter::Admission::kTake);
  ASSERT_TRUE(writer.AddPost("n2", "", "d2", "msg2"));
  EXPECT_EQ(out, "n<>m<>d<>msg<>Title\nn2<><>d2<>msg2<>\n");
  EXPECT_EQ(writer.Result(), 2);
}

TEST(DatLineWriter, GapsAreFilledWithDeletedPostLines) {
  NumberingRun run = Number({1, 2, 4}, -1);
  EXPECT_EQ(run.lines, (Lines{"1", "2", "D", "4"}));
  EXPECT_EQ(run.result, 4);
  run = Number({1, 2, 3, 4, 7}, -1);
  EXPECT_EQ(run.lines, (Lines{"1", "2", "3", "4", "D", "D", "7"}));
  EXPECT_EQ(run.result, 7);
  // A gap at the start: the title goes with the first deleted-post line.
  run = Number({3}, -1);
  EXPECT_EQ(run.lines, (Lines{"D", "D", "3"}));
}

TEST(DatLineWriter, NumbersBelowTheExpectedOneAreLeftOut) {
  NumberingRun run = Number({1, 2, 2, 3}, -1);
  EXPECT_EQ(run.lines, (Lines{"1", "2", "3"}));
  EXPECT_EQ(run.result, 3);
  run = Number({1, 3, 2, 4}, -1);
  EXPECT_EQ(run.lines, (Lines{"1", "D", "3", "4"}));
  EXPECT_EQ(run.result, 4);
  run = Number({0, 1, -7, 2}, -1);
  EXPECT_EQ(run.lines, (Lines{"1", "2"}));
}

TEST(DatLineWriter, CachedCountMinusOneEmitsEveryPost) {
  const NumberingRun run = Number({1, 2, 3}, -1);
  EXPECT_EQ(run.lines, (Lines{"1", "2", "3"}));
  EXPECT_EQ(run.result, 3);
}

TEST(DatLineWriter, CachedCountZeroEmitsOnlyDeletedPostLines) {
  NumberingRun run = Number({1, 2, 3}, 0);
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(run.result, 3);
  run = Number({1, 3}, 0);
  EXPECT_EQ(run.lines, (Lines{"D"}));
  EXPECT_EQ(run.result, 3);
}

TEST(DatLineWriter, CachedCountOneLeavesOutTheFirstPost) {
  NumberingRun run = Number({1, 2, 3}, 1);
  EXPECT_EQ(run.lines, (Lines{"2", "3"}));
  EXPECT_EQ(run.result, 2);
  run = Number({1}, 1);
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(run.result, 0);
  run = Number({}, 1);
  EXPECT_EQ(run.result, 0);
}

TEST(DatLineWriter, CachedCountTwoOrMoreChecksFromTheThirdPost) {
  // The page of "3-": post 1, then posts 3 (cached), 4, 5.
  NumberingRun run = Number({1, 3, 4, 5}, 3);
  EXPECT_EQ(run.lines, (Lines{"4", "5"}));
  EXPECT_EQ(run.result, 2);
  run = Number({1, 3, 4, 6}, 3);
  EXPECT_EQ(run.lines, (Lines{"4", "D", "6"}));
  EXPECT_EQ(run.result, 3);
  run = Number({1, 2}, 2);
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(run.result, 0);
  // A page holding only post 1 gives -1.
  EXPECT_EQ(Number({1}, 5).result, -1);
  EXPECT_EQ(Number({}, 5).result, 0);
}

TEST(DatLineWriter, FirstExpectedNumberSkipsTheNumbersBeforeASegment) {
  // The page of "6-8": post 1, then 6, 7, 8.
  NumberingRun run = Number({1, 6, 7, 8}, -1, 6);
  EXPECT_EQ(run.lines, (Lines{"1", "6", "7", "8"}));
  EXPECT_EQ(run.result, 4);
  // A gap inside the segment is still filled.
  run = Number({1, 6, 8}, -1, 6);
  EXPECT_EQ(run.lines, (Lines{"1", "6", "D", "8"}));
  // Without post 1 a deleted-post line stands in for it.
  run = Number({6, 7}, -1, 6);
  EXPECT_EQ(run.lines, (Lines{"D", "6", "7"}));
  // Without the option the gap 2-5 is filled.
  run = Number({1, 6}, -1);
  EXPECT_EQ(run.lines, (Lines{"1", "D", "D", "D", "D", "6"}));
}

TEST(DatLineWriter, AHugeJumpStopsAtTheOutputLimit) {
  const NumberingRun run = Number({1, 2000000000}, -1, 1, 10000);
  EXPECT_TRUE(run.full);
  EXPECT_LE(run.lines.size(), 10000 / DatLineWriter::DeletedPostLine().size() + 1);
}

TEST(DatLineWriter, APostLineThatDoesNotFitIsRefused) {
  std::string out;
  DatLineWriter writer(out, 20, -1, 1);
  ASSERT_EQ(writer.Admit(1), DatLineWriter::Admission::kTake);
  EXPECT_TRUE(writer.AddPost("a", "", "", ""));  // 10 bytes
  ASSERT_EQ(writer.Admit(2), DatLineWriter::Admission::kTake);
  EXPECT_TRUE(writer.AddPost("b", "", "", ""));  // 20 bytes: exactly full
  ASSERT_EQ(writer.Admit(3), DatLineWriter::Admission::kTake);
  EXPECT_FALSE(writer.AddPost("c", "", "", ""));
  EXPECT_EQ(out.size(), 20u);
}

}  // namespace
}  // namespace tav
