// vuvuveva: the desktop window. `vuvuveva [FILE.brk]` shows the saved tree at start.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstdio>

#include "app/backend/session_backend.h"
#include "app/ui/main_dlg.h"
#include "app/ui/pictures.h"
#include "app/ui/texts.h"
#include "session/session.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(vuv::app::text::kAppName);
  QApplication::setApplicationVersion(VUV_VERSION);
  QApplication::setWindowIcon(vuv::app::picture(vuv::app::Picture::AppIcon));

  QCommandLineParser parser;
  parser.setApplicationDescription("Map the Windows network and find files on its shares.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("file", "A tree file (.brk) to show instead of an empty tree.", "[FILE.brk]");
  parser.process(app);  // --help, --version and unknown options end here
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) {
    std::fputs("vuvuveva: give at most one tree file\n", stderr);
    return 2;
  }

  // No password dialog yet: servers that refuse a guest fail with access denied.
  auto session = vuv::session::Session::open(vuv::session::SessionOptions{}, nullptr);
  if (!session) {
    QMessageBox::critical(nullptr, vuv::app::text::kAppName, QString::fromStdString(describe(session.error())));
    return 1;
  }
  // Declared after the session and before the window: the window goes first, then the
  // backend's work, then the session with its worker processes.
  vuv::app::SessionBackend backend((*session)->browse(), (*session)->lister(), (*session)->reader(),
                                   (*session)->executor());
  vuv::app::CMainDlg window(backend);
  // A bad file is reported in the window's error box once the event loop runs; the window
  // still opens, with an empty tree.
  if (!files.isEmpty()) backend.loadTree(files.front().toStdString());
  window.show();
  return QApplication::exec();
}
