#include "desktop/ShellMenus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace tav {
namespace {

struct ModeItem {
  const char16_t* text;
  int command;
};

constexpr ModeItem kModeItems[] = {
    {u"直接(&D)", 40200}, {u"API(&A)", 40201},  {u"HTML(&H)", 40202},   {u"Style(&S)", 40203},
    {u"JSON(&J)", 40204}, {u"xDAT(&X)", 40205}, {u"自動切替(&U)", 40206},
};

QString Text(const char16_t* text) { return QString::fromUtf16(text); }

QAction* AddCheckable(QMenu* menu, const QString& text, int command) {
  QAction* action = AddCommand(menu, text, command);
  action->setCheckable(true);
  return action;
}

}  // namespace

QAction* AddCommand(QMenu* menu, const QString& text, int command) {
  QAction* action = menu->addAction(text);
  action->setData(command);
  return action;
}

QAction* FindCommand(const QMenu* menu, int command) {
  for (QAction* action : menu->actions()) {
    if (QMenu* sub = action->menu()) {
      if (QAction* found = FindCommand(sub, command)) return found;
    } else if (!action->isSeparator() && action->data().toInt() == command) {
      return action;
    }
  }
  return nullptr;
}

QAction* FindCommand(const QMenuBar* bar, int command) {
  for (QAction* action : bar->actions()) {
    if (QMenu* menu = action->menu()) {
      if (QAction* found = FindCommand(menu, command)) return found;
    }
  }
  return nullptr;
}

void BuildMenuBar(QMenuBar* bar) {
  QMenu* file = bar->addMenu(Text(u"ファイル(&F)"));
  AddCommand(file, Text(u"設定(&S)..."), kCmdSettings);
  AddCommand(file, Text(u"ftpバグ設定(&F)"), kCmdFtpBug);
  file->addSeparator();
  AddCommand(file, Text(u"終了(&X)"), kCmdExit);

  QMenu* view = bar->addMenu(Text(u"表示(&V)"));
  AddCheckable(view, Text(u"グリッド線を表示(&G)"), kCmdGridLine);
  QMenu* order = view->addMenu(Text(u"ログの並び順(&S)"));
  AddCheckable(order, Text(u"昇順(&U)"), kCmdSortAscending);
  AddCheckable(order, Text(u"降順(&D)"), kCmdSortDescending);
  view->addSeparator();
  AddCheckable(view, Text(u"常に最前面に表示(&A)"), kCmdAlwaysOnTop);

  QMenu* help = bar->addMenu(Text(u"ヘルプ(&H)"));
  AddCommand(help, Text(u"バージョン情報(&A)..."), kCmdAbout);
}

void AddModeItems(QMenu* menu) {
  for (const ModeItem& item : kModeItems) {
    QAction* action = AddCheckable(menu, Text(item.text), item.command);
    if (item.command == kCmdModeXdat) action->setEnabled(false);
  }
}

void CheckModeItem(QMenu* menu, int datMode) {
  for (int command = kCmdModeFirst; command <= kCmdModeLast; ++command) {
    if (QAction* action = FindCommand(menu, command)) action->setChecked(command - kCmdModeFirst == datMode);
  }
}

QMenu* BuildTrayMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  QAction* restore = AddCommand(menu, Text(u"ウィンドウ表示(&V)"), kCmdRestore);
  menu->setDefaultAction(restore);
  menu->addSeparator();
  AddModeItems(menu->addMenu(Text(u"モード(&M)")));
  AddCommand(menu, Text(u"設定(&S)..."), kCmdSettings);
  menu->addSeparator();
  AddCommand(menu, Text(u"終了(&X)"), kCmdExit);
  return menu;
}

QMenu* BuildStatusMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  AddModeItems(menu);
  return menu;
}

QMenu* BuildHeaderMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  AddCommand(menu, Text(u"編集(&E)..."), kCmdEditColumns);
  AddCommand(menu, Text(u"リセット(&R)"), kCmdResetColumns);
  return menu;
}

QMenu* BuildRowMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  AddCommand(menu, Text(u"ftpバグ設定(&F)"), kCmdFtpBug);
  return menu;
}

}  // namespace tav
