#pragma once
// One page of the settings dialog: controls bound to the fields of the
// page's model. A control writes its field on every change; Reload() shows
// the fields again (after a list command changed them) and every change
// re-applies the page's enabling rule. Each control is named after its
// setting (objectName) and carries its label text as its accessible name.

#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "platform/CDoubleString.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace tav {

class SettingsPageWidget : public QWidget {
 public:
  explicit SettingsPageWidget(QWidget* parent = nullptr);

  // Every bound control shows its field again, then the enabling rule runs.
  void Reload();
  // Runs after every change of a bound control and after Reload().
  void SetEnablingRule(std::function<void()> rule);
  // Runs first on Reload(), for controls the page fills itself (lists).
  void AddReload(std::function<void()> reload);

  QCheckBox* Check(const QString& text, const char* name, bool& field);
  QCheckBox* Check(const QString& text, const char* name, int& flag);
  QLineEdit* Edit(const QString& label, const char* name, std::u16string& field, int maxLength = 0);
  QLineEdit* Edit(const QString& label, const char* name, CDoubleString& field, int maxLength = 0);
  // The range takes in a stored value outside it, so that it is kept.
  QSpinBox* Spin(const QString& label, const char* name, int low, int high, int& field);
  // Checked while `field` is `value`; checking it sets `field`.
  QRadioButton* Radio(const QString& text, const char* name, int& field, int value);
  // The entry `field` is chosen (none for a value outside the list).
  QComboBox* Choice(const QString& label, const char* name, const QStringList& entries, int& field);
  QPushButton* Button(const QString& text, const char* name, std::function<void()> clicked);

  // Runs the enabling rule.
  void Changed();

 private:
  std::vector<std::function<void()>> reloads_;
  std::function<void()> enabling_;
  bool reloading_ = false;
};

}  // namespace tav
