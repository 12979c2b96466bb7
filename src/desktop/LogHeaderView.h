#pragma once
// The access log's column header: movable, clickable sections and the sort
// arrow drawn to the right of column 1's caption.

#include <QHeaderView>
#include <QPixmap>
#include <array>

namespace tav {

class LogHeaderView : public QHeaderView {
  Q_OBJECT
 public:
  explicit LogHeaderView(const std::array<QPixmap, 2>& arrows, QWidget* parent = nullptr);

  // 0 the upward arrow (ascending), 1 the downward arrow (descending).
  void SetArrowCell(int cell);
  int ArrowCell() const { return arrowCell_; }

  static constexpr int kSortColumn = 1;

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

 private:
  std::array<QPixmap, 2> arrows_;
  int arrowCell_ = 0;
};

}  // namespace tav
