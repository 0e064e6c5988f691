#include "app/ui/notice.h"

#include "app/ui/texts.h"

namespace vuv::app {
namespace {

void show(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
          const QString& details) {
  auto* box = new QMessageBox(icon, caption, text, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Texts carry names from the network: a name must never render as markup or a link.
  box->setTextFormat(Qt::PlainText);
  if (!details.isEmpty()) box->setDetailedText(details);
  box->open();
}

}  // namespace

void showInformation(QWidget* parent, const QString& text, const QString& details) {
  show(parent, QMessageBox::Information, text::kAppName, text, details);
}

void showError(QWidget* parent, const QString& text, const QString& details) {
  show(parent, QMessageBox::Critical, text::kErrorCaption, text, details);
}

}  // namespace vuv::app
