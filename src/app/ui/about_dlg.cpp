#include "app/ui/about_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "app/ui/dialog_units.h"
#include "app/ui/pictures.h"
#include "app/ui/texts.h"

#ifndef VUV_VERSION
#define VUV_VERSION "0"
#endif

namespace vuv::app {
namespace {
constexpr int kIconPixels = 32;
}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(text::kAboutCaption);
  const DialogUnits du(font());

  auto* icon = new QLabel(this);
  icon->setObjectName("aboutIcon");
  icon->setAccessibleName("Vuvuveva icon");
  icon->setPixmap(picture(Picture::AppIcon).pixmap(kIconPixels, kIconPixels));
  icon->setGeometry(du.x(7), du.y(15), std::max(du.x(21), kIconPixels),
                    std::max(du.y(20), kIconPixels));

  // Plain text: an ampersand in the name shows as itself.
  auto* name = new QLabel(this);
  name->setObjectName("aboutText");
  name->setTextFormat(Qt::PlainText);
  name->setText(QStringLiteral("%1 Version %2").arg(text::kAppName, VUV_VERSION));
  name->setAccessibleName(name->text());
  name->setGeometry(du.rect(40, 10, 119, 8 + 2));

  auto* ok = new QPushButton(text::kOkButton, this);
  ok->setObjectName("aboutOk");
  ok->setAccessibleName(text::kOkButton);
  ok->setDefault(true);
  ok->setGeometry(du.rect(57, 52, 50, 14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  setFixedSize(du.size(166, 73));
}

}  // namespace vuv::app
