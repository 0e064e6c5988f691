// vuvuveva: the desktop window. `vuvuveva [FILE.brk]` shows the saved tree at start.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/backend/dialog_credential_prompt.h"
#include "app/backend/kerberos_choice.h"
#include "app/backend/session_backend.h"
#include "app/desktop/xdg_desktop.h"
#include "app/ui/main_dlg.h"
#include "app/ui/pictures.h"
#include "app/ui/texts.h"
#include "browse/recording_lister.h"
#include "index/index_path.h"
#include "index/index_writer.h"
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

  // Declared first, so it goes last: the session's workers may be asking it until the session
  // has ended.
  vuv::app::DialogCredentialPrompt prompt;
  vuv::session::SessionOptions options;
  options.workerArguments = vuv::app::kerberosWorkerArguments();
  auto session = vuv::session::Session::open(std::move(options), &prompt);
  if (!session) {
    QMessageBox::critical(nullptr, vuv::app::text::kAppName, QString::fromStdString(describe(session.error())));
    return 1;
  }
  // Every search records what it lists in the user's index of names; without one, it records
  // nothing. Declared before the backend, whose searches write to it until they end.
  std::unique_ptr<vuv::index::IndexWriter> index;
  if (auto path = vuv::index::defaultIndexPath(); path) {
    if (auto opened = vuv::index::IndexWriter::open(*path); opened) index = std::move(*opened);
    else std::fprintf(stderr, "vuvuveva: the index is not kept: %s\n", describe(opened.error()).c_str());
  }
  std::optional<vuv::RecordingLister> recording;
  if (index) recording.emplace((*session)->lister(), *index);
  vuv::DirectoryLister& lister = recording ? static_cast<vuv::DirectoryLister&>(*recording) : (*session)->lister();
  // Declared after the session and before the window: the window goes first, then the
  // backend's work (its stop ends any open password question), then the session with its
  // worker processes, then the prompt.
  vuv::app::SessionBackend backend((*session)->browse(), lister, (*session)->reader(), (*session)->executor());
  // Made early: it asks the desktop about smb:// handlers while the window comes up.
  vuv::app::XdgDesktop desktop;
  vuv::app::CMainDlg window(backend);
  backend.setRunStart([&session = **session] { session.startRun(); });
  prompt.setWindow(&window);
  window.setDesktop(desktop);
  // A bad file is reported in the window's error box once the event loop runs; the window
  // still opens, with an empty tree.
  if (!files.isEmpty()) window.openTreeFile(files.front());
  window.show();
  return QApplication::exec();
}
