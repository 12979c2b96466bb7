#include "desktop/TrayIcon.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace tav {
namespace {
constexpr int kMaxTipLength = 127;
constexpr int kBalloonMs = 10000;
constexpr int kAvailabilityCheckMs = 3000;
}  // namespace

TrayIcon::TrayIcon(const std::array<QPixmap, ShellImages::kTrayCells>& cells, QObject* parent)
    : QObject(parent),
      cells_(cells),
      icon_(new QSystemTrayIcon(this)),
      availabilityTimer_(new QTimer(this)),
      probe_([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    // Without a hover report from the desktop, using the icon counts as the
    // pointer having passed over it.
    emit pointerPassed();
    if (reason == QSystemTrayIcon::Trigger) emit leftClicked();
  });
  // An X11 tray icon is a small window of its own; its enter event is the
  // pointer passing over the icon. Other trays do not report hovering.
  qApp->installEventFilter(this);

  trayWasAvailable_ = probe_();
  connect(availabilityTimer_, &QTimer::timeout, this, &TrayIcon::CheckAvailability);
  availabilityTimer_->start(kAvailabilityCheckMs);
}

TrayIcon::~TrayIcon() {
  if (qApp != nullptr) qApp->removeEventFilter(this);
}

int TrayIcon::CellForState(int state) {
  switch (state) {
    case 100:
      return 0;
    case 101:
      return 2;
    case 102:
      return 1;
    case 103:
      return 3;
    default:
      return -1;
  }
}

void TrayIcon::SetMenu(QMenu* menu) {
  icon_->setContextMenu(menu);
  connect(menu, &QMenu::aboutToShow, this, &TrayIcon::pointerPassed);
}

void TrayIcon::Show(int state) {
  if (removed_) return;
  int cell = CellForState(state);
  if (cell < 0) {
    shownCell_ = -1;
    icon_->hide();
    return;
  }
  if (cell != shownCell_) icon_->setIcon(QIcon(cells_[static_cast<std::size_t>(cell)]));
  shownCell_ = cell;
  icon_->show();
}

void TrayIcon::SetTooltip(const QString& tip) {
  tooltip_ = tip.left(kMaxTipLength);
  if (!removed_) icon_->setToolTip(tooltip_);
}

void TrayIcon::Readd(int state) {
  if (removed_) return;
  icon_->hide();
  shownCell_ = -1;
  Show(state);
}

void TrayIcon::Remove() {
  removed_ = true;
  shownCell_ = -1;
  availabilityTimer_->stop();
  icon_->hide();
}

void TrayIcon::ShowBalloon(const QString& text) {
  if (removed_ || !icon_->isVisible()) return;
  icon_->showMessage(QString(), text, QSystemTrayIcon::Information, kBalloonMs);
}

void TrayIcon::SetAvailabilityProbe(std::function<bool()> probe) {
  probe_ = std::move(probe);
  trayWasAvailable_ = probe_();
}

void TrayIcon::CheckAvailability() {
  bool available = probe_();
  bool returned = available && !trayWasAvailable_;
  trayWasAvailable_ = available;
  if (returned && !removed_) emit trayReturned();
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Enter && watched->inherits("QSystemTrayIconSys")) emit pointerPassed();
  return QObject::eventFilter(watched, event);
}

}  // namespace tav
