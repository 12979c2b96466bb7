// The dialog "ftpバグ設定": opening, editing the working list, OK and
// キャンセル, and a scan against a fake board stopped half-way.

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "QtTestRegistry.h"
#include "WindowFixture.h"
#include "desktop/FtpBugDialog.h"
#include "support/FakeHttpServer.h"
#include "support/FakeThreadBoard.h"
#include "support/ScopedEnvironment.h"

namespace tav::test {
namespace {

template <typename Widget>
Widget* Part(FtpBugDialog* dialog, const char* name) {
  auto* part = dialog->findChild<Widget*>(QString::fromLatin1(name));
  if (part == nullptr) qFatal("no %s in the dialog", name);
  return part;
}

QStringList Rows(QTableWidget* list) {
  QStringList rows;
  for (int row = 0; row < list->rowCount(); ++row) {
    rows << QStringLiteral("%1|%2|%3")
                .arg(list->item(row, 0)->text(), list->item(row, 1)->text(), list->item(row, 2)->text());
  }
  return rows;
}

}  // namespace

class FtpBugDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void editsAWorkingListThatOkCopiesIntoTheSettings() {
    WindowFixture f;
    FtpBugDialog* tool = f.Window().FtpBugTool();
    QVERIFY(!tool->isVisible());
    QCOMPARE(tool->windowTitle(), QStringLiteral("ftpバグ設定"));
    QVERIFY(!tool->isModal());
    auto* list = Part<QTableWidget>(tool, "FtpBugList");
    auto* server = Part<QLineEdit>(tool, "FtpBugServer");
    auto* board = Part<QLineEdit>(tool, "FtpBugBoard");
    auto* thread = Part<QLineEdit>(tool, "FtpBugThread");
    auto* posts = Part<QLineEdit>(tool, "FtpBugPosts");
    auto* status = Part<QLabel>(tool, "FtpBugStatus");
    QCOMPARE(status->text(), QStringLiteral("情報"));
    for (QWidget* part : tool->findChildren<QWidget*>()) {
      if (qobject_cast<QLineEdit*>(part) || qobject_cast<QPushButton*>(part) || part == list) {
        QVERIFY2(!part->accessibleName().isEmpty(), qPrintable(part->objectName()));
      }
    }

    // The HTML route opens it from a connection's worker.
    std::thread([&] { f.Shell().OpenFtpBugDialog("egg", "applism", "1517988732"); }).join();
    QTRY_VERIFY(tool->isVisible());
    QCOMPARE(server->text(), QStringLiteral("egg"));
    QCOMPARE(board->text(), QStringLiteral("applism"));
    QCOMPARE(thread->text(), QStringLiteral("1517988732"));
    QCOMPARE(status->text(), QString());
    QCOMPARE(list->horizontalHeaderItem(1)->text(), QStringLiteral("スレID"));
    QCOMPARE(list->columnWidth(0), 60);
    QCOMPARE(list->columnWidth(1), 80);
    QCOMPARE(list->columnWidth(2), 60);
    QCOMPARE(Rows(list), QStringList{QStringLiteral("software|1437650830|296")});

    // 登録 appends an entry, then replaces that entry's posts.
    posts->setText(QStringLiteral("4"));
    Part<QPushButton>(tool, "FtpBugRegister")->click();
    posts->setText(QStringLiteral("4,7"));
    Part<QPushButton>(tool, "FtpBugRegister")->click();
    QCOMPARE(Rows(list), (QStringList{QStringLiteral("software|1437650830|296"),
                                      QStringLiteral("applism|1517988732|4,7")}));
    board->clear();
    Part<QPushButton>(tool, "FtpBugRegister")->click();
    QCOMPARE(status->text(), QStringLiteral("未入力のスレッド情報があります."));
    QCOMPARE(list->rowCount(), 2);

    // Selecting fills the fields; 下へ and 削除 act on the selection.
    list->selectRow(0);
    QCOMPARE(board->text(), QStringLiteral("software"));
    QCOMPARE(posts->text(), QStringLiteral("296"));
    QCOMPARE(server->text(), QString());
    Part<QPushButton>(tool, "FtpBugDown")->click();
    QCOMPARE(Rows(list), (QStringList{QStringLiteral("applism|1517988732|4,7"),
                                      QStringLiteral("software|1437650830|296")}));
    Part<QPushButton>(tool, "FtpBugDelete")->click();
    QCOMPARE(Rows(list), QStringList{QStringLiteral("applism|1517988732|4,7")});
    QCOMPARE(f.Cfg()->FtpBugEntries.size(), 1u);
    QCOMPARE(f.Cfg()->FtpBugEntries[0].board, std::u16string(u"software"));

    Part<QPushButton>(tool, "FtpBugOk")->click();
    QVERIFY(!tool->isVisible());
    QCOMPARE(f.Cfg()->FtpBugEntries.size(), 1u);
    QCOMPARE(f.Cfg()->FtpBugEntries[0].board, std::u16string(u"applism"));
    QCOMPARE(f.Cfg()->FtpBugEntries[0].posts, (std::vector<std::int32_t>{4, 7}));

    // キャンセル discards the changes.
    tool->Open({}, {}, {});
    list->selectRow(0);
    Part<QPushButton>(tool, "FtpBugDelete")->click();
    Part<QPushButton>(tool, "FtpBugCancel")->click();
    QVERIFY(!tool->isVisible());
    QCOMPARE(f.Cfg()->FtpBugEntries.size(), 1u);
  }

  void cancelDuringAScanStopsAfterThePairAndKeepsTheDialogOpen() {
    ScopedEnvironment environment;
    environment.ClearProxyAndCaVariables();
    FakeThreadBoard board;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    board.beforePage = [&](const std::string& range) {
      if (range != "3-4") return;
      std::unique_lock lock(mutex);
      released.wait_for(lock, std::chrono::seconds(20), [&] { return release; });
    };
    auto releasePage = [&] {
      {
        std::lock_guard lock(mutex);
        release = true;
      }
      released.notify_all();
    };
    FakeHttpServer server;
    server.SetHandler(board.Handler());
    WindowFixture f([&](SettingValues& v) {
      v.ProxyMode = 2;
      v.Proxy = CDoubleString::FromUtf8(server.Authority());
    });
    FtpBugDialog* tool = f.Window().FtpBugTool();
    tool->Open(QStringLiteral("egg"), QStringLiteral("applism"), QStringLiteral("1517988732"));
    auto* search = Part<QPushButton>(tool, "FtpBugSearch");
    search->click();
    QVERIFY(tool->Scanning());
    QVERIFY(!search->isEnabled());
    QVERIFY(!Part<QPushButton>(tool, "FtpBugOk")->isEnabled());
    QVERIFY(!Part<QPushButton>(tool, "FtpBugRegister")->isEnabled());

    bool pairInHand = server.WaitForRequests(3, std::chrono::seconds(20));
    Part<QPushButton>(tool, "FtpBugCancel")->click();
    releasePage();
    QVERIFY(pairInHand);
    QVERIFY(tool->isVisible());
    QTRY_VERIFY(search->isEnabled());
    QVERIFY(tool->isVisible());
    QCOMPARE(board.Ranges(server), (std::vector<std::string>{"subject.txt", "1-2", "3-4"}));
    QCOMPARE(Part<QLabel>(tool, "FtpBugStatus")->text(), QStringLiteral("Check res 3/6... ok."));

    // The stop request ended with its scan: the next one runs to its end.
    search->click();
    QTRY_VERIFY(search->isEnabled());
    QCOMPARE(Part<QLabel>(tool, "FtpBugStatus")->text(),
             QStringLiteral("このスレッドにftpバグはありません."));
    Part<QPushButton>(tool, "FtpBugCancel")->click();
    QVERIFY(!tool->isVisible());
  }
};

static RegisterQtTest<FtpBugDialogTest> registerFtpBugDialogTest;

}  // namespace tav::test

#include "FtpBugDialogTest.moc"
