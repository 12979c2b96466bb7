// The log view over the core's access log: rows from worker threads, the
// row limit in both orders, columns, the selected thread, accessibility.

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

#include "QtTestRegistry.h"
#include "WindowFixture.h"
#include "platform/TextCodec.h"
#include "desktop/AccessLogTableModel.h"
#include "desktop/FtpBugDialog.h"
#include "desktop/LogHeaderView.h"
#include "desktop/QtText.h"
#include "desktop/ShellMenus.h"

namespace tav::test {
namespace {

std::u16string Number(std::uint32_t value) { return Utf8ToUtf16(std::to_string(value)); }

// The calls the dispatcher makes for one request.
void LogRequest(QtShell& shell, std::uint32_t id, const std::u16string& host, const std::u16string& request,
                const std::u16string& action) {
  shell.Log().SetLimits(shell.Setting().Snapshot()->LogMax, shell.Setting().Snapshot()->LogSort);
  shell.Log().AddRow(0, u"0", kImageRunning, id);
  shell.Log().SetCell(id, 1, u"2024/05/06 07:08:" + Number(10 + id % 50), kImageKeep);
  shell.Log().SetCell(id, 2, host, kImageKeep);
  shell.Log().SetCell(id, 3, request, kImageKeep);
  shell.Log().SetCell(id, 5, u"接続中...", kImageKeep);
  shell.Log().SetCell(id, 6, u"0", kImageKeep);
  shell.Log().SetCell(id, 4, action, kImageKeep);
}

void FinishRequest(QtShell& shell, std::uint32_t id, bool ok) {
  shell.Log().SetCell(id, 0, u"0", ok ? kImageSuccess : kImageFailure);
  shell.Log().SetCell(id, 5, ok ? u"200 OK" : u"失敗", kImageKeep);
  shell.Log().SetCell(id, 7, u"1234", kImageKeep);
}

std::vector<std::uint32_t> ShownIds(const AccessLogTableModel& model) {
  std::vector<std::uint32_t> ids;
  for (int row = 0; row < model.rowCount(); ++row) ids.push_back(model.Row(row).itemData);
  return ids;
}

bool SameRows(const AccessLogTableModel& model, const std::vector<LogRow>& rows) {
  if (model.rowCount() != static_cast<int>(rows.size())) return false;
  for (int row = 0; row < model.rowCount(); ++row) {
    const LogRow& shown = model.Row(row);
    const LogRow& want = rows[static_cast<std::size_t>(row)];
    if (shown.itemData != want.itemData || shown.image != want.image || shown.cells != want.cells) return false;
  }
  return true;
}

void SelectRow(MainWindow& window, int row) {
  window.LogView()->selectionModel()->select(window.LogModel()->index(row, 0),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

}  // namespace

class AccessLogViewTest : public QObject {
  Q_OBJECT
 private slots:
  void viewFollowsRowsFromSeveralWorkers() {
    WindowFixture f([](SettingValues& v) { v.LogMax = 20; });
    AccessLogTableModel* model = f.Window().LogModel();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    f.Window().show();

    constexpr int kWorkers = 4;
    constexpr int kRequestsEach = 15;
    std::atomic<int> done{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
      workers.emplace_back([&, w] {
        for (int i = 0; i < kRequestsEach; ++i) {
          auto id = static_cast<std::uint32_t>(1000 * (w + 1) + i);
          LogRequest(f.Shell(), id, u"kanae.2ch.net", u"GET /software/dat/1.dat", u"HTML");
          FinishRequest(f.Shell(), id, i % 3 != 0);
        }
        ++done;
      });
    }
    // the GUI keeps running while the workers write
    QTRY_COMPARE_WITH_TIMEOUT(done.load(), kWorkers, 20000);
    for (auto& worker : workers) worker.join();
    std::vector<LogRow> expected = f.Shell().Log().Rows();
    QCOMPARE(static_cast<int>(expected.size()), 20);
    QTRY_VERIFY(SameRows(*model, expected));
    for (int row = 0; row < 20; ++row) {
      const LogRow& want = expected[static_cast<std::size_t>(row)];
      for (int column = 0; column < kLogColumns; ++column) {
        QCOMPARE(model->data(model->index(row, column)).toString(),
                 ToQString(want.cells[static_cast<std::size_t>(column)]));
      }
    }
  }

  void attachingToALogWithRowsShowsThem() {
    WindowFixture f;
    LogRequest(f.Shell(), 7, u"a.2ch.net", u"GET /a/dat/1.dat", u"HTML");
    AccessLogTableModel second(f.Shell().Log(), ShellImages::BuiltIn().rowCells);
    QCOMPARE(second.rowCount(), 1);
    QCOMPARE(second.data(second.index(0, 2)).toString(), QStringLiteral("a.2ch.net"));
    // changes made before the copy was taken are not applied twice
    QCoreApplication::processEvents();
    second.Flush();
    QCOMPARE(second.rowCount(), 1);
    LogRequest(f.Shell(), 8, u"b.2ch.net", u"GET /b/dat/2.dat", u"HTML");
    second.Flush();
    QCOMPARE(second.rowCount(), 2);
  }

  void logMaxKeepsTheNewestRowsAscending() {
    WindowFixture f([](SettingValues& v) {
      v.LogMax = 3;
      v.LogSort = 0;
    });
    for (std::uint32_t id = 1; id <= 5; ++id) LogRequest(f.Shell(), id, u"h", u"GET /", u"直接");
    QTRY_COMPARE(ShownIds(*f.Window().LogModel()), (std::vector<std::uint32_t>{3, 4, 5}));
  }

  void logMaxKeepsTheNewestRowsDescending() {
    WindowFixture f([](SettingValues& v) {
      v.LogMax = 3;
      v.LogSort = 1;
    });
    for (std::uint32_t id = 1; id <= 5; ++id) LogRequest(f.Shell(), id, u"h", u"GET /", u"直接");
    QTRY_COMPARE(ShownIds(*f.Window().LogModel()), (std::vector<std::uint32_t>{5, 4, 3}));
  }

  void loweringLogMaxTrimsTheOldestInEitherOrder() {
    for (int logSort : {0, 1}) {
      WindowFixture f([logSort](SettingValues& v) {
        v.LogMax = 25;
        v.LogSort = logSort;
      });
      for (std::uint32_t id = 1; id <= 25; ++id) LogRequest(f.Shell(), id, u"h", u"GET /", u"直接");
      QTRY_COMPARE(f.Window().LogModel()->rowCount(), 25);
      f.setting.Update([](SettingValues& v) { v.LogMax = 10; });
      f.Window().TrimLog();
      std::vector<std::uint32_t> ids = ShownIds(*f.Window().LogModel());
      std::vector<std::uint32_t> expected;
      for (std::uint32_t id = 16; id <= 25; ++id) expected.push_back(id);
      if (logSort == 1) std::reverse(expected.begin(), expected.end());
      QCOMPARE(ids, expected);
    }
  }

  void aRowPushedOutIsNotWrittenAgain() {
    WindowFixture f([](SettingValues& v) { v.LogMax = 2; });
    LogRequest(f.Shell(), 1, u"h", u"GET /1", u"直接");
    LogRequest(f.Shell(), 2, u"h", u"GET /2", u"直接");
    LogRequest(f.Shell(), 3, u"h", u"GET /3", u"直接");
    FinishRequest(f.Shell(), 1, true);  // its row is gone: nothing changes
    QTRY_COMPARE(ShownIds(*f.Window().LogModel()), (std::vector<std::uint32_t>{2, 3}));
    for (int row = 0; row < 2; ++row) {
      QCOMPARE(f.Window().LogModel()->data(f.Window().LogModel()->index(row, 5)).toString(),
               QStringLiteral("接続中..."));
    }
  }

  void columnsHaveTheirCaptionsAlignmentAndImages() {
    WindowFixture f;
    AccessLogTableModel* model = f.Window().LogModel();
    const QStringList captions = {QString(),          QStringLiteral("取得日時"), QStringLiteral("ホスト"),
                                  QStringLiteral("リクエスト"), QStringLiteral("動作"),     QStringLiteral("ステータス"),
                                  QStringLiteral("受信サイズ"), QStringLiteral("送信サイズ")};
    QCOMPARE(model->columnCount(), 8);
    for (int column = 0; column < 8; ++column) {
      QCOMPARE(model->headerData(column, Qt::Horizontal).toString(), captions[column]);
      QCOMPARE(f.Window().Header()->sectionSize(column), kDefaultColumnWidths[static_cast<std::size_t>(column)]);
    }
    QCOMPARE(model->headerData(0, Qt::Horizontal, Qt::AccessibleTextRole).toString(), QStringLiteral("アイコン"));

    LogRequest(f.Shell(), 1, u"h", u"GET /", u"直接");
    QTRY_COMPARE(model->rowCount(), 1);
    auto alignment = [&](int column) {
      return model->data(model->index(0, column), Qt::TextAlignmentRole).value<Qt::Alignment>() &
             Qt::AlignHorizontal_Mask;
    };
    for (int column = 0; column < 6; ++column) QCOMPARE(alignment(column), Qt::AlignLeft);
    QCOMPARE(alignment(6), Qt::AlignRight);
    QCOMPARE(alignment(7), Qt::AlignRight);

    // the running image, then the success image
    QImage running = model->data(model->index(0, 0), Qt::DecorationRole).value<QPixmap>().toImage();
    QCOMPARE(running.size(), QSize(9, 15));
    FinishRequest(f.Shell(), 1, true);
    QTRY_COMPARE(model->Row(0).image, 1);
    QImage success = model->data(model->index(0, 0), Qt::DecorationRole).value<QPixmap>().toImage();
    QVERIFY(running != success);
    QCOMPARE(model->data(model->index(0, 0), Qt::AccessibleTextRole).toString(), QStringLiteral("成功"));
    QVERIFY(!model->data(model->index(0, 1), Qt::DecorationRole).isValid());
  }

  void columnOrderAndWidthsAreReadBackForSaving() {
    WindowFixture f([](SettingValues& v) {
      v.ColumnOrder = {0, 2, 1, 3, 4, 5, 7, 6};
      v.ColumnWidth = {13, 100, 150, 240, 100, 140, 70, 71};
    });
    QCOMPARE(f.Window().Header()->logicalIndex(1), 2);
    f.Window().Header()->moveSection(0, 7);  // the user drags the icon column to the end
    f.Window().Header()->resizeSection(3, 333);
    f.Window().StoreWindowLayout();
    QCOMPARE(f.Cfg()->ColumnOrder, (std::array<int, 8>{2, 1, 3, 4, 5, 7, 6, 0}));
    QCOMPARE(f.Cfg()->ColumnWidth, (std::array<int, 8>{13, 100, 150, 333, 100, 140, 70, 71}));

    // an order that is no permutation is not applied
    WindowFixture bad([](SettingValues& v) { v.ColumnOrder = {0, 0, 1, 2, 3, 4, 5, 6}; });
    for (int i = 0; i < 8; ++i) QCOMPARE(bad.Window().Header()->logicalIndex(i), i);
  }

  void selectedThreadAndTheFtpBugItem() {
    WindowFixture f;
    LogRequest(f.Shell(), 1, u"kanae.2ch.net", u"GET /software/dat/1437650830.dat", u"HTML");
    LogRequest(f.Shell(), 2, u"kanae.5ch.io", u"GET /software/dat/1437650830.dat", u"HTML");
    LogRequest(f.Shell(), 3, u"kanae.2ch.net", u"GET /software/dat/1437650830.dat", u"API");
    LogRequest(f.Shell(), 4, u"kanae.2ch.net", u"GET /software/subject.txt", u"HTML");
    QTRY_COMPARE(f.Window().LogModel()->rowCount(), 4);
    QAction* ftpBug = FindCommand(f.Window().RowMenu(), kCmdFtpBug);

    f.Window().PrepareRowMenu();  // nothing selected
    QVERIFY(!ftpBug->isEnabled());
    QVERIFY(!f.Window().GetSelectedThread());

    SelectRow(f.Window(), 0);
    auto selected = f.Window().GetSelectedThread();
    QVERIFY(selected.has_value());
    QCOMPARE(QString::fromStdString(selected->server), QStringLiteral("kanae"));
    QCOMPARE(QString::fromStdString(selected->board), QStringLiteral("software"));
    QCOMPARE(QString::fromStdString(selected->thread), QStringLiteral("1437650830"));
    QVERIFY(selected->html);
    f.Window().PrepareRowMenu();
    QVERIFY(ftpBug->isEnabled());

    SelectRow(f.Window(), 1);  // the secondary board domain
    QVERIFY(!f.Window().GetSelectedThread());
    f.Window().PrepareRowMenu();
    QVERIFY(!ftpBug->isEnabled());

    SelectRow(f.Window(), 2);  // a thread, but not through the HTML route
    selected = f.Window().GetSelectedThread();
    QVERIFY(selected.has_value());
    QVERIFY(!selected->html);
    f.Window().PrepareRowMenu();
    QVERIFY(!ftpBug->isEnabled());

    SelectRow(f.Window(), 3);  // no /dat/
    QVERIFY(!f.Window().GetSelectedThread());

    // the command opens the tool with the selected thread
    SelectRow(f.Window(), 0);
    ftpBug->setEnabled(true);
    ftpBug->trigger();
    FtpBugDialog* tool = f.Window().FtpBugTool();
    QVERIFY(tool->isVisible());
    QCOMPARE(tool->findChild<QLineEdit*>(QStringLiteral("FtpBugServer"))->text(), QStringLiteral("kanae"));
    QCOMPARE(tool->findChild<QLineEdit*>(QStringLiteral("FtpBugBoard"))->text(), QStringLiteral("software"));
    QCOMPARE(tool->findChild<QLineEdit*>(QStringLiteral("FtpBugThread"))->text(), QStringLiteral("1437650830"));
  }

  void aliasesCountAsThePrimaryDomain() {
    WindowFixture f([](SettingValues& v) { v.Domains.Aliases = {".2ch.sc"}; });
    LogRequest(f.Shell(), 1, u"mevius.2ch.sc", u"GET /news/dat/123.dat", u"HTML");
    QTRY_COMPARE(f.Window().LogModel()->rowCount(), 1);
    SelectRow(f.Window(), 0);
    auto selected = f.Window().GetSelectedThread();
    QVERIFY(selected.has_value());
    QCOMPARE(QString::fromStdString(selected->server), QStringLiteral("mevius"));
    QCOMPARE(QString::fromStdString(selected->board), QStringLiteral("news"));
    QCOMPARE(QString::fromStdString(selected->thread), QStringLiteral("123"));
  }

  void textsReachAssistiveTechnology() {
    WindowFixture f;
    f.Window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
    LogRequest(f.Shell(), 1, u"kanae.2ch.net", u"GET /software/dat/1.dat", u"HTML");
    FinishRequest(f.Shell(), 1, false);
    QTRY_COMPARE(f.Window().LogModel()->rowCount(), 1);
    QTRY_COMPARE(f.Window().LogModel()->Row(0).image, 0);

    QAccessibleInterface* mode = QAccessible::queryAccessibleInterface(f.Window().ModeLabel());
    QVERIFY(mode != nullptr);
    QCOMPARE(mode->text(QAccessible::Name), QStringLiteral("127.0.0.1:8822 / モード：HTML"));
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(f.Window().StatusLabel());
    QVERIFY(status != nullptr);
    QCOMPARE(status->text(QAccessible::Name), QStringLiteral("動作中..."));

    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(f.Window().LogView());
    QVERIFY(table != nullptr);
    QAccessibleTableInterface* cells = table->tableInterface();
    QVERIFY(cells != nullptr);
    QCOMPARE(cells->columnCount(), 8);
    QCOMPARE(cells->cellAt(0, 2)->text(QAccessible::Name), QStringLiteral("kanae.2ch.net"));
    QCOMPARE(cells->cellAt(0, 0)->text(QAccessible::Name), QStringLiteral("失敗"));
    QCOMPARE(cells->columnDescription(1), QStringLiteral("取得日時"));
  }
};

static RegisterQtTest<AccessLogViewTest> registerAccessLogViewTest;

}  // namespace tav::test

#include "AccessLogViewTest.moc"
