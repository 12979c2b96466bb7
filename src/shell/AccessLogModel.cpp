#include "shell/AccessLogModel.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tav {

void AccessLogModel::SetLimits(int logMax, int logSort) {
  std::lock_guard lock(mutex_);
  logMax_ = std::clamp(logMax, 1, 50);
  logSort_ = logSort;
}

int AccessLogModel::AddRow(int column, const std::u16string& text, int image, std::uint32_t itemData) {
  LogRow row;
  if (column >= 0 && column < kLogColumns) row.cells[static_cast<std::size_t>(column)] = text;
  row.image = image;
  row.itemData = itemData;
  return AddRow(row);
}

int AccessLogModel::AddRow(const LogRow& row) {
  std::lock_guard lock(mutex_);
  if (static_cast<int>(rows_.size()) >= logMax_ && !rows_.empty()) {
    RemoveLocked(logSort_ != 0 ? static_cast<int>(rows_.size()) - 1 : 0);
  }
  int index = logSort_ == 1 ? 0 : static_cast<int>(rows_.size());
  rows_.insert(rows_.begin() + index, row);
  for (auto* observer : observers_) observer->RowInserted(index, row);
  return index;
}

bool AccessLogModel::SetCell(std::uint32_t requestId, int column, const std::u16string& text, int image) {
  if (column < 0 || column >= kLogColumns) return false;
  // A row that is gone stays gone: newer requests pushed it out. The update
  // is dropped at once, so that a long tunnel or answer whose row has gone
  // never waits for it.
  std::lock_guard lock(mutex_);
  auto index = FindLocked(requestId);
  if (!index) return false;
  LogRow& row = rows_[static_cast<std::size_t>(*index)];
  row.cells[static_cast<std::size_t>(column)] = text;
  if (image >= 0) row.image = image;
  for (auto* observer : observers_) observer->RowChanged(*index, row);
  return true;
}

std::optional<int> AccessLogModel::Find(std::uint32_t requestId) {
  {
    std::lock_guard lock(mutex_);
    if (auto index = FindLocked(requestId)) return index;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::lock_guard lock(mutex_);
  return FindLocked(requestId);
}

std::optional<LogRow> AccessLogModel::RowById(std::uint32_t requestId) const {
  std::lock_guard lock(mutex_);
  auto index = FindLocked(requestId);
  if (!index) return std::nullopt;
  return rows_[static_cast<std::size_t>(*index)];
}

std::optional<int> AccessLogModel::FindLocked(std::uint32_t requestId) const {
  for (int i = static_cast<int>(rows_.size()) - 1; i >= 0; --i) {
    if (rows_[static_cast<std::size_t>(i)].itemData == requestId) return i;
  }
  return std::nullopt;
}

void AccessLogModel::RemoveLocked(int index) {
  rows_.erase(rows_.begin() + index);
  for (auto* observer : observers_) observer->RowRemoved(index);
}

void AccessLogModel::Sort(int logSort) {
  std::lock_guard lock(mutex_);
  logSort_ = logSort;
  auto key = [](const LogRow& row) { return row.cells[1].substr(0, 59); };
  std::stable_sort(rows_.begin(), rows_.end(), [&](const LogRow& a, const LogRow& b) {
    return logSort != 0 ? key(b) < key(a) : key(a) < key(b);
  });
  for (auto* observer : observers_) observer->RowsReset(rows_);
}

void AccessLogModel::Trim(int logMax, int logSort) {
  std::lock_guard lock(mutex_);
  logMax_ = std::clamp(logMax, 1, 50);
  logSort_ = logSort;
  while (static_cast<int>(rows_.size()) > logMax_) {
    RemoveLocked(logSort_ != 0 ? static_cast<int>(rows_.size()) - 1 : 0);
  }
}

std::vector<LogRow> AccessLogModel::Rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

int AccessLogModel::Count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(rows_.size());
}

void AccessLogModel::AddObserver(AccessLogObserver* observer) {
  std::lock_guard lock(mutex_);
  observers_.push_back(observer);
}

void AccessLogModel::RemoveObserver(AccessLogObserver* observer) {
  std::lock_guard lock(mutex_);
  std::erase(observers_, observer);
}

}  // namespace tav
