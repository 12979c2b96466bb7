#pragma once
// The message boxes and the About box of the desktop window. The window and
// the shell show every box through this interface so that tests can answer
// the boxes without a user and without blocking.

#include <QString>

class QWidget;

namespace tav {

class BoxPresenter {
 public:
  virtual ~BoxPresenter() = default;

  // Warning icon, caption = the program title.
  virtual void Warning(QWidget* parent, const QString& text) = 0;
  // One OK button, no icon, with the given caption.
  virtual void Message(QWidget* parent, const QString& caption, const QString& text) = 0;
  // Information icon, caption = the program title.
  virtual void Information(QWidget* parent, const QString& text) = 0;
  // Question icon with Yes/No; true unless the answer is No.
  virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
  // The modal About box "バージョン情報".
  virtual void About(QWidget* parent) = 0;
};

// The real boxes: modal QMessageBox / AboutDialog on the GUI thread.
class MessageBoxPresenter : public BoxPresenter {
 public:
  void Warning(QWidget* parent, const QString& text) override;
  void Message(QWidget* parent, const QString& caption, const QString& text) override;
  void Information(QWidget* parent, const QString& text) override;
  bool AskYesNo(QWidget* parent, const QString& text) override;
  void About(QWidget* parent) override;
};

}  // namespace tav
