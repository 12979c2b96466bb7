#pragma once
// The desktop program: one main window over the proxy, with its start-up
// and shutdown sequences.

#include <memory>
#include <string>

class QString;

namespace tav {

class BoxPresenter;
class CDatCache;
class CSetting;
class MainWindow;
class ProxyServer;
class QtShell;

// Runs the desktop program until its window is closed; 0 at the end.
// `datCache` is the program's one dat memory cache.
int RunDesktop(int argc, char** argv, const std::string& iniPath, CDatCache& datCache);

// One run of the desktop program on an existing QApplication.
class DesktopSession {
 public:
  // `imageFolder` is where the optional tray images are looked for;
  // `datCache` is the dat memory cache every request of the session shares.
  DesktopSession(CSetting& setting, BoxPresenter& boxes, const QString& imageFolder, CDatCache& datCache);
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  // The start-up sequence: the tray icon, the settings file (a file that
  // exists but cannot be read is named in a message box), the listener
  // (not when the file is missing), the window's settings and, unless
  // WindowMinimize, the window itself. Returns 0, or the code reported to
  // the user: 3 (settings file missing) or the listener's 10-14.
  int Start(const std::string& iniPath);

  // The shutdown sequence: the tray icon goes, the window's position and
  // columns are put into the settings, the settings are saved and every
  // worker is ended. Returns the result of saving; runs once.
  int Shutdown();

  MainWindow& Window() { return *window_; }
  QtShell& Shell() { return *shell_; }
  ProxyServer& Server() { return *server_; }

 private:
  CSetting& setting_;
  std::unique_ptr<QtShell> shell_;
  std::unique_ptr<ProxyServer> server_;
  std::unique_ptr<MainWindow> window_;
  bool shutDown_ = false;
  int saveResult_ = 0;
};

}  // namespace tav
