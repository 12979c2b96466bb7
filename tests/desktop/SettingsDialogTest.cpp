// The settings dialog: its tree and pages, the enabling rules, and what OK
// and Cancel do to the settings file.

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

#include "QtTestRegistry.h"
#include "WindowFixture.h"
#include "server/ProxyServer.h"
#include "desktop/AccessLogTableModel.h"
#include "desktop/LogHeaderView.h"
#include "desktop/QtText.h"
#include "desktop/SettingsDialog.h"
#include "desktop/SettingsPageWidget.h"
#include "desktop/SettingsPageWidgets.h"
#include "desktop/ShellMenus.h"
#include "platform/IniFile.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace tav::test {
namespace {

template <typename Control>
Control* Find(SettingsDialog& dialog, SettingsPageId page, const char* name) {
  auto* control = dialog.Page(page)->findChild<Control*>(QString::fromLatin1(name));
  if (control == nullptr) qWarning("no control %s on page %d", name, static_cast<int>(page));
  return control;
}

void Click(SettingsDialog& dialog, SettingsPageId page, const char* name) {
  Find<QPushButton>(dialog, page, name)->click();
}

// Labels of the tree, children indented by two spaces per level.
QStringList TreeLabels(const QTreeWidgetItem* item, int depth = 0) {
  QStringList labels;
  for (int i = 0; i < item->childCount(); ++i) {
    const QTreeWidgetItem* child = item->child(i);
    labels << QString(depth * 2, QLatin1Char(' ')) + child->text(0);
    labels << TreeLabels(child, depth + 1);
  }
  return labels;
}

// A part of a list, spin box or drop-down (named by the control itself).
bool InsideComposite(const QWidget* control) {
  for (const QWidget* up = control->parentWidget(); up != nullptr; up = up->parentWidget()) {
    if (qobject_cast<const QAbstractItemView*>(up) || qobject_cast<const QAbstractSpinBox*>(up) ||
        qobject_cast<const QComboBox*>(up)) {
      return true;
    }
  }
  return false;
}

void AddRows(QtShell& shell, int count) {
  shell.Log().SetLimits(shell.Setting().Snapshot()->LogMax, shell.Setting().Snapshot()->LogSort);
  for (int id = 1; id <= count; ++id) shell.Log().AddRow(0, u"0", kImageRunning, static_cast<std::uint32_t>(id));
}

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void treeAndPages() {
    CSetting setting;
    RecordingBoxes boxes;
    SettingsDialog dialog(setting, boxes, SettingsPageId::Basic);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("設定"));
    QCOMPARE(
        TreeLabels(dialog.Tree()->invisibleRootItem()),
        QStringList({QStringLiteral("基本"), QStringLiteral("  5ch"), QStringLiteral("  API"),
                     QStringLiteral("  HTML"), QStringLiteral("    bregexp"), QStringLiteral("  JaneStyle"),
                     QStringLiteral("  JSON"), QStringLiteral("  自動切替"), QStringLiteral("  Ronin(人柱)"),
                     QStringLiteral("通信"), QStringLiteral("ログビュー"), QStringLiteral("ドメイン")}));
    QTreeWidgetItem* basic = dialog.Tree()->topLevelItem(0);
    QVERIFY(basic->isExpanded());
    QVERIFY(basic->child(2)->isExpanded());  // HTML
    QVERIFY(!dialog.Tree()->topLevelItem(1)->isExpanded());

    for (int index = 0; index < kSettingsPageCount; ++index) {
      const auto page = static_cast<SettingsPageId>(index);
      SettingsDialog opened(setting, boxes, page);
      QCOMPARE(opened.CurrentPage(), page);
      QCOMPARE(opened.Tree()->currentItem()->data(0, Qt::UserRole).toInt(), index);
      QCOMPARE(opened.TitleLine()->text(), QStringLiteral("  ") + ToQString(SettingsPageLabel(page)));
      QVERIFY(opened.Page(page)->isVisibleTo(&opened));
      QVERIFY(!opened.Page(page == SettingsPageId::Basic ? SettingsPageId::Api : SettingsPageId::Basic)
                   ->isVisibleTo(&opened));
      // every control has a name a screen reader can say
      for (QWidget* control : opened.Page(page)->findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control) ||
            qobject_cast<QAbstractSpinBox*>(control) || qobject_cast<QComboBox*>(control) ||
            qobject_cast<QAbstractItemView*>(control)) {
          if (InsideComposite(control)) continue;
          QVERIFY2(!control->accessibleName().isEmpty() || control->objectName().startsWith(u"qt_"),
                   qPrintable(QStringLiteral("%1 %2").arg(control->metaObject()->className(),
                                                          control->objectName())));
        }
      }
    }

    // choosing in the tree shows that page, with its title in highlight colours
    dialog.Tree()->setCurrentItem(basic->child(2)->child(0));
    QCOMPARE(dialog.CurrentPage(), SettingsPageId::Bregexp);
    QCOMPARE(dialog.TitleLine()->text(), QStringLiteral("  bregexp"));
    QCOMPARE(dialog.TitleLine()->palette().color(QPalette::Window),
             dialog.palette().color(QPalette::Highlight));
  }

  void menusOpenTheirPage() {
    WindowFixture f;
    f.Window().Header()->moveSection(2, 0);  // the user dragged a column
    std::vector<SettingsPageId> opened;
    f.Window().SetSettingsDialogRunner([&](SettingsDialog& dialog) {
      opened.push_back(dialog.CurrentPage());
      [&] { QVERIFY(f.Window().SettingsDialogOpen()); }();
      // the columns are listed as they are shown
      auto* columns = Find<QListWidget>(dialog, SettingsPageId::LogView, "ColumnOrder");
      [&] { QCOMPARE(columns->item(0)->text(), AccessLogTableModel::Caption(2)); }();
      return int(QDialog::Rejected);
    });
    FindCommand(f.Window().HeaderMenu(), kCmdEditColumns)->trigger();
    f.Window().MenuBarCommand(kCmdSettings)->trigger();
    FindCommand(f.Window().TrayMenu(), kCmdSettings)->trigger();
    QCOMPARE(opened, (std::vector<SettingsPageId>{SettingsPageId::LogView, SettingsPageId::Basic,
                                                  SettingsPageId::Basic}));
    QVERIFY(!f.Window().SettingsDialogOpen());
  }

  void enablingRules() {
    CSetting setting;
    RecordingBoxes boxes;
    SettingsDialog dialog(setting, boxes, SettingsPageId::Basic);
    struct Row {
      SettingsPageId page;
      const char* on;   // check box, checkable group or radio
      const char* off;  // the radio that turns it off (null: uncheck `on`)
      const char* dependent;
      bool enabledWhenOn;
    };
    const Row rows[] = {
        {SettingsPageId::Basic, "EnableFakeUA", nullptr, "FakeUA", true},
        {SettingsPageId::Api, "CTModeFixed", "CTModeUnixTime", "CT", true},
        {SettingsPageId::Network, "ProxyModeNamed", "ProxyModeNone", "Proxy", true},
        {SettingsPageId::Html, "DiffModeCache", "DiffModeFull", "DatCacheCount", true},
        {SettingsPageId::Ronin, "LoginAPI", nullptr, "RoninID", true},
        {SettingsPageId::Ronin, "LoginAPI", nullptr, "RoninPass", true},
        {SettingsPageId::Json, "UseHtmlUA", nullptr, "JsonUserAgent", false},
    };
    for (const Row& row : rows) {
      QWidget* dependent = Find<QWidget>(dialog, row.page, row.dependent);
      for (bool on : {true, false, true}) {
        QWidget* control = Find<QWidget>(dialog, row.page, on || !row.off ? row.on : row.off);
        if (auto* group = qobject_cast<QGroupBox*>(control)) {
          group->setChecked(on);
        } else {
          qobject_cast<QAbstractButton*>(control)->setChecked(row.off ? true : on);
        }
        QVERIFY2(dependent->isEnabled() == (on == row.enabledWhenOn), row.dependent);
      }
    }
    QVERIFY(!Find<QRadioButton>(dialog, SettingsPageId::Api, "CTModeRandom")->isEnabled());
    QCOMPARE(Find<QLineEdit>(dialog, SettingsPageId::Ronin, "RoninPass")->echoMode(), QLineEdit::Password);
    // without the regular-expression engine its switch cannot be used
    QVERIFY(!Find<QCheckBox>(dialog, SettingsPageId::Bregexp, "BregexpMode")->isEnabled());
    QCOMPARE(Find<QLabel>(dialog, SettingsPageId::Bregexp, "EngineVersion")->text(),
             QStringLiteral("bregexp.dllの読み込みに失敗しました."));
  }

  void listCommands() {
    CSetting setting;
    RecordingBoxes boxes;
    SettingsDialog dialog(setting, boxes, SettingsPageId::Api);
    auto* profiles = Find<QComboBox>(dialog, SettingsPageId::Api, "ApiProfiles");
    auto* menu = Find<QMenu>(dialog, SettingsPageId::Api, "ApiProfileMenu");
    emit menu->aboutToShow();
    QVERIFY(!menu->actions()[2]->isEnabled());  // "削除(&D)" with one profile
    menu->actions()[0]->trigger();              // "追加(&A)"
    QCOMPARE(profiles->count(), 2);
    QCOMPARE(profiles->currentText(), QStringLiteral("2. noname"));
    QCOMPARE(Find<QLineEdit>(dialog, SettingsPageId::Api, "Name")->text(), QStringLiteral("noname"));
    QVERIFY(!Find<QCheckBox>(dialog, SettingsPageId::Api, "Enable")->isChecked());
    emit menu->aboutToShow();
    QVERIFY(menu->actions()[2]->isEnabled());
    profiles->setCurrentIndex(0);
    QCOMPARE(Find<QLineEdit>(dialog, SettingsPageId::Api, "Name")->text(), QStringLiteral("JaneStyle"));

    auto* rules = Find<QTableWidget>(dialog, SettingsPageId::AutoRule, "AutoRules");
    rules->selectRow(1);
    QCOMPARE(Find<QLineEdit>(dialog, SettingsPageId::AutoRule, "Rule")->text(), QStringLiteral("*"));
    QCOMPARE(Find<QComboBox>(dialog, SettingsPageId::AutoRule, "Mode")->currentText(),
             QStringLiteral("HTML"));
    QCOMPARE(Find<QComboBox>(dialog, SettingsPageId::AutoRule, "Mode")->count(), 6);
    Click(dialog, SettingsPageId::AutoRule, "RuleUp");
    QCOMPARE(rules->item(0, 0)->text(), QStringLiteral("*"));
    QCOMPARE(rules->currentRow(), 0);
    Click(dialog, SettingsPageId::AutoRule, "RuleAdd");
    QCOMPARE(rules->rowCount(), 3);
    QCOMPARE(rules->item(2, 1)->text(), QStringLiteral("HTML"));

    auto* columns = Find<QListWidget>(dialog, SettingsPageId::LogView, "ColumnOrder");
    QCOMPARE(columns->item(0)->text(), AccessLogTableModel::Caption(0));
    columns->setCurrentRow(0);
    Click(dialog, SettingsPageId::LogView, "ColumnDown");
    QCOMPARE(columns->item(1)->text(), AccessLogTableModel::Caption(0));
    QCOMPARE(columns->currentRow(), 1);
  }

  void okWritesTheSettingsFileAndAppliesTheView() {
    TempDir folder;
    const std::string path = folder.File("Tavrilox.ini");
    WindowFixture f([](SettingValues& v) { v.ColumnOrder = {7, 6, 5, 4, 3, 2, 1, 0}; });
    f.setting.Load(path);  // no file yet: the path is kept for saving
    f.session->Server().ApiSession().sessionId = "SESSION";
    AddRows(f.Shell(), 5);
    f.Window().Header()->resizeSection(3, 321);  // the user widened a column

    f.Window().SetSettingsDialogRunner([&](SettingsDialog& d) {
      Find<QComboBox>(d, SettingsPageId::Basic, "DatMode")->setCurrentIndex(0);  // 直接
      Find<QLineEdit>(d, SettingsPageId::Network, "RecvBufferSize")->setText(QStringLiteral("0"));
      Find<QSpinBox>(d, SettingsPageId::Api, "SIDTime")->setValue(-1);
      Click(d, SettingsPageId::Api, "ApiAdd");
      Find<QSpinBox>(d, SettingsPageId::LogView, "LogMax")->setValue(3);
      Click(d, SettingsPageId::LogView, "ColumnReset");
      Find<QGroupBox>(d, SettingsPageId::Ronin, "LoginAPI")->setChecked(true);
      Find<QLineEdit>(d, SettingsPageId::Ronin, "RoninPass")->setText(QStringLiteral("secret"));
      Find<QLineEdit>(d, SettingsPageId::Domain, "DomainSecondary")
          ->setText(QStringLiteral(".5ch.example.test"));
      d.findChild<QPushButton*>(QStringLiteral("OK"))->click();
      return d.result();
    });
    f.Window().RunCommand(kCmdSettings);

    QCOMPARE(f.boxes.Count(QStringLiteral("warning")), 0);  // 直接 comes without a warning
    CSetting reread;
    QCOMPARE(reread.Load(path), 0);
    auto v = reread.Snapshot();
    QCOMPARE(v->DatMode, 0);
    QCOMPARE(v->RecvBufferSize, 1024);
    QCOMPARE(v->SIDTime, -1);
    QCOMPARE(v->ApiProfiles.size(), std::size_t(2));
    QCOMPARE(v->Current, 1);
    QCOMPARE(v->LogMax, 3);
    QCOMPARE(v->ColumnOrder, kDefaultColumnOrder);
    QCOMPARE(v->ColumnWidth[3], 321);  // the widths are as they were
    QCOMPARE(v->LoginAPI, 1);
    QCOMPARE(v->RoninPass.Narrow(), std::string("secret"));
    QCOMPARE(v->Domains.Secondary, std::string(".5ch.example.test"));
    QVERIFY(f.session->Server().ApiSession().sessionId.empty());  // another profile was chosen
    // the view follows at once
    for (int i = 0; i < 8; ++i) QCOMPARE(f.Window().Header()->logicalIndex(i), i);
    QCOMPARE(f.Window().Header()->sectionSize(3), 321);
    QTRY_COMPARE(f.Window().LogModel()->rowCount(), 3);
    QCOMPARE(f.Window().ModeLabel()->text(), QStringLiteral("127.0.0.1:8822 / モード：直接"));
  }

  void cancelAndRefusalChangeNothing() {
    TempDir folder;
    const std::string path = folder.File("Tavrilox.ini");
    WindowFixture f;
    f.setting.Load(path);
    QCOMPARE(f.setting.Save(), 0);
    const std::string saved = ReadBytes(path);

    f.Window().SetSettingsDialogRunner([&](SettingsDialog& d) {
      Click(d, SettingsPageId::Api, "ApiAdd");
      Find<QComboBox>(d, SettingsPageId::Basic, "DatMode")->setCurrentIndex(4);
      Find<QLineEdit>(d, SettingsPageId::Domain, "DomainPrimary")->setText(QStringLiteral("2ch.net"));
      d.findChild<QPushButton*>(QStringLiteral("OK"))->click();
      // refused: the dialog stays, on the domain page, and says which field
      if (d.result() == QDialog::Accepted) return int(QDialog::Accepted);
      if (d.CurrentPage() != SettingsPageId::Domain) return int(QDialog::Accepted);
      d.findChild<QPushButton*>(QStringLiteral("Cancel"))->click();
      return d.result();
    });
    f.Window().RunCommand(kCmdSettings);

    QCOMPARE(f.boxes.Count(QStringLiteral("warning")), 1);
    QVERIFY(f.boxes.boxes.back().text.contains(QStringLiteral("Primary")));
    QCOMPARE(f.Cfg()->ApiProfiles.size(), std::size_t(1));
    QCOMPARE(f.Cfg()->DatMode, 2);
    QCOMPARE(f.Cfg()->Domains.Primary, std::string(".2ch.net"));
    QCOMPARE(ReadBytes(path), saved);
  }

  void roundTripKeepsValuesOutsideTheControls() {
    // values the controls cannot show themselves come back as they were
    TempDir folder;
    const std::string path = folder.File("Tavrilox.ini");
    WriteBytes(
        path,
        "[Setting]\r\nDatMode=9\r\n[Network]\r\nProxyMode=5\r\n[HTML]\r\nDatCacheCount=5000\r\nDiffMode=1\r\n"
        "[2chAPI]\r\nSIDTime=20000\r\nCount=1\r\nName00=x\r\nEnable00=7\r\n");
    WindowFixture f;
    QCOMPARE(f.setting.Load(path), 0);
    f.Window().SetSettingsDialogRunner([](SettingsDialog& d) {
      d.Ok();
      return d.result();
    });
    f.Window().RunCommand(kCmdSettings);
    IniFile ini;
    QCOMPARE(IniFile::LoadFile(path, ini), IniFile::kOk);
    QCOMPARE(ini.GetString(u"Setting", u"DatMode"), std::optional<std::u16string>(u"9"));
    QCOMPARE(ini.GetString(u"Network", u"ProxyMode"), std::optional<std::u16string>(u"5"));
    QCOMPARE(ini.GetString(u"HTML", u"DatCacheCount"), std::optional<std::u16string>(u"5000"));
    QCOMPARE(ini.GetString(u"2chAPI", u"SIDTime"), std::optional<std::u16string>(u"20000"));
    QCOMPARE(f.Cfg()->ApiProfiles[0].Enable, 7);
  }

  void domainWarningsAtStart() {
    TempDir folder;
    const std::string path = folder.File("Tavrilox.ini");
    WriteBytes(path, "[Setting]\r\nGatewayPort=0\r\n[Domain]\r\nAdult=bbspink.com\r\nPrimary=2ch.net\r\n");
    WindowFixture f({}, false);
    f.session->Start(path);
    QCOMPARE(f.boxes.Count(QStringLiteral("message")), 1);
    QCOMPARE(f.boxes.boxes[0].caption, QStringLiteral("Tavrilox.ini"));
    QVERIFY(f.boxes.boxes[0].text.contains(QStringLiteral("Adult=bbspink.com")));
    QVERIFY(f.boxes.boxes[0].text.contains(QStringLiteral("Primary=2ch.net")));
  }

  void janeStylePickers() {
    TempDir folder;
    const QString exe = QString::fromStdString(folder.File("Jane2ch.exe"));
    auto file = JaneStyleExePicker(nullptr, exe);
    QCOMPARE(file->windowTitle(), QStringLiteral("JaneStyleのJane2ch.exeを選択してください。"));
    QCOMPARE(file->nameFilters(), QStringList({QStringLiteral("Jane2ch.exe (Jane2ch.exe)")}));
    QCOMPARE(file->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(file->directory().absolutePath(), QString::fromStdString(folder.Path()));
    auto logs = LogsFolderPicker(nullptr, QString::fromStdString(folder.Path()));
    QCOMPARE(logs->windowTitle(), QStringLiteral("ログフォルダの選択"));
    QCOMPARE(logs->labelText(QFileDialog::LookIn),
             QStringLiteral("JaneStyleのLogsフォルダを選択してください。"));
  }
};

static RegisterQtTest<SettingsDialogTest> registerSettingsDialogTest;

}  // namespace tav::test

#include "SettingsDialogTest.moc"
