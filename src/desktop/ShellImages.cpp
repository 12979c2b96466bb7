#include "desktop/ShellImages.h"

#include <QBitmap>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

// Resources of a static library have to be registered by hand.
static void RegisterBuiltInImages() { Q_INIT_RESOURCE(tavrilox); }

namespace tav {
namespace {

QPixmap EmptyCell(int width, int height) {
  QPixmap cell(width, height);
  cell.fill(Qt::transparent);
  return cell;
}

// A strip from the program folder: magenta (255,0,255) is the transparent
// colour, as in the images of the original resource format.
QPixmap LoadKeyedStrip(const QString& path) {
  QImage image;
  if (!image.load(path)) return {};
  image = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = qRgb(255, 0, 255);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if ((line[x] & 0x00FFFFFFu) == (key & 0x00FFFFFFu)) line[x] = qRgba(0, 0, 0, 0);
    }
  }
  return QPixmap::fromImage(image);
}

// An icon file replaces a tray cell when it yields a 16x16 picture.
QPixmap LoadIconCell(const QString& path) {
  if (!QFileInfo::exists(path)) return {};
  QIcon icon(path);
  QPixmap pixmap = icon.pixmap(ShellImages::kTrayCellSize, ShellImages::kTrayCellSize);
  if (pixmap.isNull()) return {};
  if (pixmap.size() != QSize(ShellImages::kTrayCellSize, ShellImages::kTrayCellSize)) {
    pixmap = pixmap.scaled(ShellImages::kTrayCellSize, ShellImages::kTrayCellSize, Qt::KeepAspectRatio,
                           Qt::SmoothTransformation);
  }
  return pixmap;
}

template <std::size_t N>
void FillFromStrip(std::array<QPixmap, N>& cells, const QPixmap& strip, int cellWidth) {
  std::vector<QPixmap> cut = CutStrip(strip, cellWidth, static_cast<int>(N));
  for (std::size_t i = 0; i < N; ++i) cells[i] = cut[i];
}

}  // namespace

std::vector<QPixmap> CutStrip(const QPixmap& strip, int cellWidth, int count) {
  std::vector<QPixmap> cells;
  int height = strip.isNull() ? cellWidth : strip.height();
  for (int i = 0; i < count; ++i) {
    QPixmap cell = EmptyCell(cellWidth, height);
    if (!strip.isNull() && i * cellWidth < strip.width()) {
      QPainter painter(&cell);
      painter.drawPixmap(0, 0, strip, i * cellWidth, 0, cellWidth, height);
    }
    cells.push_back(cell);
  }
  return cells;
}

ShellImages ShellImages::BuiltIn() {
  RegisterBuiltInImages();
  ShellImages images;
  FillFromStrip(images.trayCells, QPixmap(QStringLiteral(":/images/tray.xpm")), kTrayCellSize);
  FillFromStrip(images.rowCells, QPixmap(QStringLiteral(":/images/rows.xpm")), 9);
  FillFromStrip(images.headerArrows, QPixmap(QStringLiteral(":/images/arrows.xpm")), 8);
  images.programIcon.addPixmap(QPixmap(QStringLiteral(":/images/program.xpm")));
  images.programIcon.addPixmap(images.trayCells[0]);
  return images;
}

ShellImages ShellImages::Load(const QString& folder) {
  ShellImages images = BuiltIn();
  QDir dir(folder);
  QPixmap strip = LoadKeyedStrip(dir.filePath(QStringLiteral("tray.bmp")));
  if (!strip.isNull() && strip.width() >= kTrayCellSize) FillFromStrip(images.trayCells, strip, kTrayCellSize);

  const char* iconFiles[] = {"success.ico", "access.ico", "failure.ico", "abone.ico"};
  for (std::size_t cell = 0; cell < 4; ++cell) {
    QPixmap replacement = LoadIconCell(dir.filePath(QString::fromLatin1(iconFiles[cell])));
    if (!replacement.isNull()) images.trayCells[cell] = replacement;
  }
  return images;
}

}  // namespace tav
