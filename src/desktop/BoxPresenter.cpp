#include "desktop/BoxPresenter.h"

#include <QMessageBox>

#include "desktop/AboutDialog.h"
#include "desktop/QtText.h"

namespace tav {
namespace {

// A box that stays on top of an always-on-top main window, and centred on
// the screen when the main window is hidden in the tray.
int RunBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
  QWidget* owner = parent != nullptr && parent->isVisible() ? parent : nullptr;
  QMessageBox box(icon, caption, text, buttons, owner);
  box.setDefaultButton(defaultButton);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec();
}

}  // namespace

void MessageBoxPresenter::Warning(QWidget* parent, const QString& text) {
  RunBox(parent, QMessageBox::Warning, ProgramTitle(), text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBoxPresenter::Message(QWidget* parent, const QString& caption, const QString& text) {
  RunBox(parent, QMessageBox::NoIcon, caption, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBoxPresenter::Information(QWidget* parent, const QString& text) {
  RunBox(parent, QMessageBox::Information, ProgramTitle(), text, QMessageBox::Ok, QMessageBox::Ok);
}

bool MessageBoxPresenter::AskYesNo(QWidget* parent, const QString& text) {
  return RunBox(parent, QMessageBox::Question, ProgramTitle(), text, QMessageBox::Yes | QMessageBox::No,
                QMessageBox::Yes) != QMessageBox::No;
}

void MessageBoxPresenter::About(QWidget* parent) {
  AboutDialog dialog(parent);
  dialog.exec();
}

}  // namespace tav
