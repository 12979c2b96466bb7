#pragma once
// The modal dialog "設定": the page tree, the title line in the highlight
// colours, the page area and OK / "キャンセル". OK stores every page into the
// settings (a refused value keeps the dialog open on its page); Cancel and
// closing the frame change nothing.

#include <QDialog>
#include <array>

#include "shell/SettingsEditor.h"

class QLabel;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace tav {

class BoxPresenter;
class CSetting;
class SettingsPageWidget;

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // Opens on `firstPage`; `boxes` shows the message for a refused value.
  SettingsDialog(CSetting& setting, BoxPresenter& boxes, SettingsPageId firstPage, QWidget* parent = nullptr,
                 SettingsServices services = {});
  ~SettingsDialog() override;

  // Shows `page` and selects its tree item.
  void ShowPage(SettingsPageId page);
  SettingsPageId CurrentPage() const { return current_; }

  QTreeWidget* Tree() const { return tree_; }
  QLabel* TitleLine() const { return title_; }
  SettingsPageWidget* Page(SettingsPageId page) const { return pages_[static_cast<std::size_t>(page)]; }
  SettingsEditor& Editor() { return editor_; }

  // The OK button: stores and closes, or tells why not and stays.
  void Ok();

 private:
  void PageChosen(QTreeWidgetItem* item);

  CSetting& setting_;
  BoxPresenter& boxes_;
  SettingsEditor editor_;
  QTreeWidget* tree_ = nullptr;
  QLabel* title_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  std::array<SettingsPageWidget*, kSettingsPageCount> pages_{};
  std::array<QTreeWidgetItem*, kSettingsPageCount> items_{};
  SettingsPageId current_ = SettingsPageId::Basic;
};

}  // namespace tav
