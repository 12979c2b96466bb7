#pragma once
// The modeless dialog "ftpバグ設定": a working copy of the FTPBug list to
// edit, and the scan that finds the posts breaking one thread's page. It is
// created hidden with the main window; Open() fills and shows it. OK copies
// the working list into the settings; キャンセル discards it, or, while a
// scan runs, only asks the scan to stop and keeps the dialog open.

#include <QDialog>
#include <memory>
#include <vector>

#include "config/SettingValues.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace tav {

class CSetting;
class FtpBugScan;

class FtpBugDialog : public QDialog {
  Q_OBJECT
 public:
  explicit FtpBugDialog(CSetting& setting, QWidget* parent = nullptr);
  ~FtpBugDialog() override;

  // Copies the settings' list into the working list, fills server, board
  // and thread (each cut to 259 characters), empties the post numbers and
  // the status line, and brings the dialog to the front.
  void Open(const QString& server, const QString& board, const QString& thread);

  bool Scanning() const { return scanning_; }
  const std::vector<FtpBugEntry>& WorkingList() const { return working_; }

 public slots:
  void accept() override;  // OK
  void reject() override;  // キャンセル, Escape and closing the window

 private:
  class ScanBridge;

  void Register();
  void DeleteSelected();
  void MoveSelected(int step);
  void Search();
  void FillFromSelection();
  void RefreshList();
  int SelectedRow() const;
  void SetScanning(bool scanning);

  CSetting& setting_;
  std::vector<FtpBugEntry> working_;
  bool scanning_ = false;

  QTableWidget* list_ = nullptr;
  QLineEdit* server_ = nullptr;
  QLineEdit* board_ = nullptr;
  QLineEdit* thread_ = nullptr;
  QLineEdit* posts_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* register_ = nullptr;
  QPushButton* search_ = nullptr;
  QPushButton* ok_ = nullptr;

  std::unique_ptr<ScanBridge> bridge_;
  std::unique_ptr<FtpBugScan> scan_;  // ends before the bridge it reports to
};

}  // namespace tav
