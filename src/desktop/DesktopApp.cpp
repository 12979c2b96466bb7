#include "desktop/DesktopApp.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <unistd.h>

#include "server/ProxyServer.h"
#include "config/CSetting.h"
#include "config/StringTable.h"
#include "desktop/BoxPresenter.h"
#include "desktop/MainWindow.h"
#include "desktop/QtShell.h"
#include "desktop/ShellImages.h"

namespace tav {
namespace {

// SIGINT and SIGTERM end the program the way closing the window does, so
// that the settings are saved and the workers ended.
int stopSignalPipe[2] = {-1, -1};
bool stopRequested = false;  // GUI thread only

void OnStopSignal(int) {
  char byte = 1;
  [[maybe_unused]] auto ignored = ::write(stopSignalPipe[1], &byte, 1);
}

void QuitOnStopSignals(QApplication& app) {
  if (::pipe(stopSignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(stopSignalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
    char byte = 0;
    [[maybe_unused]] auto ignored = ::read(stopSignalPipe[0], &byte, 1);
    notifier->setEnabled(false);
    stopRequested = true;
    // exit() also ends a box still open during start-up.
    QCoreApplication::exit(0);
  });
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

DesktopSession::DesktopSession(CSetting& setting, BoxPresenter& boxes, const QString& imageFolder,
                               CDatCache& datCache)
    : setting_(setting),
      shell_(std::make_unique<QtShell>(setting, boxes)),
      server_(std::make_unique<ProxyServer>(setting, *shell_, &datCache)),
      window_(std::make_unique<MainWindow>(*shell_, ShellImages::Load(imageFolder))) {
  window_->SetSettingsServices(SettingsServices{&server_->Regex(), &server_->ApiSession()});
}

DesktopSession::~DesktopSession() { Shutdown(); }

int DesktopSession::Start(const std::string& iniPath) {
  window_->AddTrayIcon();
  int code = 0;
  const int loaded = setting_.Load(iniPath);
  // Values of the file that were refused, as the headless program prints them.
  std::u16string refused;
  for (const std::u16string& warning : setting_.LoadWarnings()) refused += (refused.empty() ? u"" : u"\n") + warning;
  if (!refused.empty()) shell_->ShowMessage(u"Tavrilox.ini", refused);
  if (loaded != 0) {
    code = kStrIniMissing;
  } else {
    code = server_->CreateListener();
  }
  // The listener is not tried again in this run.
  if (code != 0) shell_->StartupFailed(code);
  window_->ApplySettings();
  window_->ShowAtStart();
  return code;
}

int DesktopSession::Shutdown() {
  if (shutDown_) return saveResult_;
  shutDown_ = true;
  // No box may hold a worker from here on: the workers are ended below.
  shell_->BeginShutdown();
  window_->RemoveTrayIcon();
  window_->StoreWindowLayout();
  saveResult_ = setting_.Save();
  server_->Stop();
  window_->hide();
  return saveResult_;
}

int RunDesktop(int argc, char** argv, const std::string& iniPath, CDatCache& datCache) {
  static int qtArgc = 0;  // QApplication keeps a reference to it
  qtArgc = argc;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(QStringLiteral("Tavrilox"));
  // The window hides in the tray; only the exit command ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  QuitOnStopSignals(app);

  CSetting setting;
  MessageBoxPresenter boxes;
  DesktopSession session(setting, boxes, QCoreApplication::applicationDirPath(), datCache);
  QObject::connect(&session.Window(), &MainWindow::closeConfirmed, &app, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  session.Start(iniPath);
  if (!stopRequested) QApplication::exec();
  session.Shutdown();
  return 0;
}

}  // namespace tav
