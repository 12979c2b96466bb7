// The tray icon: its cell through the connection events, the error flag,
// restoring the window, minimising to the tray, the tray coming back, and
// the images from the program folder.

#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

#include "QtTestRegistry.h"
#include "WindowFixture.h"
#include "server/ProxyServer.h"
#include "desktop/ShellImages.h"
#include "desktop/ShellMenus.h"
#include "desktop/TrayIcon.h"
#include "support/LoopbackClient.h"

namespace tav::test {
namespace {

constexpr int kIdleCell = 0;
constexpr int kBusyCell = 1;
constexpr int kErrorCell = 2;

// Runs `call` on a worker thread, the way the connection workers report.
template <typename Call>
void OnWorker(Call call) {
  std::thread worker(call);
  worker.join();
}

void PointerOverIcon(MainWindow& window) { emit window.TrayMenu()->aboutToShow(); }

}  // namespace

class TrayTest : public QObject {
  Q_OBJECT
 private slots:
  void cellsByState() {
    QCOMPARE(TrayIcon::CellForState(100), 0);
    QCOMPARE(TrayIcon::CellForState(101), 2);
    QCOMPARE(TrayIcon::CellForState(102), 1);
    QCOMPARE(TrayIcon::CellForState(103), 3);
    QCOMPARE(TrayIcon::CellForState(0), -1);
    QCOMPARE(TrayIcon::CellForState(104), -1);
  }

  void errorStaysUntilThePointerPassesOrANewConnection() {
    WindowFixture f;
    TrayIcon& tray = f.Window().Tray();
    QCOMPARE(tray.ShownCell(), kIdleCell);

    OnWorker([&] { f.Shell().ConnectionAccepted(); });
    QTRY_COMPARE(tray.ShownCell(), kBusyCell);
    OnWorker([&] { f.Shell().RequestFailed(); });
    QTRY_COMPARE(tray.ShownCell(), kErrorCell);
    OnWorker([&] { f.Shell().ConnectionClosed(); });
    QTest::qWait(20);
    QCOMPARE(tray.ShownCell(), kErrorCell);  // finished connections keep the error

    PointerOverIcon(f.Window());
    QTRY_COMPARE(tray.ShownCell(), kIdleCell);
    QVERIFY(!f.Shell().TrayErrorFlag());
    QCOMPARE(f.Shell().RestoreState(), 100);

    OnWorker([&] { f.Shell().RequestFailed(); });
    QTRY_COMPARE(tray.ShownCell(), kErrorCell);
    OnWorker([&] { f.Shell().ConnectionAccepted(); });  // a new connection clears it
    QTRY_COMPARE(tray.ShownCell(), kBusyCell);
    OnWorker([&] { f.Shell().ConnectionClosed(); });
    QTRY_COMPARE(tray.ShownCell(), kIdleCell);

    // using the icon also counts as the pointer passing over it
    OnWorker([&] { f.Shell().RequestFailed(); });
    QTRY_COMPARE(tray.ShownCell(), kErrorCell);
    emit tray.Icon()->activated(QSystemTrayIcon::Context);
    QTRY_COMPARE(tray.ShownCell(), kIdleCell);
  }

  void realConnectionsTurnTheIconBusyAndBackToIdle() {
    WindowFixture f([](SettingValues& v) {
      v.GatewayPort = 0;
      v.CloseConnection = 1;
    });
    ProxyServer& server = f.session->Server();
    QCOMPARE(server.CreateListener(), 0);
    QTRY_COMPARE(f.Window().StatusLabel()->text(), QStringLiteral("動作中..."));
    {
      LoopbackClient reader(server.Port());
      QVERIFY(reader.Connected());
      QTRY_COMPARE(f.Window().Tray().ShownCell(), kBusyCell);
    }
    QTRY_COMPARE_WITH_TIMEOUT(f.Window().Tray().ShownCell(), kIdleCell, 5000);
    f.session->Shutdown();
  }

  void acceptFailureShowsItsStatus() {
    WindowFixture f;
    OnWorker([&] { f.Shell().AcceptFailed(); });
    QTRY_COMPARE(f.Window().Tray().ShownCell(), kErrorCell);
    QTRY_COMPARE(f.Window().StatusLabel()->text(), QStringLiteral("accept() に失敗しました。"));
    QCOMPARE(f.Shell().RestoreState(), 101);
  }

  void tooltipIsTheTitleUntilTheFirstRefresh() {
    WindowFixture f({}, false);
    f.Window().AddTrayIcon();
    QCOMPARE(f.Window().Tray().Tooltip(), QStringLiteral("Tavrilox v0.17α"));
    f.Window().ApplySettings();
    QCOMPARE(f.Window().Tray().Tooltip(), QStringLiteral("Tavrilox v0.17α - HTML"));
    f.Window().Tray().SetTooltip(QString(200, QLatin1Char('x')));
    QCOMPARE(f.Window().Tray().Tooltip().size(), 127);
  }

  void iconComesBackWithTheRestoreState() {
    WindowFixture f;
    f.trayAvailable = false;
    f.Window().Tray().CheckAvailability();
    QSignalSpy returned(&f.Window().Tray(), &TrayIcon::trayReturned);
    OnWorker([&] { f.Shell().ConnectionAccepted(); });
    QTRY_COMPARE(f.Window().Tray().ShownCell(), kBusyCell);
    f.trayAvailable = true;
    f.Window().Tray().CheckAvailability();
    QCOMPARE(returned.count(), 1);
    QCOMPARE(f.Window().Tray().ShownCell(), kIdleCell);  // a normal start: the idle cell
    f.Window().Tray().CheckAvailability();
    QCOMPARE(returned.count(), 1);  // only a return counts

    WindowFixture failed;
    failed.Shell().StartupFailed(12);
    failed.Window().TrayReturned();
    QCOMPARE(failed.Window().Tray().ShownCell(), kErrorCell);
  }

  void leftClickRestoresTheWindow() {
    WindowFixture f;
    QVERIFY(!f.Window().isVisible());
    emit f.Window().Tray().Icon()->activated(QSystemTrayIcon::Trigger);
    QVERIFY(f.Window().isVisible());
    QVERIFY(!f.Window().isMaximized());
  }

  void minimisingHidesToTheTrayAndRemembersMaximised() {
    WindowFixture f;
    f.Window().showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
    f.Window().setWindowState(f.Window().windowState() | Qt::WindowMinimized);
    QTRY_VERIFY(!f.Window().isVisible());
    QCOMPARE(f.Window().RestoreShowCommand(), 3);

    f.Window().RunCommand(40500);  // "ウィンドウ表示(&V)"
    QVERIFY(f.Window().isVisible());
    QVERIFY(f.Window().isMaximized());
    QCOMPARE(f.Window().RestoreShowCommand(), 1);

    // the next time it comes back normal
    f.Window().hide();
    f.Window().RestoreFromTray();
    QVERIFY(f.Window().isVisible());
    QVERIFY(!f.Window().isMaximized());
  }

  void withoutATrayMinimisingKeepsTheWindow() {
    WindowFixture f;
    f.trayAvailable = false;
    f.Window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
    f.Window().setWindowState(Qt::WindowMinimized);
    QTest::qWait(50);
    QVERIFY(f.Window().isVisible());
    QVERIFY(f.Window().isMinimized());
  }

  void balloonsReachTheIcon() {
    WindowFixture f;
    QSignalSpy balloons(&f.Shell(), &QtShell::balloonRequested);
    OnWorker([&] { f.Shell().ShowBalloon(u"ng (too many)"); });
    QTRY_COMPARE(balloons.count(), 1);
    QCOMPARE(balloons.at(0).at(0).toString(), QStringLiteral("ng (too many)"));
  }

  void trayMenuOffersNothingWhileTheSettingsDialogRuns() {
    WindowFixture f;
    QMenu* tray = f.Window().TrayMenu();
    int enabledWhileOpen = -1;
    f.Window().SetSettingsDialogRunner([&](SettingsDialog&) {
      emit tray->aboutToShow();
      enabledWhileOpen = 0;
      for (QAction* action : tray->actions()) enabledWhileOpen += action->isEnabled() ? 1 : 0;
      return int(QDialog::Rejected);
    });
    f.Window().RunCommand(40000);
    QCOMPARE(enabledWhileOpen, 0);
    QVERIFY(!f.Window().SettingsDialogOpen());
    emit tray->aboutToShow();
    QVERIFY(FindCommand(tray, 40500)->isEnabled());
    QVERIFY(FindCommand(tray, 40001)->isEnabled());
    QVERIFY(FindCommand(tray, 40202)->isEnabled());
  }

  void imagesFromTheProgramFolder() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // a strip whose cell 1 is solid red, magenta everywhere else
    QImage strip(96, 16, QImage::Format_RGB32);
    strip.fill(qRgb(255, 0, 255));
    QPainter(&strip).fillRect(16, 0, 16, 16, QColor(255, 0, 0));
    QVERIFY(strip.save(folder.filePath(QStringLiteral("tray.bmp")), "BMP"));
    QImage green(16, 16, QImage::Format_ARGB32);
    green.fill(qRgb(0, 200, 0));
    QVERIFY(green.save(folder.filePath(QStringLiteral("abone.ico")), "ICO"));
    QFile broken(folder.filePath(QStringLiteral("failure.ico")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not an icon");
    broken.close();

    ShellImages images = ShellImages::Load(folder.path());
    ShellImages builtIn = ShellImages::BuiltIn();
    QCOMPARE(images.trayCells[1].toImage().pixelColor(8, 8), QColor(255, 0, 0));
    QCOMPARE(images.trayCells[0].toImage().pixelColor(8, 8).alpha(), 0);  // magenta is transparent
    QCOMPARE(images.trayCells[3].toImage().pixelColor(8, 8), QColor(0, 200, 0));
    // the broken icon leaves the cell of the loaded strip
    QCOMPARE(images.trayCells[2].toImage().pixelColor(8, 8).alpha(), 0);

    ShellImages none = ShellImages::Load(QStringLiteral("/nonexistent-folder"));
    for (std::size_t cell = 0; cell < 4; ++cell) {
      QCOMPARE(none.trayCells[cell].toImage(), builtIn.trayCells[cell].toImage());
      QVERIFY(!builtIn.trayCells[cell].isNull());
    }
    QCOMPARE(builtIn.rowCells[0].size(), QSize(9, 15));
    QCOMPARE(builtIn.headerArrows[1].size(), QSize(8, 8));
  }
};

static RegisterQtTest<TrayTest> registerTrayTest;

}  // namespace tav::test

#include "TrayTest.moc"
