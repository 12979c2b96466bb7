#pragma once
// The access log as a Qt table model. Workers change the core's
// AccessLogModel under its lock; this adapter copies every change it is told
// about into a queue, in the order the changes happened, and replays the
// queue on the GUI thread, so that the view always shows a state the log
// really had.

#include <QAbstractTableModel>
#include <QPixmap>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "shell/AccessLogModel.h"

namespace tav {

class AccessLogTableModel : public QAbstractTableModel, private AccessLogObserver {
  Q_OBJECT
 public:
  AccessLogTableModel(AccessLogModel& log, const std::array<QPixmap, 4>& rowImages, QObject* parent = nullptr);
  ~AccessLogTableModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // GUI thread: applies every change the log has reported so far. Called by
  // itself through the event loop; call it directly right after changing
  // the log from the GUI thread to see the result at once.
  void Flush();

  // The row as the view shows it (GUI thread).
  const LogRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }
  // Whether column 1's header reads descending (for its accessible text).
  void SetSortDescending(bool descending);

  // The caption of a column from the column caption table.
  static QString Caption(int column);

 private:
  struct Change {
    enum class Kind { Insert, Remove, Update, Reset } kind;
    std::uint64_t sequence;
    int index;
    LogRow row;
    std::vector<LogRow> rows;
  };

  // AccessLogObserver: any thread, under the log's lock.
  void RowInserted(int index, const LogRow& row) override;
  void RowRemoved(int index) override;
  void RowChanged(int index, const LogRow& row) override;
  void RowsReset(const std::vector<LogRow>& rows) override;

  void Enqueue(Change change);
  // False when the change does not fit the rows shown (it cannot happen
  // while every change is replayed; the caller then reloads the log).
  bool Apply(const Change& change);
  // Takes a fresh copy of the log and drops the queued changes it contains.
  void Reload();

  AccessLogModel& log_;
  std::array<QPixmap, 4> rowImages_;
  std::vector<LogRow> rows_;
  bool sortDescending_ = false;

  std::mutex queueMutex_;
  std::vector<Change> queue_;
  bool flushPosted_ = false;
  std::atomic<std::uint64_t> sequence_{0};  // counts changes, advanced under the log's lock
  std::uint64_t appliedThrough_ = 0;        // changes up to this one are in rows_
};

}  // namespace tav
