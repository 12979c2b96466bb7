// Start-up and shutdown of the desktop program, the exit question, and
// boxes raised by workers.

#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <future>
#include <thread>

#include "QtTestRegistry.h"
#include "WindowFixture.h"
#include "server/ProxyServer.h"
#include "desktop/ShellMenus.h"
#include "desktop/TrayIcon.h"
#include "support/LoopbackClient.h"
#include "support/FakeHttpServer.h"
#include "support/ScopedEnvironment.h"
#include "acquire/ConverterTestPages.h"

namespace tav::test {

class StartupShutdownTest : public QObject {
  Q_OBJECT
 private slots:
  void missingSettingsFileWarnsAndOpensNoPort() {
    QTemporaryDir folder;
    WindowFixture f({}, false);
    int code = f.session->Start(folder.filePath(QStringLiteral("Tavrilox.ini")).toStdString());
    QCOMPARE(code, 3);
    QCOMPARE(f.boxes.Count(QStringLiteral("warning")), 1);
    QCOMPARE(f.boxes.boxes[0].text,
             QStringLiteral(".iniファイルの読み込みに失敗しました。\n初回起動時なら設定をしてください。"));
    QVERIFY(f.boxes.boxes[0].onGuiThread);
    QCOMPARE(f.Window().StatusLabel()->text(), QStringLiteral(".iniファイルの読み込みに失敗しました。"));
    QCOMPARE(f.Window().Tray().ShownCell(), 2);
    QCOMPARE(f.Shell().RestoreState(), 101);
    QCOMPARE(f.session->Server().Port(), 0);  // no listener in this run
    QVERIFY(f.Window().isVisible());
    QCOMPARE(f.setting.IniPath(), folder.filePath(QStringLiteral("Tavrilox.ini")).toStdString());
  }

  // The window's start-up gives the server the program's dat cache: with
  // DiffMode on, a second request with a Range asks the board only for the
  // posts after the cached ones.
  void startUpHandsTheDatCacheToTheServer() {
    ScopedEnvironment environment;
    environment.ClearProxyAndCaVariables();
    FakeHttpServer board;
    board.SetHandler([](const ReceivedRequest&) {
      return ScriptedResponse::Ok(testpages::Page(testpages::Layout::kDiv, "t", testpages::Numbered({1, 2, 3})));
    });
    QTemporaryDir folder;
    const std::string iniPath = folder.filePath(QStringLiteral("Tavrilox.ini")).toStdString();
    const std::string upstream = board.Authority();
    WindowFixture f(
        [&](SettingValues& v) {
          v.GatewayPort = 0;
          v.DatMode = 2;
          v.DiffMode = 1;
          v.BregexpMode = 0;
          v.ProxyMode = 2;
          v.Proxy = CDoubleString::FromUtf8(upstream);
        },
        false);
    f.setting.Load(iniPath);  // no file yet: the path is kept
    QCOMPARE(f.setting.Save(), 0);
    QCOMPARE(f.session->Start(iniPath), 0);

    const std::string request =
        "GET http://egg.2ch.net/a/dat/1234.dat HTTP/1.1\r\nHost: egg.2ch.net\r\nRange: bytes=10-\r\n\r\n";
    // The reader runs on a thread of its own: the window's thread keeps
    // carrying out what the workers ask of it.
    const int port = f.session->Server().Port();
    std::atomic<int> answered{0};
    auto reader = std::async(std::launch::async, [&] {
      for (int i = 0; i < 2; ++i) {
        LoopbackClient client(port);
        client.Send(request);
        client.ReadAll(3000);
        ++answered;
      }
    });
    QTRY_COMPARE_WITH_TIMEOUT(answered.load(), 2, 20000);
    const auto requests = board.Requests();
    QCOMPARE(requests.size(), std::size_t{2});
    QCOMPARE(QString::fromStdString(requests[1].target), QStringLiteral("http://egg.5ch.io/test/read.cgi/a/1234/3-"));
  }

  void listenerFailureWarnsWithItsCode() {
    // a port that is taken already
    WindowFixture first([](SettingValues& v) { v.GatewayPort = 0; });
    QCOMPARE(first.session->Server().CreateListener(), 0);
    int taken = first.session->Server().Port();

    WindowFixture second([taken](SettingValues& v) { v.GatewayPort = taken; }, false);
    QCOMPARE(second.session->Server().CreateListener(), 12);
    second.Shell().StartupFailed(12);
    QCOMPARE(second.boxes.boxes.back().text, QStringLiteral("待ち受け用ポートがすでに使用中です。"));
    QTRY_COMPARE(second.Window().StatusLabel()->text(), QStringLiteral("待ち受け用ポートがすでに使用中です。"));
    QCOMPARE(second.Window().Tray().ShownCell(), 2);
  }

  void windowMinimizeKeepsTheWindowHidden() {
    QTemporaryDir folder;
    WindowFixture f([](SettingValues& v) { v.WindowMinimize = 1; }, false);
    f.session->Start(folder.filePath(QStringLiteral("Tavrilox.ini")).toStdString());
    QVERIFY(!f.Window().isVisible());
    emit f.Window().Tray().Icon()->activated(QSystemTrayIcon::Trigger);
    QVERIFY(f.Window().isVisible());
    QVERIFY(!f.Window().isMaximized());

    // without a tray the window may not vanish: it starts minimised instead
    WindowFixture noTray([](SettingValues& v) { v.WindowMinimize = 1; }, false);
    noTray.trayAvailable = false;
    noTray.session->Start(folder.filePath(QStringLiteral("Tavrilox.ini")).toStdString());
    QVERIFY(noTray.Window().isVisible());
    QVERIFY(noTray.Window().isMinimized());
  }

  void storedPositionIsAppliedAndReadBack() {
    WindowFixture f([](SettingValues& v) { v.Position = {40, 50, 700, 300}; });
    f.Window().StoreWindowLayout();
    QCOMPARE(f.Cfg()->Position, (std::array<int, 4>{40, 50, 700, 300}));

    WindowFixture moved;
    moved.Window().move(10, 20);
    moved.Window().resize(500, 200);
    moved.Window().StoreWindowLayout();
    QRect frame = moved.Window().frameGeometry();
    QCOMPARE(moved.Cfg()->Position, (std::array<int, 4>{frame.x(), frame.y(), frame.width(), frame.height()}));
  }

  void exitDialogAsksFirst() {
    WindowFixture f([](SettingValues& v) { v.ExitDialog = 1; });
    f.Window().show();
    QSignalSpy closed(&f.Window(), &MainWindow::closeConfirmed);

    f.boxes.answerYes = false;
    f.Window().RunCommand(kCmdExit);
    QCOMPARE(f.boxes.Count(QStringLiteral("question")), 1);
    QCOMPARE(f.boxes.boxes.back().text, QStringLiteral("終了しますか？"));
    QCOMPARE(closed.count(), 0);
    QVERIFY(f.Window().isVisible());
    QVERIFY(!f.Window().close());  // the window's close button asks as well
    QCOMPARE(f.boxes.Count(QStringLiteral("question")), 2);
    QVERIFY(f.Window().isVisible());

    f.boxes.answerYes = true;
    FindCommand(f.Window().TrayMenu(), kCmdExit)->trigger();
    QCOMPARE(closed.count(), 1);
    QVERIFY(!f.Window().isVisible());
  }

  void withoutExitDialogTheWindowClosesAtOnce() {
    WindowFixture f([](SettingValues& v) { v.ExitDialog = 0; });
    f.Window().show();
    QSignalSpy closed(&f.Window(), &MainWindow::closeConfirmed);
    QVERIFY(f.Window().close());
    QCOMPARE(closed.count(), 1);
    QCOMPARE(f.boxes.Count(QStringLiteral("question")), 0);
  }

  void workerWarningIsShownOnTheGuiThreadAndHoldsOnlyThatWorker() {
    WindowFixture f;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
      f.Shell().ShowWarning(33040, {});
      returned = true;
    });
    QTRY_VERIFY(returned.load());
    worker.join();
    QCOMPARE(f.boxes.Count(QStringLiteral("warning")), 1);
    QVERIFY(f.boxes.boxes[0].onGuiThread);

    // a worker waits for the box to be closed
    std::atomic<bool> boxOpen{false};
    std::atomic<bool> messageReturned{false};
    f.boxes.whileOpen = [&] {
      boxOpen = true;
      QTest::qWait(100);
      QVERIFY(!messageReturned.load());
    };
    std::thread second([&] {
      f.Shell().ShowMessage(u"ログイン", u"ok");
      messageReturned = true;
    });
    QTRY_VERIFY(messageReturned.load());
    second.join();
    QVERIFY(boxOpen.load());
    QCOMPARE(f.boxes.boxes.back().caption, QStringLiteral("ログイン"));
  }

  void shutdownReleasesAWorkerWaitingForABox() {
    WindowFixture f;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
      f.Shell().ShowWarning(12, {});  // the GUI never gets to show it
      returned = true;
    });
    QTest::qSleep(50);
    QVERIFY(!returned.load());
    f.Shell().BeginShutdown();
    worker.join();
    QVERIFY(returned.load());
    QCoreApplication::processEvents();
    QCOMPARE(f.boxes.Count(QStringLiteral("warning")), 0);
    f.Shell().ShowWarning(12, {});  // nothing is shown any more
    QCOMPARE(f.boxes.Count(QStringLiteral("warning")), 0);
  }

  void shutdownWhileConnectionsAreServedEndsTheWorkers() {
    WindowFixture f([](SettingValues& v) { v.GatewayPort = 0; });
    ProxyServer& server = f.session->Server();
    QCOMPARE(server.CreateListener(), 0);
    LoopbackClient idle(server.Port());
    LoopbackClient partial(server.Port());
    QVERIFY(partial.Send("GET http://kanae.2ch.net/software/dat/1.dat HTTP/1.1\r\nHost: kan"));
    QTRY_COMPARE(server.ActiveConnections(), std::size_t{2});

    QElapsedTimer timer;
    timer.start();
    f.session->Shutdown();
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(server.ActiveConnections(), std::size_t{0});
    QVERIFY(f.Window().Tray().Removed());
    QVERIFY(idle.WaitForClose(2000));
    // the layout went into the settings for saving
    QRect frame = f.Window().frameGeometry();
    QCOMPARE(f.Cfg()->Position[2], frame.width());
    f.session->Shutdown();  // once only
  }
};

static RegisterQtTest<StartupShutdownTest> registerStartupShutdownTest;

}  // namespace tav::test

#include "StartupShutdownTest.moc"
