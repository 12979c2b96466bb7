#pragma once
// The main window: menu bar, access-log view, status bar and tray icon, and
// the commands of the menus by their numbers.

#include <QMainWindow>
#include <QMargins>
#include <functional>
#include <optional>
#include <string>

#include "desktop/ShellImages.h"
#include "shell/SettingsEditor.h"

class QLabel;
class QMenu;
class QTableView;

namespace tav {

class AccessLogTableModel;
class BoxPresenter;
class CSetting;
class FtpBugDialog;
class LogHeaderView;
class QtShell;
class SettingsDialog;
class TrayIcon;

// The thread of the selected log row (narrow texts in the wire's code page).
struct SelectedThread {
  std::string server;  // server label: the host up to the board domain
  std::string board;
  std::string thread;  // thread key
  bool html = false;   // the row's action reads "HTML"
};

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  MainWindow(QtShell& shell, const ShellImages& images, QWidget* parent = nullptr);
  ~MainWindow() override;

  // --- start-up and shutdown, in the order the program calls them ---
  // Adds the tray icon: idle cell, the bare title as tip.
  void AddTrayIcon();
  // Applies the loaded settings: menu checks, topmost, stored position,
  // grid lines, column order and widths, sort arrow; then the status and
  // mode texts.
  void ApplySettings();
  // Shown normally, or kept hidden when WindowMinimize is 1.
  void ShowAtStart();
  // Removes the tray icon for good.
  void RemoveTrayIcon();
  // Puts the window position and the column order and widths into the
  // settings, for saving.
  void StoreWindowLayout();

  // --- commands and views ---
  void RunCommand(int command);
  void RefreshModeDisplay();
  void RefreshStatus();
  void RefreshTray();
  void RestoreFromTray();
  void SortLog();
  void TrimLog();
  void ApplyColumns();
  std::optional<SelectedThread> GetSelectedThread() const;
  // The desktop's tray came back: the icon is added again with the
  // restore-state.
  void TrayReturned();

  // How the desktop's tray is looked for when minimising; tests replace it.
  void SetTrayAvailabilityProbe(std::function<bool()> probe);
  // How the settings dialog is run (QDialog::exec by default); tests answer
  // it without a user. Returns QDialog::Accepted or Rejected.
  void SetSettingsDialogRunner(std::function<int(SettingsDialog&)> runner);
  // The pattern engine and API session the settings dialog works with.
  void SetSettingsServices(SettingsServices services) { settingsServices_ = services; }

  // --- parts, for the program and for tests ---
  QTableView* LogView() const { return logView_; }
  AccessLogTableModel* LogModel() const { return logModel_; }
  LogHeaderView* Header() const { return header_; }
  QLabel* StatusLabel() const { return statusLabel_; }
  QLabel* ModeLabel() const { return modeLabel_; }
  TrayIcon& Tray() const { return *tray_; }
  QMenu* TrayMenu() const { return trayMenu_; }
  QMenu* StatusMenu() const { return statusMenu_; }
  QMenu* HeaderMenu() const { return headerMenu_; }
  QMenu* RowMenu() const { return rowMenu_; }
  QAction* MenuBarCommand(int command) const;
  FtpBugDialog* FtpBugTool() const { return ftpBugDialog_; }
  int RestoreShowCommand() const { return restoreShowCommand_; }
  bool SettingsDialogOpen() const { return settingsDialogOpen_; }
  // Prepares the popup menus as if they were about to open (checks and
  // greying), without opening them.
  void PrepareRowMenu();
  void PrepareModeMenu(QMenu* menu);

 signals:
  // The user confirmed closing: the program ends its event loop.
  void closeConfirmed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  void BuildLogView();
  void BuildStatusBar();
  void BuildMenus();
  void ConnectShell();
  void UpdateMenuChecks();
  void ApplyTopmost(bool topmost);
  void ApplyStoredPosition();
  void CorrectStoredFrame();
  void OpenSettings(int page);
  void OpenFtpBugTool();
  void ShowFtpBugTool(const QString& server, const QString& board, const QString& thread);
  void SetDatMode(int mode);
  void ToggleLogSort();
  void PopupAtCursor(QMenu* menu, QPoint globalPos, bool bottomAtCursor = false);
  void TrayPointerPassed();
  bool ConfirmExit();

  QtShell& shell_;
  CSetting& setting_;
  ShellImages images_;
  QTableView* logView_ = nullptr;
  AccessLogTableModel* logModel_ = nullptr;
  LogHeaderView* header_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QLabel* modeLabel_ = nullptr;
  TrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QMenu* statusMenu_ = nullptr;
  QMenu* headerMenu_ = nullptr;
  QMenu* rowMenu_ = nullptr;
  FtpBugDialog* ftpBugDialog_ = nullptr;  // created hidden, lives as long as the window
  std::function<bool()> trayAvailable_;
  std::function<int(SettingsDialog&)> runSettingsDialog_;
  SettingsServices settingsServices_;

  int restoreShowCommand_ = 1;  // 1 normal, 3 maximised
  bool settingsDialogOpen_ = false;
  bool closing_ = false;
  // A stored position names the frame's rectangle; the frame's size is only
  // known once the window is shown, so the client size is corrected then.
  bool framePending_ = false;
  QSize storedFrameSize_;
};

}  // namespace tav
