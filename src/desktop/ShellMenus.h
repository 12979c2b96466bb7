#pragma once
// The menus of the desktop window. Every item carries its command number
// (QAction::data) and the window runs the command by that number.

#include <QString>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace tav {

enum Command : int {
  kCmdSettings = 40000,
  kCmdExit = 40001,
  kCmdGridLine = 40010,
  kCmdSortAscending = 40011,
  kCmdSortDescending = 40012,
  kCmdFtpBug = 40013,
  kCmdAlwaysOnTop = 40014,
  kCmdAbout = 40090,
  kCmdEditColumns = 40100,
  kCmdResetColumns = 40101,
  kCmdModeFirst = 40200,  // 40200-40206: DatMode 0-6
  kCmdModeLast = 40206,
  kCmdModeXdat = 40205,   // shown greyed
  kCmdRestore = 40500,
};

// Adds an item that runs `command`.
QAction* AddCommand(QMenu* menu, const QString& text, int command);
// The item of `command` in `menu` or its submenus, or null.
QAction* FindCommand(const QMenu* menu, int command);
QAction* FindCommand(const QMenuBar* bar, int command);

// Menu bar (resource 100).
void BuildMenuBar(QMenuBar* bar);
// The seven mode items, "直接(&D)" to "自動切替(&U)", xDAT greyed.
void AddModeItems(QMenu* menu);
// Checks the item of `datMode` and unchecks the others (none for a mode
// outside 0-6).
void CheckModeItem(QMenu* menu, int datMode);
// Tray menu (resource 101), "ウィンドウ表示(&V)" the default item.
QMenu* BuildTrayMenu(QWidget* parent);
// Status-bar menu (resource 122).
QMenu* BuildStatusMenu(QWidget* parent);
// Column-header menu (resource 104).
QMenu* BuildHeaderMenu(QWidget* parent);
// Log-row menu (resource 123).
QMenu* BuildRowMenu(QWidget* parent);

}  // namespace tav
