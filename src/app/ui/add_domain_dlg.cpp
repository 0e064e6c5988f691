#include "app/ui/add_domain_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/ui/dialog_units.h"
#include "app/ui/texts.h"

namespace vuv::app {
namespace {

// The first `length` UTF-16 units, without a lone high surrogate at the cut.
QString cutTo(const QString& text, int length) {
  if (text.size() <= length) return text;
  if (text.at(length - 1).isHighSurrogate()) --length;
  return text.left(length);
}

}  // namespace

CAddDomainDlg::CAddDomainDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(text::kAddDomainCaption);
  const DialogUnits du(font());

  // Created in layout order, which is the tab order.
  m_okButton = new QPushButton(text::kOkButton, this);
  m_okButton->setObjectName("addDomainOk");
  m_okButton->setAccessibleName(text::kOkButton);
  m_okButton->setDefault(true);
  m_okButton->setGeometry(du.rect(129, 17, 50, 14));
  connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);

  m_domainEdit = new QLineEdit(this);
  m_domainEdit->setObjectName("domainEdit");
  m_domainEdit->setAccessibleName(text::kDomainEditName);
  m_domainEdit->setMaxLength(kMaxNameLength);
  m_domainEdit->setGeometry(du.rect(7, 18, 121, 14));

  auto* label = new QLabel(text::kDomainLabel, this);
  label->setObjectName("domainLabel");
  label->setAccessibleName(text::kDomainLabel);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setBuddy(m_domainEdit);
  label->setGeometry(du.rect(7, 7, 63, 8));

  setFixedSize(du.size(186, 39));
  m_okButton->setFocus();
}

void CAddDomainDlg::accept() {
  // setMaxLength already limits typing; pasted or set text is cut here all the same.
  m_domainName = cutTo(m_domainEdit->text(), kMaxNameLength);
  QDialog::accept();
}

}  // namespace vuv::app
