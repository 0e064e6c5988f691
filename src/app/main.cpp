// vuvuveva: the desktop window.
#include <QApplication>

#include "app/backend/no_network_backend.h"
#include "app/ui/main_dlg.h"
#include "app/ui/pictures.h"
#include "app/ui/texts.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(vuv::app::text::kAppName);
  QApplication::setWindowIcon(vuv::app::picture(vuv::app::Picture::AppIcon));

  vuv::app::NoNetworkBackend backend;
  vuv::app::CMainDlg window(backend);
  window.show();
  return QApplication::exec();
}
