// The About box: the application icon, the name with its version, and OK. Opened anew, modal,
// each time; OK, Enter, Esc and the close box all just close it. GUI thread only.
#pragma once

#include <QDialog>

namespace vuv::app {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace vuv::app
