#pragma once
// The notification-area icon: its picture by tray state, its tooltip, its
// menu, balloons, and the events the window needs from it.

#include <QObject>
#include <QPixmap>
#include <QString>
#include <array>
#include <functional>

#include "desktop/ShellImages.h"

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace tav {

class TrayIcon : public QObject {
  Q_OBJECT
 public:
  TrayIcon(const std::array<QPixmap, ShellImages::kTrayCells>& cells, QObject* parent = nullptr);
  ~TrayIcon() override;

  // The cell shown for a tray state: 100 -> 0, 101 -> 2, 102 -> 1, 103 -> 3;
  // -1 (no icon) for 0 and any other value.
  static int CellForState(int state);

  void SetMenu(QMenu* menu);
  // Shows the icon with the cell of `state` (hidden for a state without a
  // cell). Does nothing once the icon has been removed.
  void Show(int state);
  // Longer tips are cut to 127 characters.
  void SetTooltip(const QString& tip);
  // Adds the icon once more (after the desktop's tray came back).
  void Readd(int state);
  // Removes the icon for good (shutdown).
  void Remove();
  // Balloon: no title, information icon, ten seconds.
  void ShowBalloon(const QString& text);

  int ShownCell() const { return shownCell_; }
  QString Tooltip() const { return tooltip_; }
  bool Removed() const { return removed_; }
  QSystemTrayIcon* Icon() const { return icon_; }

  // How the desktop's tray is looked for; tests replace it.
  void SetAvailabilityProbe(std::function<bool()> probe);
  // Compares the tray's presence with the last look; emits trayReturned when
  // it has come back. Runs every few seconds by itself.
  void CheckAvailability();

 signals:
  void leftClicked();
  // The pointer passed over the icon, or the icon was used in a way that
  // implies it (its menu opened, it was clicked).
  void pointerPassed();
  void trayReturned();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::array<QPixmap, ShellImages::kTrayCells> cells_;
  QSystemTrayIcon* icon_;
  QTimer* availabilityTimer_;
  std::function<bool()> probe_;
  bool trayWasAvailable_ = false;
  int shownCell_ = -1;
  QString tooltip_;
  bool removed_ = false;
};

}  // namespace tav
