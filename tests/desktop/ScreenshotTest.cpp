// Renders the main window with a few log rows, and two pages of the
// settings dialog side by side. With TAVRILOX_SCREENSHOT or
// TAVRILOX_SETTINGS_SCREENSHOT set to a file name the picture is saved there
// (docs/screenshot.png and docs/settings.png are taken this way under Xvfb).

#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QTableView>
#include <QtTest>

#include "QtTestRegistry.h"
#include "WindowFixture.h"
#include "desktop/AccessLogTableModel.h"
#include "desktop/SettingsDialog.h"

namespace tav::test {
namespace {

struct SampleRow {
  std::uint32_t id;
  const char16_t* time;
  const char16_t* host;
  const char16_t* request;
  const char16_t* action;
  const char16_t* status;
  const char16_t* received;
  const char16_t* sent;
  int image;
};

constexpr SampleRow kSamples[] = {
    {1, u"2024/05/06 21:14:03", u"kanae.2ch.net", u"GET /software/dat/1437650830.dat", u"HTML", u"成功",
     u"48213", u"51022", kImageSuccess},
    {2, u"2024/05/06 21:14:05", u"egg.5ch.net", u"GET /software/subject.txt", u"直接", u"成功", u"30188", u"30188",
     kImageSuccess},
    {3, u"2024/05/06 21:14:09", u"mevius.5ch.net", u"GET /news4vip/dat/1714990001.dat", u"API", u"過去ログ",
     u"0", u"312", kImageFailure},
    {4, u"2024/05/06 21:14:12", u"itest.5ch.net", u"CONNECT itest.5ch.net:443", u"SSL", u"成功", u"6412",
     u"1830", kImageSuccess},
    {5, u"2024/05/06 21:14:15", u"kanae.2ch.net", u"GET /software/dat/1712345678.dat", u"HTML", u"接続中...",
     u"12288", u"0", kImageRunning},
};

// Distinct colours in a grid of samples: a picture that shows something has
// more than a handful.
int ColourCount(const QImage& picture) {
  QSet<QRgb> colours;
  for (int y = 0; y < picture.height(); y += 3) {
    for (int x = 0; x < picture.width(); x += 3) colours.insert(picture.pixel(x, y));
  }
  return static_cast<int>(colours.size());
}

}  // namespace

class ScreenshotTest : public QObject {
  Q_OBJECT
 private slots:
  void mainWindowWithLogRows() {
    WindowFixture f([](SettingValues& v) { v.GridLine = 1; });
    for (const SampleRow& row : kSamples) {
      f.Shell().Log().SetLimits(f.Shell().Setting().Snapshot()->LogMax, f.Shell().Setting().Snapshot()->LogSort);
      f.Shell().Log().AddRow(0, u"0", kImageRunning, row.id);
      f.Shell().Log().SetCell(row.id, 1, row.time, kImageKeep);
      f.Shell().Log().SetCell(row.id, 2, row.host, kImageKeep);
      f.Shell().Log().SetCell(row.id, 3, row.request, kImageKeep);
      f.Shell().Log().SetCell(row.id, 4, row.action, kImageKeep);
      f.Shell().Log().SetCell(row.id, 5, row.status, kImageKeep);
      f.Shell().Log().SetCell(row.id, 6, row.received, kImageKeep);
      f.Shell().Log().SetCell(row.id, 7, row.sent, row.image);
    }
    f.Shell().ConnectionAccepted();
    f.Window().resize(980, 300);
    f.Window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.Window()));
    QTRY_COMPARE(f.Window().LogModel()->rowCount(), 5);
    f.Window().LogView()->selectRow(0);
    QTest::qWait(50);

    QImage picture = f.Window().grab().toImage();
    QCOMPARE(picture.size(), f.Window().size() * picture.devicePixelRatio());
    QVERIFY(ColourCount(picture) > 10);

    QString path = qEnvironmentVariable("TAVRILOX_SCREENSHOT");
    if (!path.isEmpty()) QVERIFY(picture.save(path, "PNG"));
  }

  void settingsDialogPages() {
    CSetting setting;
    RecordingBoxes boxes;
    SettingsDialog dialog(setting, boxes, SettingsPageId::Basic);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QImage basic = dialog.grab().toImage();
    dialog.ShowPage(SettingsPageId::Api);
    QTest::qWait(50);
    QImage api = dialog.grab().toImage();
    QVERIFY(basic != api);

    constexpr int kGap = 12;
    QImage picture(basic.width() + kGap + api.width(), std::max(basic.height(), api.height()),
                   QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.drawImage(0, 0, basic);
    painter.drawImage(basic.width() + kGap, 0, api);
    painter.end();
    QVERIFY(ColourCount(picture) > 10);

    QString path = qEnvironmentVariable("TAVRILOX_SETTINGS_SCREENSHOT");
    if (!path.isEmpty()) QVERIFY(picture.save(path, "PNG"));
  }
};

static RegisterQtTest<ScreenshotTest> registerScreenshotTest;

}  // namespace tav::test

#include "ScreenshotTest.moc"
