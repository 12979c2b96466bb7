#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "shell/AccessLogModel.h"

namespace tav {
namespace {

std::vector<std::uint32_t> Ids(const AccessLogModel& log) {
  std::vector<std::uint32_t> ids;
  for (const auto& row : log.Rows()) ids.push_back(row.itemData);
  return ids;
}

void AddRequests(AccessLogModel& log, int first, int last) {
  for (int i = first; i <= last; ++i) {
    std::u16string time = u"2026/01/01 00:00:0" + std::u16string(1, static_cast<char16_t>(u'0' + i));
    log.AddRow(1, time, 3, static_cast<std::uint32_t>(i));
  }
}

TEST(AccessLogModel, KeepsTheNewestRowsInEitherOrder) {
  AccessLogModel ascending;
  ascending.SetLimits(3, 0);
  AddRequests(ascending, 1, 5);
  EXPECT_EQ(Ids(ascending), (std::vector<std::uint32_t>{3, 4, 5}));

  AccessLogModel descending;
  descending.SetLimits(3, 1);
  AddRequests(descending, 1, 5);
  EXPECT_EQ(Ids(descending), (std::vector<std::uint32_t>{5, 4, 3}));
}

TEST(AccessLogModel, TrimKeepsTheNewest) {
  for (int sort : {0, 1}) {
    AccessLogModel log;
    log.SetLimits(25, sort);
    AddRequests(log, 1, 9);
    log.Trim(4, sort);
    auto ids = Ids(log);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{6, 7, 8, 9})) << "sort " << sort;
  }
}

TEST(AccessLogModel, SortingTwiceReturnsToTheStart) {
  AccessLogModel log;
  log.SetLimits(25, 0);
  AddRequests(log, 1, 4);
  log.Sort(1);
  EXPECT_EQ(Ids(log), (std::vector<std::uint32_t>{4, 3, 2, 1}));
  log.Sort(0);
  EXPECT_EQ(Ids(log), (std::vector<std::uint32_t>{1, 2, 3, 4}));
}

TEST(AccessLogModel, CellsOfPushedOutRowsGoNowhere) {
  AccessLogModel log;
  log.SetLimits(1, 0);
  log.AddRow(0, u"0", 3, 11);
  log.AddRow(0, u"0", 3, 12);
  EXPECT_FALSE(log.SetCell(11, 5, u"成功", 1));
  EXPECT_TRUE(log.SetCell(12, 5, u"成功", 1));
  EXPECT_EQ(log.Rows()[0].cells[5], u"成功");
  EXPECT_EQ(log.Rows()[0].image, 1);
}

TEST(AccessLogModel, ConcurrentWritersKeepRowsWhole) {
  AccessLogModel log;
  log.SetLimits(50, 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&log, t] {
      for (std::uint32_t i = 0; i < 200; ++i) {
        std::uint32_t id = static_cast<std::uint32_t>(t) * 1000 + i + 1;
        log.AddRow(0, u"0", 3, id);
        log.SetCell(id, 5, u"done", 1);
      }
    });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(log.Count(), 50);
  for (const auto& row : log.Rows()) EXPECT_EQ(row.cells[5], u"done");
}

}  // namespace
}  // namespace tav
