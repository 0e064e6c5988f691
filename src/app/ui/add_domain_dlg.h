// The Add domain dialog: one edit box for the name of a domain or workgroup, and OK. No Cancel
// button: Esc and the close box cancel. Enter in the edit box is OK (the default button).
// Opened anew, modal, for each command. GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace vuv::app {

class CAddDomainDlg : public QDialog {
  Q_OBJECT

 public:
  // The longest name kept; longer typed text is cut to it.
  static constexpr int kMaxNameLength = 254;

  explicit CAddDomainDlg(QWidget* parent = nullptr);

  // What was typed when OK ended the dialog; empty before that.
  const QString& domainName() const { return m_domainName; }

  void accept() override;

 private:
  QPushButton* m_okButton = nullptr;
  QLineEdit* m_domainEdit = nullptr;
  QString m_domainName;
};

}  // namespace vuv::app
