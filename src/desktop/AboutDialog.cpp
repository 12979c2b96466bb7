#include "desktop/AboutDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "desktop/QtText.h"
#include "desktop/ShellImages.h"

namespace tav {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("バージョン情報"));
  setObjectName(QStringLiteral("AboutDialog"));
  ShellImages images = ShellImages::BuiltIn();
  setWindowIcon(images.programIcon);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("AboutIcon"));
  icon->setPixmap(images.programIcon.pixmap(32, 32));
  icon->setAccessibleName(QStringLiteral("プログラムのアイコン"));

  auto* title = new QLabel(ProgramTitle(), this);
  title->setObjectName(QStringLiteral("AboutTitle"));
  auto* detail = new QLabel(QStringLiteral("2ch専用ブラウザのためのローカルプロキシ"), this);
  detail->setObjectName(QStringLiteral("AboutDetail"));

  auto* texts = new QVBoxLayout;
  texts->addWidget(title);
  texts->addWidget(detail);
  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addSpacing(12);
  row->addLayout(texts, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace tav
