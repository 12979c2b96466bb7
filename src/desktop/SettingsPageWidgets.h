#pragma once
// The widgets of the settings pages, one per page, over the pages' models.

#include <QString>
#include <memory>

#include "shell/SettingsEditor.h"

class QFileDialog;
class QWidget;

namespace tav {

class SettingsPageWidget;

// The page `page`, showing the fields of `editor` (which outlives it).
SettingsPageWidget* BuildSettingsPage(SettingsPageId page, SettingsEditor& editor, QWidget* parent = nullptr);

// The pickers of the JaneStyle page, starting from the folder of `current`.
std::unique_ptr<QFileDialog> JaneStyleExePicker(QWidget* parent, const QString& current);
std::unique_ptr<QFileDialog> LogsFolderPicker(QWidget* parent, const QString& current);

}  // namespace tav
