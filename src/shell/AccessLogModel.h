#pragma once
// The access log: at most LogMax rows of eight text cells, an image and the
// request id. Thread-safe; workers write it, views observe it.

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tav {

inline constexpr int kLogColumns = 8;

struct LogRow {
  std::array<std::u16string, kLogColumns> cells;
  int image = 0;
  std::uint32_t itemData = 0;
};

// Notified while the model's lock is held, in the order the changes happen.
// An observer must not call back into the model; a view on another thread
// copies what it is given and applies it on its own thread.
class AccessLogObserver {
 public:
  virtual ~AccessLogObserver() = default;
  virtual void RowInserted(int index, const LogRow& row) = 0;
  virtual void RowRemoved(int index) = 0;
  virtual void RowChanged(int index, const LogRow& row) = 0;
  virtual void RowsReset(const std::vector<LogRow>& rows) = 0;
};

class AccessLogModel {
 public:
  // LogMax (1..50) and LogSort as in the settings; read on every insertion.
  void SetLimits(int logMax, int logSort);

  // Makes room (drops the last row when LogSort is non-zero, else the first)
  // and inserts a row at the top (LogSort 1) or at the bottom.
  int AddRow(int column, const std::u16string& text, int image, std::uint32_t itemData);
  int AddRow(const LogRow& row);
  // Finds the row by request id and sets one cell and, unless image < 0, the
  // row image. False (at once) when the row is gone.
  bool SetCell(std::uint32_t requestId, int column, const std::u16string& text, int image);
  std::optional<int> Find(std::uint32_t requestId);
  std::optional<LogRow> RowById(std::uint32_t requestId) const;

  // Sorts on column 1 (first 59 characters), descending when logSort != 0.
  void Sort(int logSort);
  // Removes rows beyond logMax, oldest first.
  void Trim(int logMax, int logSort);

  std::vector<LogRow> Rows() const;
  int Count() const;

  void AddObserver(AccessLogObserver* observer);
  void RemoveObserver(AccessLogObserver* observer);

 private:
  std::optional<int> FindLocked(std::uint32_t requestId) const;
  void RemoveLocked(int index);

  mutable std::mutex mutex_;
  std::vector<LogRow> rows_;
  std::vector<AccessLogObserver*> observers_;
  int logMax_ = 25;
  int logSort_ = 0;
};

}  // namespace tav
