#include <gtest/gtest.h>

#include "config/FtpBugList.h"

namespace tav {
namespace {

TEST(FtpBugList, RegisteringReplacesTheEntryOfTheSameThreadOrAppendsOne) {
  const std::vector<FtpBugEntry> start = {{u"software", u"1437650830", {296}}, {u"news", u"1500000000", {3}}};
  struct Row {
    const char16_t* board;
    const char16_t* thread;
    const char16_t* posts;
    FtpBugRegister expected;
    std::size_t size;
    std::vector<std::int32_t> lastPosts;  // of the entry changed
    std::size_t changed;
  };
  const Row rows[] = {
      {u"news", u"1500000000", u"4,9", FtpBugRegister::kStored, 2, {4, 9}, 1},
      {u"News", u"1500000000", u"4", FtpBugRegister::kStored, 3, {4}, 2},  // compared exactly
      {u"", u"1500000000", u"4", FtpBugRegister::kMissingInput, 2, {3}, 1},
      {u"news", u"1500000000", u"", FtpBugRegister::kMissingInput, 2, {3}, 1},
  };
  for (const Row& row : rows) {
    std::vector<FtpBugEntry> list = start;
    EXPECT_EQ(RegisterFtpBugEntry(list, row.board, row.thread, row.posts), row.expected);
    ASSERT_EQ(list.size(), row.size);
    EXPECT_EQ(list[row.changed].posts, row.lastPosts);
    EXPECT_EQ(list[0].posts, std::vector<std::int32_t>{296});
  }

  std::vector<FtpBugEntry> full(kFtpBugListMax, FtpBugEntry{u"b", u"1", {1}});
  EXPECT_EQ(RegisterFtpBugEntry(full, u"b", u"1", u"2"), FtpBugRegister::kListFull);
  EXPECT_EQ(full[0].posts, std::vector<std::int32_t>{1});
}

}  // namespace
}  // namespace tav
