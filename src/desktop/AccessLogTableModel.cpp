#include "desktop/AccessLogTableModel.h"

#include <QMetaObject>

#include "desktop/QtText.h"

namespace tav {
namespace {

constexpr const char16_t* kCaptions[kLogColumns] = {u"アイコン", u"取得日時", u"ホスト",     u"リクエスト",
                                                    u"動作",     u"ステータス", u"受信サイズ", u"送信サイズ"};

// What a row image means, for screen readers (the image has no text).
QString ImageMeaning(int image) {
  switch (image) {
    case 0:
      return QStringLiteral("失敗");
    case 1:
      return QStringLiteral("成功");
    case 3:
      return QStringLiteral("接続中");
    default:
      return QString();
  }
}

bool RightAligned(int column) { return column == 6 || column == 7; }

}  // namespace

AccessLogTableModel::AccessLogTableModel(AccessLogModel& log, const std::array<QPixmap, 4>& rowImages,
                                         QObject* parent)
    : QAbstractTableModel(parent), log_(log), rowImages_(rowImages) {
  log_.AddObserver(this);
  Reload();
}

AccessLogTableModel::~AccessLogTableModel() { log_.RemoveObserver(this); }

QString AccessLogTableModel::Caption(int column) {
  if (column < 0 || column >= kLogColumns) return QString();
  return QString::fromUtf16(kCaptions[column]);
}

int AccessLogTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int AccessLogTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kLogColumns; }

QVariant AccessLogTableModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
  const LogRow& row = Row(index.row());
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
      return ToQString(row.cells[static_cast<std::size_t>(column)]);
    case Qt::AccessibleTextRole:
      if (column == 0) return ImageMeaning(row.image);
      return ToQString(row.cells[static_cast<std::size_t>(column)]);
    case Qt::ToolTipRole:
      if (column == 0) return ImageMeaning(row.image);
      return {};
    case Qt::DecorationRole:
      if (column == 0 && row.image >= 0 && row.image < 4) return rowImages_[static_cast<std::size_t>(row.image)];
      return {};
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignVCenter | (RightAligned(column) ? Qt::AlignRight : Qt::AlignLeft));
    default:
      return {};
  }
}

QVariant AccessLogTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kLogColumns) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  switch (role) {
    case Qt::DisplayRole:
      return section == 0 ? QString() : Caption(section);  // the icon column's header is blank
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole:
      return Caption(section);
    case Qt::AccessibleDescriptionRole:
      if (section == 1) return sortDescending_ ? QStringLiteral("降順") : QStringLiteral("昇順");
      return {};
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignVCenter | (RightAligned(section) ? Qt::AlignRight : Qt::AlignLeft));
    default:
      return {};
  }
}

void AccessLogTableModel::SetSortDescending(bool descending) {
  if (sortDescending_ == descending) return;
  sortDescending_ = descending;
  emit headerDataChanged(Qt::Horizontal, 1, 1);
}

// --- changes from the log ---

void AccessLogTableModel::RowInserted(int index, const LogRow& row) {
  Enqueue({Change::Kind::Insert, ++sequence_, index, row, {}});
}

void AccessLogTableModel::RowRemoved(int index) { Enqueue({Change::Kind::Remove, ++sequence_, index, {}, {}}); }

void AccessLogTableModel::RowChanged(int index, const LogRow& row) {
  Enqueue({Change::Kind::Update, ++sequence_, index, row, {}});
}

void AccessLogTableModel::RowsReset(const std::vector<LogRow>& rows) {
  Enqueue({Change::Kind::Reset, ++sequence_, 0, {}, rows});
}

void AccessLogTableModel::Enqueue(Change change) {
  std::lock_guard lock(queueMutex_);
  queue_.push_back(std::move(change));
  if (flushPosted_) return;
  flushPosted_ = true;
  // Posting never blocks; a worker is never held up by the view. Events
  // still queued when this object goes away are dropped with it.
  QMetaObject::invokeMethod(this, &AccessLogTableModel::Flush, Qt::QueuedConnection);
}

void AccessLogTableModel::Flush() {
  std::vector<Change> changes;
  {
    std::lock_guard lock(queueMutex_);
    changes.swap(queue_);
    flushPosted_ = false;
  }
  for (const Change& change : changes) {
    if (change.sequence <= appliedThrough_) continue;  // already in the copy taken by Reload
    if (!Apply(change)) {
      Reload();
      return;
    }
    appliedThrough_ = change.sequence;
  }
}

bool AccessLogTableModel::Apply(const Change& change) {
  const int count = static_cast<int>(rows_.size());
  switch (change.kind) {
    case Change::Kind::Insert:
      if (change.index < 0 || change.index > count) return false;
      beginInsertRows(QModelIndex(), change.index, change.index);
      rows_.insert(rows_.begin() + change.index, change.row);
      endInsertRows();
      return true;
    case Change::Kind::Remove:
      if (change.index < 0 || change.index >= count) return false;
      beginRemoveRows(QModelIndex(), change.index, change.index);
      rows_.erase(rows_.begin() + change.index);
      endRemoveRows();
      return true;
    case Change::Kind::Update:
      if (change.index < 0 || change.index >= count) return false;
      rows_[static_cast<std::size_t>(change.index)] = change.row;
      emit dataChanged(index(change.index, 0), index(change.index, kLogColumns - 1));
      return true;
    case Change::Kind::Reset:
      beginResetModel();
      rows_ = change.rows;
      endResetModel();
      return true;
  }
  return false;
}

void AccessLogTableModel::Reload() {
  // The change counter advances only under the log's lock, and Rows() takes
  // that lock: when the counter reads the same before and after, the copy
  // holds exactly the changes up to that count.
  std::uint64_t before = 0;
  std::vector<LogRow> rows;
  for (;;) {
    before = sequence_.load();
    rows = log_.Rows();
    if (sequence_.load() == before) break;
  }
  beginResetModel();
  rows_ = std::move(rows);
  appliedThrough_ = before;
  endResetModel();
}

}  // namespace tav
