#include "desktop/SettingsPageWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <functional>

#include "desktop/AccessLogTableModel.h"
#include "desktop/QtText.h"
#include "desktop/SettingsPageWidget.h"

namespace tav {
namespace {

QString Q(const char16_t* text) { return QString::fromUtf16(text); }

QGroupBox* Group(const QString& title, QLayout* inner) {
  auto* group = new QGroupBox(title);
  group->setAccessibleName(title);
  group->setLayout(inner);
  return group;
}

// Widgets side by side, the last one followed by the free space.
QHBoxLayout* Beside(std::initializer_list<QWidget*> widgets, bool stretch = true) {
  auto* row = new QHBoxLayout;
  for (QWidget* widget : widgets) row->addWidget(widget);
  if (stretch) row->addStretch(1);
  return row;
}

QLabel* Note(const QString& text) { return new QLabel(text); }

void AddRow(QFormLayout* form, const QString& label, QWidget* field) {
  auto* caption = new QLabel(label);
  caption->setBuddy(field);
  form->addRow(caption, field);
}

void AddRow(QFormLayout* form, const QString& label, QWidget* field, QLayout* beside) {
  auto* caption = new QLabel(label);
  caption->setBuddy(field);
  form->addRow(caption, beside);
}

QStringList ModeNames(int count) {
  QStringList names;
  for (int mode = 0; mode < count; ++mode) names << ToQString(ModeName(mode));
  return names;
}

// Shows `labels` in `combo` with `selected` chosen; the entries are only
// rebuilt when they changed, so this may run from the combo's own signal.
void SyncCombo(QComboBox* combo, const std::vector<std::u16string>& labels, int selected) {
  QSignalBlocker block(combo);
  bool same = combo->count() == static_cast<int>(labels.size());
  for (int i = 0; same && i < combo->count(); ++i)
    same = combo->itemText(i) == ToQString(labels[std::size_t(i)]);
  if (!same) {
    combo->clear();
    for (const std::u16string& label : labels) combo->addItem(ToQString(label));
  }
  combo->setCurrentIndex(selected);
}

// Runs `command`, then shows the page's fields again.
std::function<void()> AndReload(SettingsPageWidget* page, std::function<void()> command) {
  return [page, command = std::move(command)] {
    command();
    page->Reload();
  };
}

// Items are changed in place: this may run from the table's own signal.
void SetCellText(QTableWidget* table, int row, int column, const QString& text) {
  if (QTableWidgetItem* item = table->item(row, column)) {
    item->setText(text);
  } else {
    table->setItem(row, column, new QTableWidgetItem(text));
  }
}

// --- 基本 ---

SettingsPageWidget* BasicPageWidget(SettingsEditor& e) {
  BasicPage& m = e.basic;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);

  const QString portTitle = Q(u"待受ポート:");
  layout->addWidget(Group(portTitle, Beside({page->Edit(portTitle, "GatewayHostPort", m.hostPort),
                                             Note(Q(u"（*変更時は要再起動）"))})));
  const QString modeTitle = Q(u"dat取得モード:");
  layout->addWidget(Group(modeTitle, Beside({page->Choice(modeTitle, "DatMode", ModeNames(7), m.datMode)})));

  const QString fakeTitle = Q(u"UserAgent偽装（API以外）:");
  QCheckBox* fakeCheck = page->Check(QString(), "EnableFakeUA", m.enableFakeUA);
  fakeCheck->setAccessibleName(fakeTitle);
  QLineEdit* fakeUA = page->Edit(fakeTitle, "FakeUA", m.fakeUA);
  auto* fakeRow = Beside({fakeCheck, fakeUA}, false);
  layout->addWidget(Group(fakeTitle, fakeRow));

  layout->addWidget(page->Check(Q(u"2ch(5ch)への接続をSSL（https）にする"), "HtmlSSL", m.htmlSSL));
  layout->addWidget(
      page->Check(Q(u"subject.txtをsubback.htmlから読み込む"), "SubjectSubback", m.subjectSubback));
  layout->addWidget(page->Check(Q(u"過去ログをHTMLモードで読み込む"), "KakoLogHtml", m.kakoLogHtml));
  layout->addWidget(
      page->Check(Q(u"書き込み時ヘッダに\nContent-Type: application/x-www-form-urlencoded\nを追加する"),
                  "WriteUrlencoded", m.writeUrlencoded));
  layout->addWidget(
      page->Check(Q(u"書き込み時にAcceptヘッダを書き換える"), "WriteAcceptHeader", m.writeAcceptHeader));
  layout->addWidget(page->Check(Q(u"最小化状態で起動する"), "WindowMinimize", m.windowMinimize));
  layout->addWidget(page->Check(Q(u"終了確認ダイアログを表示しない"), "ExitDialog", m.noExitDialog));
  layout->addStretch(1);

  page->SetEnablingRule([&m, fakeUA] { fakeUA->setEnabled(m.FakeUAEnabled()); });
  return page;
}

// --- API ---

SettingsPageWidget* ApiPageWidget(SettingsEditor& e) {
  ApiProfilesPage& m = e.api;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);

  auto* profiles = new QComboBox;
  profiles->setObjectName(QStringLiteral("ApiProfiles"));
  profiles->setAccessibleName(Q(u"プロファイル"));
  page->AddReload([profiles, &m] { SyncCombo(profiles, m.Labels(), m.Profiles().Selected()); });
  QObject::connect(profiles, &QComboBox::currentIndexChanged, page, [page, &m](int index) {
    m.Select(index);
    page->Reload();
  });
  auto run = [page](std::function<void()> command) { return AndReload(page, std::move(command)); };
  auto add = run([&m] { m.Add(); });
  auto remove = run([&m] { m.Delete(); });
  auto update = run([&m] { m.Update(); });

  auto* menu = new QMenu(page);
  menu->setObjectName(QStringLiteral("ApiProfileMenu"));
  QObject::connect(menu->addAction(Q(u"追加(&A)")), &QAction::triggered, page, add);
  QObject::connect(menu->addAction(Q(u"更新(&R)")), &QAction::triggered, page, update);
  QAction* removeAction = menu->addAction(Q(u"削除(&D)"));
  QObject::connect(removeAction, &QAction::triggered, page, remove);
  QObject::connect(menu, &QMenu::aboutToShow, page,
                   [removeAction, &m] { removeAction->setEnabled(m.CanDelete()); });
  profiles->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(profiles, &QWidget::customContextMenuRequested, page,
                   [menu, profiles](const QPoint& pos) { menu->popup(profiles->mapToGlobal(pos)); });

  layout->addLayout(
      Beside({profiles, page->Button(Q(u"追加"), "ApiAdd", add),
              page->Button(Q(u"削除"), "ApiDelete", remove), page->Button(Q(u"更新"), "ApiUpdate", update)}));

  auto* form = new QFormLayout;
  QCheckBox* enable = page->Check(Q(u"名前:"), "Enable", m.shown.Enable);
  form->addRow(enable, page->Edit(Q(u"名前:"), "Name", m.shown.Name));
  AddRow(form, Q(u"HMKey:"), page->Edit(Q(u"HMKey:"), "HMKey", m.shown.HMKey));
  AddRow(form, Q(u"AppKey:"), page->Edit(Q(u"AppKey:"), "AppKey", m.shown.AppKey));
  AddRow(form, Q(u"UA(認証):"), page->Edit(Q(u"UA(認証):"), "UserAgentAuth", m.shown.UserAgentAuth));
  AddRow(form, Q(u"X-2ch-UA:"), page->Edit(Q(u"X-2ch-UA:"), "XUserAgent", m.shown.XUserAgent));
  AddRow(form, Q(u"UA(dat):"), page->Edit(Q(u"UA(dat):"), "UserAgent", m.shown.UserAgent));
  layout->addLayout(form);

  QLineEdit* ct = page->Edit(Q(u"固定"), "CT", m.shown.CT);
  QRadioButton* random = page->Radio(Q(u"ランダム（未実装）"), "CTModeRandom", m.shown.CTMode, 2);
  random->setEnabled(false);
  auto* ctBox = new QVBoxLayout;
  ctBox->addLayout(Beside({page->Radio(Q(u"固定"), "CTModeFixed", m.shown.CTMode, 0), ct}, false));
  ctBox->addWidget(page->Radio(Q(u"UNIX Time"), "CTModeUnixTime", m.shown.CTMode, 1));
  ctBox->addWidget(random);
  layout->addWidget(Group(Q(u"CT:"), ctBox));

  auto* sidForm = new QFormLayout;
  QSpinBox* sid = page->Spin(Q(u"SID期限:"), "SIDTime", -1, 9999, m.sidTime);
  AddRow(sidForm, Q(u"SID期限:"), sid, Beside({sid, Note(Q(u"分　（-1:無期限 0:毎回生成）"))}));
  layout->addLayout(sidForm);
  layout->addStretch(1);

  page->SetEnablingRule([&m, ct] { ct->setEnabled(m.CTEnabled()); });
  return page;
}

// --- 通信 ---

SettingsPageWidget* NetworkPageWidget(SettingsEditor& e) {
  NetworkPage& m = e.network;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);

  auto* timeouts = new QFormLayout;
  QLineEdit* connectTime = page->Edit(Q(u"接続タイムアウト:"), "ConnectTimeOut", m.connectTimeOut);
  AddRow(timeouts, Q(u"接続タイムアウト:"), connectTime, Beside({connectTime, Note(QStringLiteral("ms"))}));
  QLineEdit* receive = page->Edit(Q(u"受信タイムアウト:"), "ReceiveTimeOut", m.receiveTimeOut);
  AddRow(timeouts, Q(u"受信タイムアウト:"), receive, Beside({receive, Note(QStringLiteral("ms"))}));
  layout->addWidget(Group(Q(u"タイムアウト（未実装）:"), timeouts));

  QLineEdit* proxy = page->Edit(Q(u"指定する:"), "Proxy", m.proxy);
  auto* proxyBox = new QVBoxLayout;
  proxyBox->addWidget(page->Radio(Q(u"使用しない"), "ProxyModeNone", m.proxyMode, 0));
  proxyBox->addWidget(page->Radio(Q(u"IEの設定を使用する"), "ProxyModeSystem", m.proxyMode, 1));
  proxyBox->addLayout(Beside({page->Radio(Q(u"指定する:"), "ProxyModeNamed", m.proxyMode, 2), proxy}, false));
  layout->addWidget(Group(Q(u"プロキシ:"), proxyBox));

  auto* form = new QFormLayout;
  QLineEdit* buffer = page->Edit(Q(u"バッファサイズ:"), "RecvBufferSize", m.bufferKB);
  AddRow(form, Q(u"バッファサイズ:"), buffer, Beside({buffer, Note(QStringLiteral("KB"))}));
  layout->addLayout(form);
  layout->addWidget(page->Check(Q(u"マルチスレッドで読み込む"), "MultiReadThread", m.multiReadThread));
  layout->addWidget(
      page->Check(Q(u"ブラウザとの接続を通信毎に必ず閉じる"), "CloseConnection", m.closeConnection));
  auto* allowForm = new QFormLayout;
  QLineEdit* allow = page->Edit(Q(u"接続を許可するアドレス:"), "AllowFrom", m.allowFrom);
  AddRow(allowForm, Q(u"接続を許可するアドレス:"), allow);
  layout->addLayout(allowForm);
  layout->addStretch(1);

  page->SetEnablingRule([&m, proxy] { proxy->setEnabled(m.ProxyEnabled()); });
  return page;
}

// --- ログビュー ---

SettingsPageWidget* LogViewPageWidget(SettingsEditor& e) {
  LogViewPage& m = e.logView;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);

  auto* columns = new QListWidget;
  columns->setObjectName(QStringLiteral("ColumnOrder"));
  columns->setAccessibleName(Q(u"カラム:"));
  page->AddReload([columns, &m] {
    QSignalBlocker block(columns);
    columns->clear();
    for (int column : m.columns.Items()) columns->addItem(AccessLogTableModel::Caption(column));
    columns->setCurrentRow(m.columns.Selected());
  });
  QObject::connect(columns, &QListWidget::currentRowChanged, page, [&m](int row) { m.columns.Select(row); });
  auto run = [page](std::function<void()> command) { return AndReload(page, std::move(command)); };
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(page->Button(Q(u"上へ"), "ColumnUp", run([&m] { m.columns.MoveUp(); })));
  buttons->addWidget(page->Button(Q(u"下へ"), "ColumnDown", run([&m] { m.columns.MoveDown(); })));
  buttons->addWidget(page->Button(Q(u"初期化"), "ColumnReset", run([&m] { m.ResetColumns(); })));
  buttons->addStretch(1);
  auto* columnBox = new QHBoxLayout;
  columnBox->addWidget(columns);
  columnBox->addLayout(buttons);
  layout->addWidget(Group(Q(u"カラム:"), columnBox));

  auto* form = new QFormLayout;
  AddRow(form, Q(u"ログの最大項目数:"), page->Spin(Q(u"ログの最大項目数:"), "LogMax", 1, 50, m.logMax));
  layout->addLayout(form);
  layout->addStretch(1);
  return page;
}

// --- JaneStyle ---

// The text up to its last path separator.
QString FolderOf(const QString& path) {
  const int cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
  return cut < 0 ? QString() : path.left(cut);
}

SettingsPageWidget* JaneStylePageWidget(SettingsEditor& e) {
  JaneStylePage& m = e.janeStyle;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);
  auto* form = new QFormLayout;

  QLineEdit* path = page->Edit(QStringLiteral("Jane2ch.exe"), "Path", m.path);
  QPushButton* pickPath = page->Button(Q(u"参照"), "PathBrowse", [page, path] {
    auto picker = JaneStyleExePicker(page, path->text());
    if (picker->exec() == QDialog::Accepted && !picker->selectedFiles().isEmpty()) {
      path->setText(picker->selectedFiles().first());
    }
  });
  pickPath->setAccessibleDescription(QStringLiteral("Jane2ch.exe"));
  AddRow(form, QStringLiteral("Jane2ch.exe"), path, Beside({path, pickPath}, false));

  QLineEdit* logs = page->Edit(Q(u"ログフォルダ(Logs)"), "LogsPath", m.logsPath);
  QPushButton* pickLogs = page->Button(Q(u"参照"), "LogsPathBrowse", [page, logs] {
    auto picker = LogsFolderPicker(page, logs->text());
    if (picker->exec() == QDialog::Accepted && !picker->selectedFiles().isEmpty()) {
      logs->setText(picker->selectedFiles().first());
    }
  });
  pickLogs->setAccessibleDescription(Q(u"ログフォルダ(Logs)"));
  AddRow(form, Q(u"ログフォルダ(Logs)"), logs, Beside({logs, pickLogs}, false));

  layout->addLayout(form);
  layout->addStretch(1);
  return page;
}

// --- HTML ---

SettingsPageWidget* HtmlPageWidget(SettingsEditor& e) {
  HtmlPage& m = e.html;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);

  auto* diff = new QVBoxLayout;
  diff->addWidget(page->Radio(Q(u"完全（全取得、ちょっと遅い）"), "DiffModeFull", m.diffMode, 0));
  diff->addWidget(page->Radio(Q(u"キャッシュ（差分取得、ちょっと速い）"), "DiffModeCache", m.diffMode, 1));
  layout->addWidget(Group(Q(u"差分取得モード:"), diff));

  auto* form = new QFormLayout;
  QSpinBox* count = page->Spin(Q(u"キャッシュするスレ数："), "DatCacheCount", 1, 999, m.datCacheCount);
  AddRow(form, Q(u"キャッシュするスレ数："), count, Beside({count, Note(Q(u"スレ"))}));
  layout->addLayout(form);

  auto* agent = new QVBoxLayout;
  agent->addWidget(page->Edit(Q(u"UserAgent:"), "HtmlUserAgent", m.userAgent));
  agent->addWidget(page->Check(Q(u"スレッドhtmlの読み込み以外にも使用する"), "ApplyAllUA", m.applyAllUA));
  layout->addWidget(Group(Q(u"UserAgent:"), agent));

  layout->addWidget(
      page->Check(Q(u"連続する半角スペースを1つにする"), "HtmlRemoveHalfSpace", m.removeHalfSpace));
  layout->addWidget(page->Check(Q(u"<br> <br>を<br>  <br>にする"), "FixBRBR", m.fixBRBR));
  layout->addWidget(page->Check(Q(u"ftp://バグのスレを読み込む"), "FixFTPBug", m.fixFTPBug));
  layout->addStretch(1);

  page->SetEnablingRule([&m, count] { count->setEnabled(m.CacheCountEnabled()); });
  return page;
}

// --- Ronin(人柱) ---

SettingsPageWidget* RoninPageWidget(SettingsEditor& e) {
  RoninPage& m = e.ronin;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);

  auto* form = new QFormLayout;
  QLineEdit* id = page->Edit(Q(u"User ID："), "RoninID", m.id);
  QLineEdit* pass = page->Edit(Q(u"Password："), "RoninPass", m.pass);
  pass->setEchoMode(QLineEdit::Password);
  AddRow(form, Q(u"User ID："), id);
  AddRow(form, Q(u"Password："), pass);
  // The group's title is the switch itself.
  QGroupBox* group = Group(Q(u"APIモードでRoninを使う"), form);
  group->setObjectName(QStringLiteral("LoginAPI"));
  group->setCheckable(true);
  QObject::connect(group, &QGroupBox::toggled, page, [page, &m](bool checked) {
    m.loginAPI = checked;
    page->Changed();
  });
  page->AddReload([group, &m] { group->setChecked(m.loginAPI); });
  layout->addWidget(group);
  layout->addStretch(1);

  page->SetEnablingRule([&m, id, pass] {
    id->setEnabled(m.FieldsEnabled());
    pass->setEnabled(m.FieldsEnabled());
  });
  return page;
}

// --- 自動切替 ---

SettingsPageWidget* AutoRulePageWidget(SettingsEditor& e) {
  AutoRulesPage& m = e.autoRules;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);

  auto* rules = new QTableWidget(0, 2);
  rules->setObjectName(QStringLiteral("AutoRules"));
  rules->setAccessibleName(Q(u"自動切替"));
  rules->setHorizontalHeaderLabels({Q(u"ルール"), Q(u"モード")});
  rules->horizontalHeader()->resizeSection(0, 100);
  rules->horizontalHeader()->resizeSection(1, 80);
  rules->verticalHeader()->hide();
  rules->setSelectionBehavior(QAbstractItemView::SelectRows);
  rules->setSelectionMode(QAbstractItemView::SingleSelection);
  rules->setEditTriggers(QAbstractItemView::NoEditTriggers);
  rules->setShowGrid(true);
  page->AddReload([rules, &m] {
    QSignalBlocker block(rules);
    const std::vector<CAutoRule>& items = m.Rules().Items();
    rules->setRowCount(static_cast<int>(items.size()));
    for (int row = 0; row < rules->rowCount(); ++row) {
      const CAutoRule& rule = items[static_cast<std::size_t>(row)];
      SetCellText(rules, row, 0, ToQString(rule.rule));
      SetCellText(rules, row, 1, ToQString(ModeName(rule.mode)));
    }
    rules->clearSelection();
    if (m.Rules().Selected() >= 0) rules->selectRow(m.Rules().Selected());
  });
  QObject::connect(rules, &QTableWidget::itemSelectionChanged, page, [page, rules, &m] {
    const QList<QTableWidgetItem*> selected = rules->selectedItems();
    if (selected.isEmpty()) return;
    m.Select(selected.first()->row());
    page->Reload();
  });
  layout->addWidget(rules);

  auto* form = new QFormLayout;
  AddRow(form, Q(u"ルール:"),
         page->Edit(Q(u"ルール:"), "Rule", m.shownRule, static_cast<int>(kAutoRuleTextMax)));
  AddRow(form, Q(u"モード:"),
         page->Choice(Q(u"モード:"), "Mode", ModeNames(AutoRulesPage::kOfferedModes), m.shownMode));
  layout->addLayout(form);

  auto run = [page](std::function<void()> command) { return AndReload(page, std::move(command)); };
  layout->addLayout(Beside({page->Button(Q(u"上へ"), "RuleUp", run([&m] { m.MoveUp(); })),
                            page->Button(Q(u"下へ"), "RuleDown", run([&m] { m.MoveDown(); })),
                            page->Button(Q(u"追加"), "RuleAdd", run([&m] { m.Add(); })),
                            page->Button(Q(u"削除"), "RuleDelete", run([&m] { m.Delete(); })),
                            page->Button(Q(u"更新"), "RuleUpdate", run([&m] { m.Update(); }))}));
  return page;
}

// --- JSON ---

SettingsPageWidget* JsonPageWidget(SettingsEditor& e) {
  JsonPage& m = e.json;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);

  auto* agentBox = new QVBoxLayout;
  agentBox->addWidget(page->Check(Q(u"HTMLモードと同じUserAgentを使う"), "UseHtmlUA", m.useHtmlUA));
  QLineEdit* agent = page->Edit(Q(u"UserAgent:"), "JsonUserAgent", m.userAgent);
  agentBox->addWidget(agent);
  layout->addWidget(Group(Q(u"UserAgent:"), agentBox));
  layout->addWidget(
      page->Check(Q(u"連続する半角スペースを1つにする"), "JsonRemoveHalfSpace", m.removeHalfSpace));
  layout->addStretch(1);

  page->SetEnablingRule([&m, agent] { agent->setEnabled(m.AgentEnabled()); });
  return page;
}

// --- bregexp ---

SettingsPageWidget* BregexpPageWidget(SettingsEditor& e) {
  PatternSetsPage& m = e.patternSets;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);

  QCheckBox* mode = page->Check(Q(u"dat変換に正規表現(bregexp.dll)を使用する"), "BregexpMode", m.mode);
  mode->setEnabled(m.ModeEnabled());
  layout->addWidget(mode);
  QLabel* engine = Note(ToQString(m.EngineText()));
  engine->setObjectName(QStringLiteral("EngineVersion"));
  engine->setAccessibleName(ToQString(m.EngineText()));
  layout->addWidget(engine);

  auto* sets = new QComboBox;
  sets->setObjectName(QStringLiteral("PatternSets"));
  sets->setAccessibleName(Q(u"パターン"));
  page->AddReload([sets, &m] { SyncCombo(sets, m.Labels(), m.Sets().Selected()); });
  QObject::connect(sets, &QComboBox::currentIndexChanged, page, [page, &m](int index) {
    m.Select(index);
    page->Reload();
  });
  auto run = [page](std::function<void()> command) { return AndReload(page, std::move(command)); };
  layout->addLayout(Beside({sets, page->Button(Q(u"追加"), "PatternAdd", run([&m] { m.Add(); })),
                            page->Button(Q(u"削除"), "PatternDelete", run([&m] { m.Delete(); })),
                            page->Button(Q(u"初期化"), "PatternReset", run([&m] { m.Reset(); }))}));

  auto* form = new QFormLayout;
  QLineEdit* name = page->Edit(Q(u"名前:"), "PatternName", m.shown.label, static_cast<int>(kPatternLabelMax));
  AddRow(form, Q(u"名前:"), name,
         Beside({name, page->Button(Q(u"更新"), "PatternUpdate", run([&m] { m.Update(); }))}, false));
  AddRow(form, Q(u"スレッドタイトル:"), page->Edit(Q(u"スレッドタイトル:"), "PatternTitle", m.shown.title));
  AddRow(form, Q(u"レス全体:"), page->Edit(Q(u"レス全体:"), "PatternRes", m.shown.res));
  AddRow(form, Q(u"BE:"), page->Edit(Q(u"BE:"), "PatternBE", m.shown.be));
  AddRow(form, Q(u"メール・名前欄:"), page->Edit(Q(u"メール・名前欄:"), "PatternMailName", m.shown.mailName));
  AddRow(form, Q(u"名前欄:"), page->Edit(Q(u"名前欄:"), "PatternNameField", m.shown.name));
  layout->addLayout(form);
  layout->addStretch(1);
  return page;
}

// --- 5ch ---

SettingsPageWidget* FiveChPageWidget(SettingsEditor& e) {
  FiveChPage& m = e.fiveCh;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(page->Check(Q(u"5chモード"), "Use5ch", m.use5ch));
  layout->addWidget(
      page->Check(ToQString(FiveChPage::NetworkReplaceLabel(e.domains)), "NetworkReplace", m.networkReplace));
  layout->addStretch(1);
  return page;
}

// --- ドメイン ---

SettingsPageWidget* DomainPageWidget(SettingsEditor& e) {
  DomainPage& m = e.domain;
  auto* page = new SettingsPageWidget;
  auto* layout = new QVBoxLayout(page);
  auto* form = new QFormLayout;
  for (DomainKey key : kDomainKeys) {
    const QString name = ToQString(std::u16string(DomainKeyName(key)));
    const QString label = name + QLatin1Char(':');
    QLineEdit* edit = page->Edit(label, "", m.Text(key));
    edit->setObjectName(QStringLiteral("Domain") + name);
    AddRow(form, label, edit);
  }
  layout->addWidget(Note(Q(u"ドメイン（Primary, Secondary, Adult, Aliases）は「.」で始めます。")));
  layout->addLayout(form);
  layout->addLayout(Beside({page->Button(Q(u"既定値に戻す"), "DomainDefaults", [page, &m] {
    m.RestoreDefaults();
    page->Reload();
  })}));
  layout->addStretch(1);
  return page;
}

}  // namespace

SettingsPageWidget* BuildSettingsPage(SettingsPageId page, SettingsEditor& editor, QWidget* parent) {
  SettingsPageWidget* widget = nullptr;
  switch (page) {
    case SettingsPageId::Basic:
      widget = BasicPageWidget(editor);
      break;
    case SettingsPageId::Api:
      widget = ApiPageWidget(editor);
      break;
    case SettingsPageId::Network:
      widget = NetworkPageWidget(editor);
      break;
    case SettingsPageId::LogView:
      widget = LogViewPageWidget(editor);
      break;
    case SettingsPageId::JaneStyle:
      widget = JaneStylePageWidget(editor);
      break;
    case SettingsPageId::Html:
      widget = HtmlPageWidget(editor);
      break;
    case SettingsPageId::Ronin:
      widget = RoninPageWidget(editor);
      break;
    case SettingsPageId::AutoRule:
      widget = AutoRulePageWidget(editor);
      break;
    case SettingsPageId::Json:
      widget = JsonPageWidget(editor);
      break;
    case SettingsPageId::Bregexp:
      widget = BregexpPageWidget(editor);
      break;
    case SettingsPageId::FiveCh:
      widget = FiveChPageWidget(editor);
      break;
    case SettingsPageId::Domain:
      widget = DomainPageWidget(editor);
      break;
  }
  widget->setParent(parent);
  widget->setObjectName(QStringLiteral("SettingsPage%1").arg(static_cast<int>(page)));
  widget->setAccessibleName(ToQString(SettingsPageLabel(page)));
  widget->Reload();
  return widget;
}

std::unique_ptr<QFileDialog> JaneStyleExePicker(QWidget* parent, const QString& current) {
  auto picker = std::make_unique<QFileDialog>(parent, Q(u"JaneStyleのJane2ch.exeを選択してください。"),
                                              FolderOf(current), QStringLiteral("Jane2ch.exe (Jane2ch.exe)"));
  picker->setFileMode(QFileDialog::ExistingFile);
  picker->selectFile(QStringLiteral("Jane2ch.exe"));
  return picker;
}

std::unique_ptr<QFileDialog> LogsFolderPicker(QWidget* parent, const QString& current) {
  auto picker = std::make_unique<QFileDialog>(parent, Q(u"ログフォルダの選択"), current);
  picker->setFileMode(QFileDialog::Directory);
  picker->setOption(QFileDialog::ShowDirsOnly);
  // The prompt needs Qt's own dialog; the platform's has no place for it.
  picker->setOption(QFileDialog::DontUseNativeDialog);
  picker->setLabelText(QFileDialog::LookIn, Q(u"JaneStyleのLogsフォルダを選択してください。"));
  return picker;
}

}  // namespace tav
