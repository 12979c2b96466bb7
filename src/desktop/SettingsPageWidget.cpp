#include "desktop/SettingsPageWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <algorithm>

#include "desktop/QtText.h"

namespace tav {
namespace {

template <typename Control>
Control* Named(Control* control, const char* name, const QString& label) {
  control->setObjectName(QString::fromLatin1(name));
  control->setAccessibleName(label);
  return control;
}

}  // namespace

SettingsPageWidget::SettingsPageWidget(QWidget* parent) : QWidget(parent) {}

void SettingsPageWidget::Reload() {
  reloading_ = true;
  for (const auto& reload : reloads_) reload();
  reloading_ = false;
  Changed();
}

void SettingsPageWidget::SetEnablingRule(std::function<void()> rule) { enabling_ = std::move(rule); }

void SettingsPageWidget::AddReload(std::function<void()> reload) { reloads_.push_back(std::move(reload)); }

void SettingsPageWidget::Changed() {
  if (!reloading_ && enabling_) enabling_();
}

QCheckBox* SettingsPageWidget::Check(const QString& text, const char* name, bool& field) {
  auto* box = Named(new QCheckBox(text), name, text);
  connect(box, &QCheckBox::toggled, this, [this, &field](bool checked) {
    field = checked;
    Changed();
  });
  reloads_.push_back([box, &field] { box->setChecked(field); });
  return box;
}

QCheckBox* SettingsPageWidget::Check(const QString& text, const char* name, int& flag) {
  auto* box = Named(new QCheckBox(text), name, text);
  connect(box, &QCheckBox::toggled, this, [this, &flag](bool checked) {
    flag = checked ? 1 : 0;
    Changed();
  });
  reloads_.push_back([box, &flag] {
    // An unchanged box keeps the stored value as it is.
    const int kept = flag;
    box->setChecked(kept != 0);
    flag = kept;
  });
  return box;
}

QLineEdit* SettingsPageWidget::Edit(const QString& label, const char* name, std::u16string& field,
                                    int maxLength) {
  auto* edit = Named(new QLineEdit, name, label);
  if (maxLength > 0) edit->setMaxLength(maxLength);
  connect(edit, &QLineEdit::textChanged, this, [this, &field](const QString& text) {
    field = ToU16(text);
    Changed();
  });
  reloads_.push_back([edit, &field] { edit->setText(ToQString(field)); });
  return edit;
}

QLineEdit* SettingsPageWidget::Edit(const QString& label, const char* name, CDoubleString& field,
                                    int maxLength) {
  auto* edit = Named(new QLineEdit, name, label);
  if (maxLength > 0) edit->setMaxLength(maxLength);
  connect(edit, &QLineEdit::textChanged, this, [this, &field](const QString& text) {
    if (ToU16(text) != field.Wide()) field.SetWide(ToU16(text));
    Changed();
  });
  reloads_.push_back([edit, &field] { edit->setText(ToQString(field.Wide())); });
  return edit;
}

QSpinBox* SettingsPageWidget::Spin(const QString& label, const char* name, int low, int high, int& field) {
  auto* spin = Named(new QSpinBox, name, label);
  connect(spin, &QSpinBox::valueChanged, this, [this, &field](int value) {
    field = value;
    Changed();
  });
  reloads_.push_back([spin, low, high, &field] {
    const int value = field;
    spin->setRange(std::min(low, value), std::max(high, value));
    spin->setValue(value);
  });
  return spin;
}

QRadioButton* SettingsPageWidget::Radio(const QString& text, const char* name, int& field, int value) {
  auto* radio = Named(new QRadioButton(text), name, text);
  connect(radio, &QRadioButton::toggled, this, [this, &field, value](bool checked) {
    if (!checked) return;
    field = value;
    Changed();
  });
  reloads_.push_back([radio, &field, value] {
    // Radios of one group uncheck each other; none is checked for a stored
    // value that has no radio.
    radio->setAutoExclusive(false);
    radio->setChecked(field == value);
    radio->setAutoExclusive(true);
  });
  return radio;
}

QComboBox* SettingsPageWidget::Choice(const QString& label, const char* name, const QStringList& entries,
                                      int& field) {
  auto* combo = Named(new QComboBox, name, label);
  combo->addItems(entries);
  connect(combo, &QComboBox::currentIndexChanged, this, [this, &field](int index) {
    if (index < 0) return;  // cleared for a value outside the list: kept
    field = index;
    Changed();
  });
  reloads_.push_back([combo, &field] {
    const int value = field;
    combo->setCurrentIndex(value >= 0 && value < combo->count() ? value : -1);
  });
  return combo;
}

QPushButton* SettingsPageWidget::Button(const QString& text, const char* name,
                                        std::function<void()> clicked) {
  auto* button = Named(new QPushButton(text), name, text);
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this, [clicked = std::move(clicked)] { clicked(); });
  return button;
}

}  // namespace tav
