#pragma once
// The About box "バージョン情報": the program icon, the title line and OK.

#include <QDialog>

namespace tav {

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace tav
