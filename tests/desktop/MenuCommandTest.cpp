// Menu texts, checks and greying, and what the commands do.

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QtTest>

#include "QtTestRegistry.h"
#include "WindowFixture.h"
#include "desktop/AboutDialog.h"
#include "desktop/AccessLogTableModel.h"
#include "desktop/LogHeaderView.h"
#include "desktop/ShellMenus.h"
#include "desktop/TrayIcon.h"

namespace tav::test {
namespace {

// "text|command" of every item in order; submenus as "[text]", separators "-".
QStringList Describe(const QMenu* menu) {
  QStringList items;
  for (QAction* action : menu->actions()) {
    if (action->isSeparator()) {
      items << QStringLiteral("-");
    } else if (action->menu() != nullptr) {
      items << QStringLiteral("[%1]").arg(action->text());
      items << Describe(action->menu());
      items << QStringLiteral("[/]");
    } else {
      items << QStringLiteral("%1|%2").arg(action->text()).arg(action->data().toInt());
    }
  }
  return items;
}

const QStringList kModeItems = {
    QStringLiteral("直接(&D)|40200"), QStringLiteral("API(&A)|40201"),  QStringLiteral("HTML(&H)|40202"),
    QStringLiteral("Style(&S)|40203"), QStringLiteral("JSON(&J)|40204"), QStringLiteral("xDAT(&X)|40205"),
    QStringLiteral("自動切替(&U)|40206"),
};

void AddRow(QtShell& shell, std::uint32_t id, const std::u16string& time) {
  shell.Log().SetLimits(shell.Setting().Snapshot()->LogMax, shell.Setting().Snapshot()->LogSort);
  shell.Log().AddRow(0, u"0", kImageRunning, id);
  shell.Log().SetCell(id, 1, time, kImageKeep);
}

}  // namespace

class MenuCommandTest : public QObject {
  Q_OBJECT
 private slots:
  void menuBarHasItsItemsInOrder() {
    WindowFixture f;
    QStringList menus;
    QStringList items;
    for (QAction* action : f.Window().menuBar()->actions()) {
      menus << action->text();
      items << Describe(action->menu());
    }
    QCOMPARE(menus, QStringList({QStringLiteral("ファイル(&F)"), QStringLiteral("表示(&V)"),
                                 QStringLiteral("ヘルプ(&H)")}));
    QCOMPARE(items, QStringList({
                        QStringLiteral("設定(&S)...|40000"),
                        QStringLiteral("ftpバグ設定(&F)|40013"),
                        QStringLiteral("-"),
                        QStringLiteral("終了(&X)|40001"),
                        QStringLiteral("グリッド線を表示(&G)|40010"),
                        QStringLiteral("[ログの並び順(&S)]"),
                        QStringLiteral("昇順(&U)|40011"),
                        QStringLiteral("降順(&D)|40012"),
                        QStringLiteral("[/]"),
                        QStringLiteral("-"),
                        QStringLiteral("常に最前面に表示(&A)|40014"),
                        QStringLiteral("バージョン情報(&A)...|40090"),
                    }));
  }

  void popupMenusHaveTheirItems() {
    WindowFixture f;
    QStringList tray = {QStringLiteral("ウィンドウ表示(&V)|40500"), QStringLiteral("-"),
                        QStringLiteral("[モード(&M)]")};
    tray << kModeItems;
    tray << QStringLiteral("[/]") << QStringLiteral("設定(&S)...|40000") << QStringLiteral("-")
         << QStringLiteral("終了(&X)|40001");
    QCOMPARE(Describe(f.Window().TrayMenu()), tray);
    QCOMPARE(f.Window().TrayMenu()->defaultAction()->data().toInt(), 40500);
    QCOMPARE(Describe(f.Window().StatusMenu()), kModeItems);
    QCOMPARE(Describe(f.Window().HeaderMenu()),
             QStringList({QStringLiteral("編集(&E)...|40100"), QStringLiteral("リセット(&R)|40101")}));
    QCOMPARE(Describe(f.Window().RowMenu()), QStringList({QStringLiteral("ftpバグ設定(&F)|40013")}));
    // xDAT is offered greyed in both mode menus
    QVERIFY(!FindCommand(f.Window().TrayMenu(), 40205)->isEnabled());
    QVERIFY(!FindCommand(f.Window().StatusMenu(), 40205)->isEnabled());
    QVERIFY(FindCommand(f.Window().StatusMenu(), 40204)->isEnabled());
  }

  void modeMenusCheckTheCurrentModeOnly() {
    WindowFixture f([](SettingValues& v) { v.DatMode = 4; });
    QMenu* status = f.Window().StatusMenu();
    f.Window().PrepareModeMenu(status);
    for (int command = 40200; command <= 40206; ++command) {
      QCOMPARE(FindCommand(status, command)->isChecked(), command == 40204);
    }
    f.setting.Update([](SettingValues& v) { v.DatMode = 9; });
    f.Window().PrepareModeMenu(status);
    for (int command = 40200; command <= 40206; ++command) QVERIFY(!FindCommand(status, command)->isChecked());
  }

  void modeSwitchFromTheTrayMenu() {
    WindowFixture f;
    FindCommand(f.Window().TrayMenu(), 40200)->trigger();
    QCOMPARE(f.Cfg()->DatMode, 0);
    QCOMPARE(f.Window().ModeLabel()->text(), QStringLiteral("127.0.0.1:8822 / モード：直接"));
    QCOMPARE(f.Window().Tray().Tooltip(), QStringLiteral("Tavrilox v0.17α - 直接"));
    QVERIFY(f.boxes.boxes.empty());  // mode 0 from the menus comes without a message

    FindCommand(f.Window().TrayMenu(), 40206)->trigger();
    QCOMPARE(f.Cfg()->DatMode, 6);
    QCOMPARE(f.Window().Tray().Tooltip(), QStringLiteral("Tavrilox v0.17α - 自動切替"));
    f.Window().PrepareModeMenu(f.Window().TrayMenu());
    QVERIFY(FindCommand(f.Window().TrayMenu(), 40206)->isChecked());
    QVERIFY(!FindCommand(f.Window().TrayMenu(), 40200)->isChecked());
  }

  void modeSwitchFromTheStatusBarMenu() {
    WindowFixture f;
    FindCommand(f.Window().StatusMenu(), 40201)->trigger();
    QCOMPARE(f.Cfg()->DatMode, 1);
    QCOMPARE(f.Window().ModeLabel()->text(), QStringLiteral("127.0.0.1:8822 / モード：API(JaneStyle)"));
    // a Current naming no profile shows "API" alone
    f.setting.Update([](SettingValues& v) { v.ApiProfiles.clear(); });
    f.Window().RefreshModeDisplay();
    QCOMPARE(f.Window().ModeLabel()->text(), QStringLiteral("127.0.0.1:8822 / モード：API"));
    QCOMPARE(f.Window().ModeLabel()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  }

  void gridLinesToggle() {
    WindowFixture f;
    QAction* grid = f.Window().MenuBarCommand(40010);
    QVERIFY(!grid->isChecked());
    QVERIFY(!f.Window().LogView()->showGrid());
    grid->trigger();
    QCOMPARE(f.Cfg()->GridLine, 1);
    QVERIFY(f.Window().LogView()->showGrid());
    QVERIFY(grid->isChecked());
    grid->trigger();
    QCOMPARE(f.Cfg()->GridLine, 0);
    QVERIFY(!f.Window().LogView()->showGrid());
    QVERIFY(!grid->isChecked());

    // a value other than 1 counts as off: the toggle makes it 1
    WindowFixture odd([](SettingValues& v) { v.GridLine = 7; });
    QVERIFY(!odd.Window().LogView()->showGrid());
    odd.Window().MenuBarCommand(40010)->trigger();
    QCOMPARE(odd.Cfg()->GridLine, 1);
  }

  void sortOrderFromTheMenuAndTheHeader() {
    WindowFixture f;
    AddRow(f.Shell(), 1, u"2024/01/01 10:00:01");
    AddRow(f.Shell(), 2, u"2024/01/01 10:00:02");
    AddRow(f.Shell(), 3, u"2024/01/01 10:00:03");
    auto* model = f.Window().LogModel();
    model->Flush();
    auto firstId = [&] { return model->Row(0).itemData; };
    QCOMPARE(firstId(), 1u);
    QVERIFY(f.Window().MenuBarCommand(40011)->isChecked());

    f.Window().MenuBarCommand(40012)->trigger();
    QCOMPARE(f.Cfg()->LogSort, 1);
    QCOMPARE(firstId(), 3u);
    QCOMPARE(f.Window().Header()->ArrowCell(), 1);
    QVERIFY(f.Window().MenuBarCommand(40012)->isChecked());
    QVERIFY(!f.Window().MenuBarCommand(40011)->isChecked());
    QCOMPARE(model->headerData(1, Qt::Horizontal, Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("降順"));
    // new rows now come at the top
    AddRow(f.Shell(), 4, u"2024/01/01 10:00:04");
    model->Flush();
    QCOMPARE(firstId(), 4u);

    f.Window().MenuBarCommand(40011)->trigger();
    QCOMPARE(f.Cfg()->LogSort, 0);
    QCOMPARE(firstId(), 1u);
    QCOMPARE(f.Window().Header()->ArrowCell(), 0);

    // clicking column 1 twice returns to the order and arrow it started with
    emit f.Window().Header()->sectionClicked(1);
    QCOMPARE(f.Cfg()->LogSort, 1);
    QCOMPARE(firstId(), 4u);
    QCOMPARE(f.Window().Header()->ArrowCell(), 1);
    emit f.Window().Header()->sectionClicked(1);
    QCOMPARE(f.Cfg()->LogSort, 0);
    QCOMPARE(firstId(), 1u);
    QCOMPARE(f.Window().Header()->ArrowCell(), 0);
    // other columns do not sort
    emit f.Window().Header()->sectionClicked(2);
    QCOMPARE(f.Cfg()->LogSort, 0);
  }

  void alwaysOnTopToggles() {
    WindowFixture f;
    f.Window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
    QVERIFY(!f.Window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    f.Window().MenuBarCommand(40014)->trigger();
    QCOMPARE(f.Cfg()->AlwaysOnTop, 1);
    QVERIFY(f.Window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(f.Window().MenuBarCommand(40014)->isChecked());
    QVERIFY(f.Window().isVisible());
    f.Window().MenuBarCommand(40014)->trigger();
    QCOMPARE(f.Cfg()->AlwaysOnTop, 0);
    QVERIFY(!f.Window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!f.Window().MenuBarCommand(40014)->isChecked());

    WindowFixture top([](SettingValues& v) { v.AlwaysOnTop = 1; });
    QVERIFY(top.Window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(top.Window().MenuBarCommand(40014)->isChecked());
  }

  void startChecksFollowTheSettings() {
    WindowFixture f([](SettingValues& v) {
      v.GridLine = 1;
      v.LogSort = 1;
    });
    QVERIFY(f.Window().MenuBarCommand(40010)->isChecked());
    QVERIFY(f.Window().MenuBarCommand(40012)->isChecked());
    QVERIFY(!f.Window().MenuBarCommand(40011)->isChecked());
    QVERIFY(f.Window().LogView()->showGrid());
    QCOMPARE(f.Window().Header()->ArrowCell(), 1);
  }

  void resetColumnsRestoresOrderAndWidths() {
    WindowFixture f([](SettingValues& v) {
      v.ColumnOrder = {7, 6, 5, 4, 3, 2, 1, 0};
      v.ColumnWidth = {20, 30, 40, 50, 60, 70, 80, 90};
    });
    auto* header = f.Window().Header();
    QCOMPARE(header->logicalIndex(0), 7);
    QCOMPARE(header->sectionSize(3), 50);
    FindCommand(f.Window().HeaderMenu(), 40101)->trigger();
    for (int i = 0; i < 8; ++i) {
      QCOMPARE(header->logicalIndex(i), i);
      QCOMPARE(header->sectionSize(i), kDefaultColumnWidths[static_cast<std::size_t>(i)]);
    }
    QCOMPARE(f.Cfg()->ColumnOrder, kDefaultColumnOrder);
  }

  void aboutBox() {
    WindowFixture f;
    f.Window().MenuBarCommand(40090)->trigger();
    QCOMPARE(f.boxes.Count(QStringLiteral("about")), 1);

    AboutDialog about;
    QCOMPARE(about.windowTitle(), QStringLiteral("バージョン情報"));
    auto* title = about.findChild<QLabel*>(QStringLiteral("AboutTitle"));
    QVERIFY(title != nullptr);
    QCOMPARE(title->text(), QStringLiteral("Tavrilox v0.17α"));
    auto* icon = about.findChild<QLabel*>(QStringLiteral("AboutIcon"));
    QVERIFY(icon != nullptr);
    QVERIFY(!icon->pixmap().isNull());
  }
};

static RegisterQtTest<MenuCommandTest> registerMenuCommandTest;

}  // namespace tav::test

#include "MenuCommandTest.moc"
