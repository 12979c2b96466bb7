#include "desktop/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include "platform/TextCodec.h"
#include "config/CSetting.h"
#include "desktop/AccessLogTableModel.h"
#include "desktop/BoxPresenter.h"
#include "desktop/FtpBugDialog.h"
#include "desktop/LogHeaderView.h"
#include "desktop/QtShell.h"
#include "desktop/QtText.h"
#include "desktop/SettingsDialog.h"
#include "desktop/ShellMenus.h"
#include "desktop/TrayIcon.h"

namespace tav {
namespace {

constexpr int kModePartWidth = 300;  // status bar part 1: from width-316 to width-16
constexpr QSize kDefaultSize(960, 420);
constexpr QSize kRowImageSize(9, 15);

// Runs the command of every item of `menu` and its submenus when chosen.
void ConnectCommands(QMenu* menu, MainWindow* window) {
  for (QAction* action : menu->actions()) {
    if (QMenu* sub = action->menu()) {
      ConnectCommands(sub, window);
    } else if (!action->isSeparator()) {
      int command = action->data().toInt();
      QObject::connect(action, &QAction::triggered, window, [window, command] { window->RunCommand(command); });
    }
  }
}

bool IsColumnPermutation(const std::array<int, 8>& order) {
  std::array<bool, 8> seen{};
  for (int column : order) {
    if (column < 0 || column >= 8 || seen[static_cast<std::size_t>(column)]) return false;
    seen[static_cast<std::size_t>(column)] = true;
  }
  return true;
}

}  // namespace

MainWindow::MainWindow(QtShell& shell, const ShellImages& images, QWidget* parent)
    : QMainWindow(parent),
      shell_(shell),
      setting_(shell.Setting()),
      images_(images),
      trayAvailable_([] { return QSystemTrayIcon::isSystemTrayAvailable(); }),
      runSettingsDialog_([](SettingsDialog& dialog) { return dialog.exec(); }) {
  setObjectName(QStringLiteral("TavriloxWindow"));
  setWindowTitle(ProgramTitle());
  setWindowIcon(images_.programIcon);
  resize(kDefaultSize);

  tray_ = new TrayIcon(images_.trayCells, this);
  BuildMenus();
  BuildLogView();
  BuildStatusBar();
  ftpBugDialog_ = new FtpBugDialog(setting_, this);
  ConnectShell();
  shell_.SetBoxParent(this);
}

MainWindow::~MainWindow() { shell_.SetBoxParent(nullptr); }

// --- building ---

void MainWindow::BuildMenus() {
  BuildMenuBar(menuBar());
  for (QAction* action : menuBar()->actions()) {
    if (QMenu* menu = action->menu()) ConnectCommands(menu, this);
  }

  trayMenu_ = BuildTrayMenu(this);
  ConnectCommands(trayMenu_, this);
  connect(trayMenu_, &QMenu::aboutToShow, this, [this] { PrepareModeMenu(trayMenu_); });
  tray_->SetMenu(trayMenu_);

  statusMenu_ = BuildStatusMenu(this);
  ConnectCommands(statusMenu_, this);
  connect(statusMenu_, &QMenu::aboutToShow, this, [this] { PrepareModeMenu(statusMenu_); });

  headerMenu_ = BuildHeaderMenu(this);
  ConnectCommands(headerMenu_, this);
  rowMenu_ = BuildRowMenu(this);
  ConnectCommands(rowMenu_, this);
}

void MainWindow::BuildLogView() {
  logModel_ = new AccessLogTableModel(shell_.Log(), images_.rowCells, this);
  logView_ = new QTableView;
  logView_->setObjectName(QStringLiteral("AccessLog"));
  logView_->setAccessibleName(QStringLiteral("アクセスログ"));
  header_ = new LogHeaderView(images_.headerArrows, logView_);
  logView_->setHorizontalHeader(header_);
  logView_->setModel(logModel_);
  logView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  logView_->setSelectionMode(QAbstractItemView::SingleSelection);
  logView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  logView_->setWordWrap(false);
  logView_->setShowGrid(false);
  logView_->setIconSize(kRowImageSize);
  logView_->setFrameShadow(QFrame::Sunken);
  logView_->verticalHeader()->hide();
  logView_->verticalHeader()->setDefaultSectionSize(logView_->fontMetrics().height() + 4);
  logView_->setContextMenuPolicy(Qt::CustomContextMenu);

  connect(header_, &QHeaderView::sectionClicked, this, [this](int logicalIndex) {
    if (logicalIndex == LogHeaderView::kSortColumn) ToggleLogSort();
  });
  connect(header_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupAtCursor(headerMenu_, header_->mapToGlobal(pos)); });
  connect(logView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    PrepareRowMenu();
    PopupAtCursor(rowMenu_, logView_->viewport()->mapToGlobal(pos));
  });

  // The list sits two pixels below the menu bar, as it always has.
  auto* holder = new QWidget;
  auto* layout = new QVBoxLayout(holder);
  layout->setContentsMargins(0, 2, 0, 0);
  layout->addWidget(logView_);
  setCentralWidget(holder);
  setFocusProxy(logView_);
}

void MainWindow::BuildStatusBar() {
  statusLabel_ = new QLabel;
  statusLabel_->setObjectName(QStringLiteral("StatusText"));
  statusLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  // Drawn as a real label, so that screen readers read the mode as text.
  modeLabel_ = new QLabel;
  modeLabel_->setObjectName(QStringLiteral("ModeText"));
  modeLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  modeLabel_->setFixedWidth(kModePartWidth);
  modeLabel_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(modeLabel_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupAtCursor(statusMenu_, modeLabel_->mapToGlobal(pos), true); });

  statusBar()->setObjectName(QStringLiteral("StatusBar"));
  statusBar()->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
  statusBar()->addWidget(statusLabel_, 1);
  statusBar()->addPermanentWidget(modeLabel_);
  statusBar()->setSizeGripEnabled(true);
}

void MainWindow::ConnectShell() {
  connect(&shell_, &QtShell::trayStateChanged, this, &MainWindow::RefreshTray);
  connect(&shell_, &QtShell::statusChanged, this, &MainWindow::RefreshStatus);
  connect(&shell_, &QtShell::balloonRequested, tray_, &TrayIcon::ShowBalloon);
  connect(&shell_, &QtShell::ftpBugDialogRequested, this, &MainWindow::ShowFtpBugTool);
  connect(tray_, &TrayIcon::leftClicked, this, &MainWindow::RestoreFromTray);
  connect(tray_, &TrayIcon::pointerPassed, this, &MainWindow::TrayPointerPassed);
  connect(tray_, &TrayIcon::trayReturned, this, &MainWindow::TrayReturned);
}

// --- start-up and shutdown ---

void MainWindow::AddTrayIcon() {
  tray_->SetTooltip(ProgramTitle());
  tray_->Show(kTrayIdle);
}

void MainWindow::ApplySettings() {
  auto cfg = setting_.Snapshot();
  UpdateMenuChecks();
  ApplyTopmost(cfg->AlwaysOnTop == 1);
  ApplyStoredPosition();
  logView_->setShowGrid(cfg->GridLine == 1);
  ApplyColumns();
  header_->SetArrowCell(cfg->LogSort != 0 ? 1 : 0);
  logModel_->SetSortDescending(cfg->LogSort != 0);
  RefreshStatus();
  RefreshModeDisplay();
}

void MainWindow::ShowAtStart() {
  if (setting_.Snapshot()->WindowMinimize != 1) {
    show();
  } else if (!trayAvailable_()) {
    // Without a tray the hidden window could never be reached again.
    showMinimized();
  }
}

void MainWindow::RemoveTrayIcon() { tray_->Remove(); }

void MainWindow::StoreWindowLayout() {
  QRect frame = frameGeometry();
  std::array<int, 8> order{};
  std::array<int, 8> widths{};
  for (int i = 0; i < 8; ++i) {
    order[static_cast<std::size_t>(i)] = header_->logicalIndex(i);
    widths[static_cast<std::size_t>(i)] = header_->sectionSize(i);
  }
  setting_.Update([&](SettingValues& v) {
    v.Position = {frame.x(), frame.y(), frame.width(), frame.height()};
    v.ColumnOrder = order;
    v.ColumnWidth = widths;
  });
}

void MainWindow::ApplyStoredPosition() {
  const auto position = setting_.Snapshot()->Position;
  if (position == std::array<int, 4>{0, 0, 0, 0}) return;
  move(position[0], position[1]);
  resize(position[2], position[3]);
  storedFrameSize_ = QSize(position[2], position[3]);
  framePending_ = true;
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!framePending_) return;
  QTimer::singleShot(0, this, &MainWindow::CorrectStoredFrame);
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (framePending_ && isVisible()) CorrectStoredFrame();
}

// The stored size is the frame's; once the window manager has framed the
// window, the frame comes off the client size.
void MainWindow::CorrectStoredFrame() {
  if (!framePending_) return;
  QSize frameExtra = frameGeometry().size() - geometry().size();
  if (frameExtra.width() <= 0 && frameExtra.height() <= 0) return;
  framePending_ = false;
  resize(storedFrameSize_ - frameExtra);
}

// --- commands ---

QAction* MainWindow::MenuBarCommand(int command) const { return FindCommand(menuBar(), command); }

void MainWindow::RunCommand(int command) {
  switch (command) {
    case kCmdSettings:
      OpenSettings(0);
      return;
    case kCmdEditColumns:
      OpenSettings(3);
      return;
    case kCmdExit:
      if (closing_ || !ConfirmExit()) return;
      closing_ = true;
      hide();
      emit closeConfirmed();
      return;
    case kCmdGridLine: {
      int grid = setting_.Snapshot()->GridLine == 1 ? 0 : 1;
      setting_.Update([grid](SettingValues& v) { v.GridLine = grid; });
      logView_->setShowGrid(grid == 1);
      UpdateMenuChecks();
      return;
    }
    case kCmdSortAscending:
    case kCmdSortDescending: {
      int logSort = command == kCmdSortDescending ? 1 : 0;
      setting_.Update([logSort](SettingValues& v) { v.LogSort = logSort; });
      SortLog();
      return;
    }
    case kCmdFtpBug:
      OpenFtpBugTool();
      return;
    case kCmdAlwaysOnTop: {
      int top = setting_.Snapshot()->AlwaysOnTop == 1 ? 0 : 1;
      setting_.Update([top](SettingValues& v) { v.AlwaysOnTop = top; });
      ApplyTopmost(top == 1);
      UpdateMenuChecks();
      return;
    }
    case kCmdAbout:
      shell_.Boxes().About(this);
      return;
    case kCmdResetColumns:
      setting_.ResetColumns();
      ApplyColumns();
      return;
    case kCmdRestore:
      RestoreFromTray();
      return;
    default:
      if (command >= kCmdModeFirst && command <= kCmdModeLast) SetDatMode(command - kCmdModeFirst);
      return;
  }
}

void MainWindow::UpdateMenuChecks() {
  auto cfg = setting_.Snapshot();
  MenuBarCommand(kCmdGridLine)->setChecked(cfg->GridLine == 1);
  MenuBarCommand(kCmdAlwaysOnTop)->setChecked(cfg->AlwaysOnTop == 1);
  MenuBarCommand(kCmdSortAscending)->setChecked(cfg->LogSort == 0);
  MenuBarCommand(kCmdSortDescending)->setChecked(cfg->LogSort != 0);
}

void MainWindow::ApplyTopmost(bool topmost) {
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topmost) return;
  bool wasVisible = isVisible();
  // Changing a window flag may recreate the native window, which hides it;
  // it comes back where it was, with the same size.
  setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
  if (wasVisible && !isVisible()) show();
}

void MainWindow::ApplyColumns() {
  auto cfg = setting_.Snapshot();
  if (IsColumnPermutation(cfg->ColumnOrder)) {
    for (int visual = 0; visual < 8; ++visual) {
      header_->moveSection(header_->visualIndex(cfg->ColumnOrder[static_cast<std::size_t>(visual)]), visual);
    }
  }
  for (int column = 0; column < 8; ++column) {
    header_->resizeSection(column, std::max(0, cfg->ColumnWidth[static_cast<std::size_t>(column)]));
  }
}

void MainWindow::SetDatMode(int mode) {
  setting_.Update([mode](SettingValues& v) { v.DatMode = mode; });
  RefreshModeDisplay();
}

void MainWindow::OpenSettings(int page) {
  if (settingsDialogOpen_) return;  // one dialog at a time
  settingsDialogOpen_ = true;
  // The dialog edits the column order as the user sees it; the widths as
  // shown are kept with it.
  StoreWindowLayout();
  int result = QDialog::Rejected;
  {
    SettingsDialog dialog(setting_, shell_.Boxes(), static_cast<SettingsPageId>(page), this, settingsServices_);
    result = runSettingsDialog_(dialog);
  }
  if (result == QDialog::Accepted) {
    ApplyColumns();
    StoreWindowLayout();
    setting_.Save();
    logView_->setShowGrid(setting_.Snapshot()->GridLine == 1);
    TrimLog();
  }
  settingsDialogOpen_ = false;
  RefreshModeDisplay();
}

void MainWindow::OpenFtpBugTool() {
  auto selected = GetSelectedThread();
  if (selected) {
    shell_.OpenFtpBugDialog(selected->server, selected->board, selected->thread);
  } else {
    shell_.OpenFtpBugDialog({}, {}, {});
  }
}

void MainWindow::ShowFtpBugTool(const QString& server, const QString& board, const QString& thread) {
  ftpBugDialog_->Open(server, board, thread);
}

// --- log view ---

void MainWindow::SortLog() {
  int logSort = setting_.Snapshot()->LogSort;
  shell_.Log().Sort(logSort);
  logModel_->Flush();
  header_->SetArrowCell(logSort != 0 ? 1 : 0);
  logModel_->SetSortDescending(logSort != 0);
  MenuBarCommand(kCmdSortAscending)->setChecked(logSort == 0);
  MenuBarCommand(kCmdSortDescending)->setChecked(logSort == 1);
}

void MainWindow::ToggleLogSort() {
  int logSort = setting_.Snapshot()->LogSort != 0 ? 0 : 1;
  setting_.Update([logSort](SettingValues& v) { v.LogSort = logSort; });
  SortLog();
}

void MainWindow::TrimLog() {
  auto cfg = setting_.Snapshot();
  shell_.Log().Trim(cfg->LogMax, cfg->LogSort);
  logModel_->Flush();
}

std::optional<SelectedThread> MainWindow::GetSelectedThread() const {
  QModelIndexList selected = logView_->selectionModel()->selectedRows();
  if (selected.isEmpty()) return std::nullopt;
  const LogRow& row = logModel_->Row(selected.first().row());
  const std::u16string& host = row.cells[2];
  const std::u16string& request = row.cells[3];
  auto cfg = setting_.Snapshot();

  // 1. the host ends in the primary board domain (or one of its aliases)
  std::size_t domainAt = std::u16string::npos;
  std::vector<std::string> domains{cfg->Domains.Primary};
  domains.insert(domains.end(), cfg->Domains.Aliases.begin(), cfg->Domains.Aliases.end());
  for (const std::string& domain : domains) {
    if (domain.empty()) continue;
    domainAt = host.find(Utf8ToUtf16(domain));
    if (domainAt != std::u16string::npos) break;
  }
  if (domainAt == std::u16string::npos) return std::nullopt;

  // 2. the thread key follows "/dat/" up to the next "."
  std::size_t dat = request.find(u"/dat/");
  if (dat == std::u16string::npos) return std::nullopt;
  std::size_t keyStart = dat + 5;
  std::size_t dot = request.find(u'.', keyStart);
  if (dot == std::u16string::npos) return std::nullopt;

  // 3. the board sits between the first "/" and the next one
  std::size_t slash = request.find(u'/');
  std::size_t nextSlash = request.find(u'/', slash + 1);
  if (nextSlash == std::u16string::npos) return std::nullopt;

  SelectedThread result;
  result.server = Utf16ToCp932(host.substr(0, domainAt));
  result.board = Utf16ToCp932(request.substr(slash + 1, nextSlash - slash - 1));
  result.thread = Utf16ToCp932(request.substr(keyStart, dot - keyStart));
  result.html = row.cells[4] == u"HTML";
  return result;
}

void MainWindow::PrepareRowMenu() {
  auto selected = GetSelectedThread();
  FindCommand(rowMenu_, kCmdFtpBug)->setEnabled(selected && selected->html);
}

void MainWindow::PrepareModeMenu(QMenu* menu) {
  CheckModeItem(menu, setting_.Snapshot()->DatMode);
  if (menu != trayMenu_) return;
  // While the settings dialog runs the tray menu offers nothing.
  for (QAction* action : trayMenu_->actions()) action->setEnabled(!settingsDialogOpen_);
}

void MainWindow::PopupAtCursor(QMenu* menu, QPoint globalPos, bool bottomAtCursor) {
  activateWindow();
  if (bottomAtCursor) globalPos.ry() -= menu->sizeHint().height();
  menu->popup(globalPos);
}

// --- status bar and tray ---

void MainWindow::RefreshStatus() { statusLabel_->setText(ToQString(shell_.StatusText())); }

void MainWindow::RefreshModeDisplay() {
  modeLabel_->setText(ToQString(shell_.ModeText()));
  tray_->SetTooltip(ToQString(shell_.TooltipText()));
  RefreshTray();
}

void MainWindow::RefreshTray() { tray_->Show(shell_.TrayState()); }

void MainWindow::TrayPointerPassed() { shell_.PointerOverTrayIcon(); }

void MainWindow::TrayReturned() { tray_->Readd(shell_.RestoreState()); }

void MainWindow::SetSettingsDialogRunner(std::function<int(SettingsDialog&)> runner) {
  runSettingsDialog_ = std::move(runner);
}

void MainWindow::SetTrayAvailabilityProbe(std::function<bool()> probe) {
  trayAvailable_ = probe;
  tray_->SetAvailabilityProbe(std::move(probe));
}

void MainWindow::RestoreFromTray() {
  if (restoreShowCommand_ == 3) {
    showMaximized();
  } else {
    showNormal();
  }
  raise();
  activateWindow();
  restoreShowCommand_ = 1;
}

// --- window events ---

bool MainWindow::ConfirmExit() {
  if (setting_.Snapshot()->ExitDialog != 1) return true;
  return shell_.Boxes().AskYesNo(this, QStringLiteral("終了しますか？"));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  if (!ConfirmExit()) {
    event->ignore();
    return;
  }
  closing_ = true;
  event->accept();
  emit closeConfirmed();
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  auto* change = static_cast<QWindowStateChangeEvent*>(event);
  bool minimisedNow = windowState().testFlag(Qt::WindowMinimized);
  bool wasMinimised = change->oldState().testFlag(Qt::WindowMinimized);
  // Minimising hides the window in the tray; without a tray it stays an
  // ordinary minimised window, the user's only way back.
  if (!minimisedNow || wasMinimised || !trayAvailable_()) return;
  if (change->oldState().testFlag(Qt::WindowMaximized)) restoreShowCommand_ = 3;
  QTimer::singleShot(0, this, [this] {
    if (!windowState().testFlag(Qt::WindowMinimized)) return;  // restored meanwhile
    hide();
    setWindowState(windowState() & ~Qt::WindowMinimized);
  });
}

}  // namespace tav
