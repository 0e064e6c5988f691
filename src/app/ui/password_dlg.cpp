#include "app/ui/password_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui/texts.h"
#include "base/secret.h"

namespace vuv::app {

CPasswordDlg::CPasswordDlg(const QString& where, LogOnReason reason, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(text::kPasswordCaption);

  // The window's session logs on as a guest: GivenLogOnRefused does not come here.
  const char* const format =
      reason == LogOnReason::ServerLogOnRefused ? text::kSharePasswordMessage : text::kPasswordMessage;
  auto* message = new QLabel(QString(format).arg(where), this);
  message->setObjectName("passwordMessage");
  message->setTextFormat(Qt::PlainText);  // a share name is not markup
  message->setWordWrap(true);
  message->setAccessibleName(message->text());

  const auto edit = [this](const char* objectName, const char* accessibleName) {
    auto* line = new QLineEdit(this);
    line->setObjectName(objectName);
    line->setAccessibleName(accessibleName);
    line->setMaxLength(text::kCredentialMaxLength);
    return line;
  };
  m_userEdit = edit("userEdit", text::kUserName);
  m_passwordEdit = edit("passwordEdit", text::kPasswordName);
  m_passwordEdit->setEchoMode(QLineEdit::Password);
  m_domainEdit = edit("domainEdit", text::kDomainName);

  m_remember = new QCheckBox(text::kRememberBox, this);
  m_remember->setObjectName("rememberBox");
  m_remember->setAccessibleName(text::kRememberBox);
  m_remember->setChecked(true);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("passwordButtons");
  m_okButton = buttons->button(QDialogButtonBox::Ok);
  m_okButton->setObjectName("passwordOk");
  m_okButton->setText(text::kOkButton);
  m_okButton->setAccessibleName(text::kOkButton);
  m_okButton->setEnabled(false);
  QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
  cancel->setObjectName("passwordCancel");
  cancel->setText(text::kCancelButton);
  cancel->setAccessibleName(text::kCancelButton);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // Without a user name the answer would be guest access again, which was just refused.
  connect(m_userEdit, &QLineEdit::textChanged, this,
          [this](const QString& user) { m_okButton->setEnabled(!user.isEmpty()); });

  auto* form = new QFormLayout;
  form->addRow(text::kUserLabel, m_userEdit);
  form->addRow(text::kPasswordLabel, m_passwordEdit);
  form->addRow(text::kDomainLabelText, m_domainEdit);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(message);
  layout->addLayout(form);
  layout->addWidget(m_remember);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  m_userEdit->setFocus();
}

CredentialAnswer CPasswordDlg::takeAnswer() {
  CredentialAnswer answer;
  answer.credentials.user = m_userEdit->text().toStdString();
  QString password = m_passwordEdit->text();
  m_passwordEdit->setText({});  // clear() would keep the typing in the undo history
  QByteArray utf8 = password.toUtf8();
  answer.credentials.password.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  // The last holders of the password: overwritten before they are freed.
  wipeSecret(reinterpret_cast<char*>(password.data()), static_cast<std::size_t>(password.size()) * sizeof(QChar));
  wipeSecret(utf8.data(), static_cast<std::size_t>(utf8.size()));
  answer.credentials.domain = m_domainEdit->text().toStdString();
  answer.remember = m_remember->isChecked();
  return answer;
}

void CPasswordDlg::done(int result) {
  QDialog::done(result);  // emits finished, where the answer is taken
  m_passwordEdit->setText({});
}

}  // namespace vuv::app
