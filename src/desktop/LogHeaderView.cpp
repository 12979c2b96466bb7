#include "desktop/LogHeaderView.h"

#include <QPainter>

namespace tav {
namespace {
constexpr int kTextMargin = 6;  // roughly where the style starts the caption
constexpr int kArrowGap = 6;
}  // namespace

LogHeaderView::LogHeaderView(const std::array<QPixmap, 2>& arrows, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), arrows_(arrows) {
  setSectionsMovable(true);
  setSectionsClickable(true);
  setHighlightSections(false);
  setSortIndicatorShown(false);
  setStretchLastSection(false);
  setMinimumSectionSize(0);
  setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setContextMenuPolicy(Qt::CustomContextMenu);
}

void LogHeaderView::SetArrowCell(int cell) {
  cell = cell != 0 ? 1 : 0;
  if (cell == arrowCell_) return;
  arrowCell_ = cell;
  viewport()->update();
}

void LogHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  painter->save();
  QHeaderView::paintSection(painter, rect, logicalIndex);
  painter->restore();
  if (logicalIndex != kSortColumn || model() == nullptr) return;

  const QPixmap& arrow = arrows_[static_cast<std::size_t>(arrowCell_)];
  QString caption = model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString();
  int x = rect.left() + kTextMargin + fontMetrics().horizontalAdvance(caption) + kArrowGap;
  if (x + arrow.width() > rect.right()) return;  // no room beside the caption
  int y = rect.top() + (rect.height() - arrow.height()) / 2;
  painter->drawPixmap(x, y, arrow);
}

}  // namespace tav
