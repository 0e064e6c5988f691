// vuvuveva: the desktop window.
#include <QApplication>
#include <QMessageBox>

#include "app/backend/session_backend.h"
#include "app/ui/main_dlg.h"
#include "app/ui/pictures.h"
#include "app/ui/texts.h"
#include "session/session.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(vuv::app::text::kAppName);
  QApplication::setWindowIcon(vuv::app::picture(vuv::app::Picture::AppIcon));

  // No password dialog yet: servers that refuse a guest fail with access denied.
  auto session = vuv::session::Session::open(vuv::session::SessionOptions{}, nullptr);
  if (!session) {
    QMessageBox::critical(nullptr, vuv::app::text::kAppName, QString::fromStdString(describe(session.error())));
    return 1;
  }
  // Declared after the session and before the window: the window goes first, then the
  // backend's work, then the session with its worker processes.
  vuv::app::SessionBackend backend((*session)->browse(), (*session)->lister(), (*session)->executor());
  vuv::app::CMainDlg window(backend);
  window.show();
  return QApplication::exec();
}
