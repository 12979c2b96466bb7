#include "desktop/SettingsDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "config/CSetting.h"
#include "desktop/BoxPresenter.h"
#include "desktop/QtText.h"
#include "desktop/SettingsPageWidget.h"
#include "desktop/SettingsPageWidgets.h"

namespace tav {
namespace {

constexpr int kTreeWidth = 140;

std::size_t Slot(SettingsPageId page) { return static_cast<std::size_t>(page); }

}  // namespace

SettingsDialog::SettingsDialog(CSetting& setting, BoxPresenter& boxes, SettingsPageId firstPage,
                               QWidget* parent, SettingsServices services)
    : QDialog(parent), setting_(setting), boxes_(boxes), editor_(setting, services) {
  setObjectName(QStringLiteral("SettingsDialog"));
  setWindowTitle(QStringLiteral("設定"));

  tree_ = new QTreeWidget;
  tree_->setObjectName(QStringLiteral("SettingsTree"));
  tree_->setAccessibleName(QStringLiteral("ページ"));
  tree_->setHeaderHidden(true);
  tree_->setFixedWidth(kTreeWidth);
  // Each item's parent is the last item one level up.
  std::array<QTreeWidgetItem*, 3> lastAtDepth{};
  for (const SettingsTreeItem& entry : kSettingsTree) {
    QTreeWidgetItem* item = entry.depth == 0 ? new QTreeWidgetItem(tree_)
                                             : new QTreeWidgetItem(lastAtDepth[std::size_t(entry.depth) - 1]);
    item->setText(0, QString::fromUtf16(entry.label));
    item->setData(0, Qt::UserRole, static_cast<int>(entry.page));
    lastAtDepth[std::size_t(entry.depth)] = item;
    items_[Slot(entry.page)] = item;
  }
  for (const SettingsTreeItem& entry : kSettingsTree) items_[Slot(entry.page)]->setExpanded(entry.expanded);

  title_ = new QLabel;
  title_->setObjectName(QStringLiteral("SettingsTitle"));
  title_->setAutoFillBackground(true);
  QPalette colours = title_->palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Highlight));
  colours.setColor(QPalette::WindowText, colours.color(QPalette::HighlightedText));
  title_->setPalette(colours);
  title_->setMargin(2);

  stack_ = new QStackedWidget;
  for (int index = 0; index < kSettingsPageCount; ++index) {
    auto page = static_cast<SettingsPageId>(index);
    pages_[Slot(page)] = BuildSettingsPage(page, editor_);
    stack_->addWidget(pages_[Slot(page)]);
  }

  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
  ok->setObjectName(QStringLiteral("OK"));
  ok->setText(QStringLiteral("OK"));
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  cancel->setObjectName(QStringLiteral("Cancel"));
  cancel->setText(QStringLiteral("キャンセル"));
  for (QPushButton* button : {ok, cancel}) button->setAccessibleName(button->text());
  connect(ok, &QPushButton::clicked, this, &SettingsDialog::Ok);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* pageArea = new QVBoxLayout;
  pageArea->addWidget(title_);
  pageArea->addWidget(stack_, 1);
  auto* body = new QHBoxLayout;
  body->addWidget(tree_);
  body->addLayout(pageArea, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body, 1);
  layout->addWidget(buttons);

  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item, QTreeWidgetItem*) { PageChosen(item); });
  ShowPage(firstPage);
  tree_->setFocus();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::ShowPage(SettingsPageId page) {
  QTreeWidgetItem* item = items_[Slot(page)];
  tree_->setCurrentItem(item);
  tree_->scrollToItem(item);
  PageChosen(item);
}

void SettingsDialog::PageChosen(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  current_ = static_cast<SettingsPageId>(item->data(0, Qt::UserRole).toInt());
  title_->setText(QStringLiteral("  ") + item->text(0));
  title_->setAccessibleName(item->text(0));
  stack_->setCurrentWidget(pages_[Slot(current_)]);
}

void SettingsDialog::Ok() {
  if (std::optional<SettingsEditor::Refusal> refusal = editor_.Accept(setting_)) {
    ShowPage(refusal->page);
    boxes_.Warning(this, ToQString(refusal->message));
    return;
  }
  accept();
}

}  // namespace tav
