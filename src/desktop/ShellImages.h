#pragma once
// The images of the desktop window: the tray strip, the log-row strip, the
// header arrows and the program icon. Built in, except that the tray cells
// can be replaced by files in the program folder.

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <array>
#include <vector>

namespace tav {

struct ShellImages {
  static constexpr int kTrayCellSize = 16;
  static constexpr int kTrayCells = 6;

  std::array<QPixmap, kTrayCells> trayCells;  // 0 idle, 1 busy, 2 error, 3 abone
  std::array<QPixmap, 4> rowCells;            // 0 failure, 1 success, 2 unused, 3 running
  std::array<QPixmap, 2> headerArrows;        // 0 ascending, 1 descending
  QIcon programIcon;

  // The built-in images only.
  static ShellImages BuiltIn();
  // The built-in images with the tray cells taken from `folder` where it
  // holds them: "tray.bmp" (16-pixel cells, magenta transparent) replaces
  // the strip, then "success.ico", "access.ico", "failure.ico" and
  // "abone.ico" replace cells 0-3. Files that do not load are ignored.
  static ShellImages Load(const QString& folder);
};

// Cuts a strip into `count` cells of `cellWidth`; cells past the strip's end
// stay empty (transparent).
std::vector<QPixmap> CutStrip(const QPixmap& strip, int cellWidth, int count);

}  // namespace tav
