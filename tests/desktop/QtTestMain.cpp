// Runs every registered QTest object on one QApplication. Without a display
// the tests use the offscreen platform.

#include <QApplication>
#include <QLoggingCategory>
#include <QtTest>
#include <csignal>

#include "QtTestRegistry.h"

namespace tav::test {

std::vector<QtTestFactory>& QtTests() {
  static std::vector<QtTestFactory> tests;
  return tests;
}

}  // namespace tav::test

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::signal(SIGPIPE, SIG_IGN);
  QApplication app(argc, argv);
  // The tray icon asks every platform for a signal only X11 has.
  if (QGuiApplication::platformName() != QLatin1String("xcb")) {
    QLoggingCategory::setFilterRules(QStringLiteral("qt.core.qobject.connect.warning=false"));
  }
  QApplication::setQuitOnLastWindowClosed(false);
  int failures = 0;
  for (const auto& factory : tav::test::QtTests()) {
    std::unique_ptr<QObject> test = factory();
    failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
