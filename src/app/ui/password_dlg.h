// The password dialog: asked when a server or share refuses guest access. User, password
// (never shown) and domain, "Remember for this session", OK and Cancel. OK needs a user name.
//
// The password stays in its field only while the dialog is open: takeAnswer() empties the
// field, and so does every way the dialog ends. GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

#include "browse/credentials.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace vuv::app {

class CPasswordDlg : public QDialog {
  Q_OBJECT

 public:
  // `where`: \\server or \\server\share, as shown to the user; `reason`: why it is asked.
  CPasswordDlg(const QString& where, LogOnReason reason, QWidget* parent = nullptr);

  // What was typed, and the check box; empties the password field. Call before the dialog
  // has ended (from its finished signal at the latest).
  CredentialAnswer takeAnswer();

  void done(int result) override;

 private:
  QLineEdit* m_userEdit = nullptr;
  QLineEdit* m_passwordEdit = nullptr;
  QLineEdit* m_domainEdit = nullptr;
  QCheckBox* m_remember = nullptr;
  QPushButton* m_okButton = nullptr;
};

}  // namespace vuv::app
