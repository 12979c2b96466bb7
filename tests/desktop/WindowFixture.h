#pragma once
// A desktop session for tests: settings without the regex engine, boxes
// that record instead of showing, a settings dialog that is cancelled, and
// the window built and configured the way start-up does it (without reading
// a settings file).

#include <QLabel>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "RecordingBoxes.h"
#include "acquire/CDatCache.h"
#include "config/CSetting.h"
#include "desktop/DesktopApp.h"
#include "desktop/MainWindow.h"
#include "desktop/QtShell.h"
#include "desktop/SettingsDialog.h"

namespace tav::test {

struct WindowFixture {
  using Configure = std::function<void(SettingValues&)>;

  explicit WindowFixture(const Configure& configure = {}, bool prepareWindow = true) {
    if (configure) setting.Update(configure);
    session = std::make_unique<DesktopSession>(setting, boxes, QString(), datCache);
    Window().SetTrayAvailabilityProbe([this] { return trayAvailable; });
    // The settings dialog is cancelled at once unless a test answers it.
    Window().SetSettingsDialogRunner([](SettingsDialog&) { return int(QDialog::Rejected); });
    if (prepareWindow) {
      Window().AddTrayIcon();
      Window().ApplySettings();
    }
  }

  MainWindow& Window() { return session->Window(); }
  QtShell& Shell() { return session->Shell(); }
  std::shared_ptr<const SettingValues> Cfg() const { return setting.Snapshot(); }

  CSetting setting;
  RecordingBoxes boxes;
  CDatCache datCache;
  bool trayAvailable = true;
  std::unique_ptr<DesktopSession> session;
};

}  // namespace tav::test
