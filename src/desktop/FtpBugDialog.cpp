#include "desktop/FtpBugDialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <limits>

#include "acquire/FtpBugScan.h"
#include "config/CSetting.h"
#include "config/FtpBugList.h"
#include "desktop/QtText.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr int kColumnWidths[] = {60, 80, 60};

QString JoinedPosts(const std::vector<std::int32_t>& posts) {
  return ToQString(JoinPostNumbers(posts, std::numeric_limits<std::size_t>::max()));
}

QPushButton* Button(const QString& text, const char* objectName) {
  auto* button = new QPushButton(text);
  button->setObjectName(QString::fromLatin1(objectName));
  button->setAccessibleName(QString(text).remove(QLatin1Char('&')));
  button->setAutoDefault(false);
  return button;
}

QLineEdit* Field(const QString& accessibleName, const char* objectName) {
  auto* field = new QLineEdit;
  field->setObjectName(QString::fromLatin1(objectName));
  field->setAccessibleName(accessibleName);
  field->setMaxLength(static_cast<int>(kFtpBugFieldMax));
  return field;
}

}  // namespace

// Carries the scan's reports from its worker to the dialog's thread.
class FtpBugDialog::ScanBridge : public IFtpBugScanListener {
 public:
  explicit ScanBridge(FtpBugDialog* dialog) : dialog_(dialog) {}

  void ScanStatusChanged(const std::u16string& status) override {
    Post([status](FtpBugDialog& d) { d.status_->setText(ToQString(status)); });
  }
  void ScanPostsChanged(const std::vector<std::int32_t>& posts) override {
    Post([posts](FtpBugDialog& d) { d.posts_->setText(JoinedPosts(posts)); });
  }
  void ScanFinished(const FtpBugScanResult&) override {
    Post([](FtpBugDialog& d) { d.SetScanning(false); });
  }

 private:
  template <typename Change>
  void Post(Change change) {
    QPointer<FtpBugDialog> dialog = dialog_;
    QMetaObject::invokeMethod(
        dialog_,
        [dialog, change] {
          if (dialog) change(*dialog);
        },
        Qt::QueuedConnection);
  }

  FtpBugDialog* dialog_;
};

FtpBugDialog::FtpBugDialog(CSetting& setting, QWidget* parent)
    : QDialog(parent),
      setting_(setting),
      bridge_(std::make_unique<ScanBridge>(this)),
      scan_(std::make_unique<FtpBugScan>(setting, *bridge_)) {
  setObjectName(QStringLiteral("FtpBugDialog"));
  setWindowTitle(QStringLiteral("ftpバグ設定"));
  setModal(false);

  list_ = new QTableWidget(0, 3);
  list_->setObjectName(QStringLiteral("FtpBugList"));
  list_->setAccessibleName(QStringLiteral("ftpバグ一覧"));
  list_->setHorizontalHeaderLabels({QStringLiteral("板"), QStringLiteral("スレID"), QStringLiteral("レス")});
  for (int column = 0; column < 3; ++column) list_->setColumnWidth(column, kColumnWidths[column]);
  list_->horizontalHeader()->setStretchLastSection(false);
  list_->verticalHeader()->hide();
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setShowGrid(true);
  list_->setWordWrap(false);
  connect(list_, &QTableWidget::itemSelectionChanged, this, &FtpBugDialog::FillFromSelection);

  auto* up = Button(QStringLiteral("上へ"), "FtpBugUp");
  auto* down = Button(QStringLiteral("下へ"), "FtpBugDown");
  auto* remove = Button(QStringLiteral("削除"), "FtpBugDelete");
  connect(up, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
  connect(down, &QPushButton::clicked, this, [this] { MoveSelected(1); });
  connect(remove, &QPushButton::clicked, this, &FtpBugDialog::DeleteSelected);
  auto* listButtons = new QHBoxLayout;
  listButtons->addWidget(up);
  listButtons->addWidget(down);
  listButtons->addWidget(remove);
  listButtons->addStretch();

  server_ = Field(QStringLiteral("鯖"), "FtpBugServer");
  board_ = Field(QStringLiteral("板"), "FtpBugBoard");
  thread_ = Field(QStringLiteral("スレID"), "FtpBugThread");
  posts_ = Field(QStringLiteral("レス"), "FtpBugPosts");
  posts_->setMaxLength(static_cast<int>(kFtpBugPostsMax));
  auto* fields = new QGridLayout;
  int row = 0;
  for (auto [label, field] :
       {std::pair{QStringLiteral("鯖："), server_}, std::pair{QStringLiteral("板："), board_},
        std::pair{QStringLiteral("スレID："), thread_}, std::pair{QStringLiteral("レス："), posts_}}) {
    auto* caption = new QLabel(label);
    caption->setBuddy(field);
    fields->addWidget(caption, row, 0);
    fields->addWidget(field, row, 1);
    ++row;
  }

  register_ = Button(QStringLiteral("登録"), "FtpBugRegister");
  search_ = Button(QStringLiteral("バグ検索"), "FtpBugSearch");
  connect(register_, &QPushButton::clicked, this, &FtpBugDialog::Register);
  connect(search_, &QPushButton::clicked, this, &FtpBugDialog::Search);
  auto* toolButtons = new QHBoxLayout;
  toolButtons->addWidget(register_);
  toolButtons->addWidget(search_);
  toolButtons->addStretch();

  status_ = new QLabel(QStringLiteral("情報"));
  status_->setObjectName(QStringLiteral("FtpBugStatus"));
  status_->setAccessibleName(QStringLiteral("検索状況"));
  status_->setFrameShape(QFrame::StyledPanel);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  ok_ = Button(QStringLiteral("OK"), "FtpBugOk");
  auto* cancel = Button(QStringLiteral("キャンセル"), "FtpBugCancel");
  connect(ok_, &QPushButton::clicked, this, &FtpBugDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &FtpBugDialog::reject);
  auto* closeButtons = new QHBoxLayout;
  closeButtons->addStretch();
  closeButtons->addWidget(ok_);
  closeButtons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(listButtons);
  layout->addLayout(fields);
  layout->addLayout(toolButtons);
  layout->addWidget(status_);
  layout->addLayout(closeButtons);

  working_ = setting_.Snapshot()->FtpBugEntries;
  RefreshList();
}

FtpBugDialog::~FtpBugDialog() { scan_.reset(); }

void FtpBugDialog::Open(const QString& server, const QString& board, const QString& thread) {
  working_ = setting_.Snapshot()->FtpBugEntries;
  RefreshList();
  server_->setText(server.left(static_cast<int>(kFtpBugFieldMax)));
  board_->setText(board.left(static_cast<int>(kFtpBugFieldMax)));
  thread_->setText(thread.left(static_cast<int>(kFtpBugFieldMax)));
  posts_->clear();
  status_->clear();
  show();
  raise();
  activateWindow();
}

void FtpBugDialog::RefreshList() {
  QSignalBlocker quiet(list_);
  list_->clearContents();
  list_->setRowCount(static_cast<int>(working_.size()));
  for (int row = 0; row < list_->rowCount(); ++row) {
    const FtpBugEntry& entry = working_[static_cast<std::size_t>(row)];
    list_->setItem(row, 0, new QTableWidgetItem(ToQString(entry.board)));
    list_->setItem(row, 1, new QTableWidgetItem(ToQString(entry.thread)));
    list_->setItem(row, 2, new QTableWidgetItem(JoinedPosts(entry.posts)));
  }
}

int FtpBugDialog::SelectedRow() const {
  const QModelIndexList rows = list_->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void FtpBugDialog::FillFromSelection() {
  const int row = SelectedRow();
  if (row < 0 || static_cast<std::size_t>(row) >= working_.size()) return;
  const FtpBugEntry& entry = working_[static_cast<std::size_t>(row)];
  board_->setText(ToQString(entry.board));
  thread_->setText(ToQString(entry.thread));
  posts_->setText(JoinedPosts(entry.posts));
  server_->clear();
}

void FtpBugDialog::Register() {
  if (scanning_) return;
  switch (
      RegisterFtpBugEntry(working_, ToU16(board_->text()), ToU16(thread_->text()), ToU16(posts_->text()))) {
    case FtpBugRegister::kListFull:
      return;
    case FtpBugRegister::kMissingInput:
      status_->setText(QStringLiteral("未入力のスレッド情報があります."));
      return;
    case FtpBugRegister::kStored:
      RefreshList();
      status_->clear();
      return;
  }
}

void FtpBugDialog::DeleteSelected() {
  const int row = SelectedRow();
  if (row < 0) return;
  working_.erase(working_.begin() + row);
  RefreshList();
}

void FtpBugDialog::MoveSelected(int step) {
  const int row = SelectedRow();
  const int other = row + step;
  if (row < 0 || other < 0 || other >= static_cast<int>(working_.size())) return;
  std::swap(working_[static_cast<std::size_t>(row)], working_[static_cast<std::size_t>(other)]);
  RefreshList();
  QSignalBlocker quiet(list_);
  list_->selectRow(other);
}

void FtpBugDialog::Search() {
  if (scanning_) return;
  FtpBugScanInput input{Utf16ToCp932(ToU16(server_->text())), Utf16ToCp932(ToU16(board_->text())),
                        Utf16ToCp932(ToU16(thread_->text()))};
  if (!scan_->Start(std::move(input))) return;
  SetScanning(true);
}

void FtpBugDialog::SetScanning(bool scanning) {
  scanning_ = scanning;
  ok_->setEnabled(!scanning);
  register_->setEnabled(!scanning);
  search_->setEnabled(!scanning);
}

void FtpBugDialog::accept() {
  if (scanning_) return;
  setting_.Update([this](SettingValues& v) { v.FtpBugEntries = working_; });
  hide();
  setResult(QDialog::Accepted);
}

void FtpBugDialog::reject() {
  if (scanning_) {
    scan_->Stop();
    return;
  }
  QDialog::reject();
}

}  // namespace tav
