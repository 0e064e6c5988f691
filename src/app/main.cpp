// vuvuveva: the desktop window. `vuvuveva [FILE.brk]` shows the saved tree at start.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/backend/dialog_credential_prompt.h"
#include "app/backend/kerberos_choice.h"
#include "app/backend/session_backend.h"
#include "app/desktop/xdg_desktop.h"
#include "app/ui/main_dlg.h"
#include "app/ui/pictures.h"
#include "app/ui/texts.h"
#include "index/index_path.h"
#include "index/index_writer.h"
#include "platform/core_dumps.h"
#include "session/use_cases.h"

namespace {

void describeOptions(QCommandLineParser& parser) {
  parser.setApplicationDescription("Map the Windows network and find files on its shares.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("file", "A tree file (.brk) to show instead of an empty tree.", "[FILE.brk]");
}

// --help and --version need no display: they are answered by a core application, before the
// window's application (which opens one) exists. Other arguments wait for that one: it takes
// Qt's own options out first.
void answerWithoutDisplay(int argc, char** argv) {
  bool asked = false;
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
      if (std::strcmp(argv[i], option) == 0) asked = true;
    }
  }
  if (!asked) return;
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  describeOptions(parser);
  parser.process(app);  // answers and ends the program
}

}  // namespace

int main(int argc, char** argv) {
  // Before the password dialog can be answered; no window exists yet to show a failure in.
  if (const int error = vuv::forbidCoreDumps(); error != 0) {
    std::fprintf(stderr, "vuvuveva: turning core dumps off: %s\n",
                 describe(vuv::makeError(vuv::ErrorCode::Other, {}, error)).c_str());
    return 1;
  }
  QCoreApplication::setApplicationName(vuv::app::text::kAppName);
  QCoreApplication::setApplicationVersion(VUV_VERSION);
  answerWithoutDisplay(argc, argv);

  QApplication app(argc, argv);
  QApplication::setWindowIcon(vuv::app::picture(vuv::app::Picture::AppIcon));
  QCommandLineParser parser;
  describeOptions(parser);
  parser.process(app);  // unknown options end here
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) {
    std::fputs("vuvuveva: give at most one tree file\n", stderr);
    return 2;
  }

  // Declared first, so it goes last: the session's workers may be asking it until the session
  // has ended.
  vuv::app::DialogCredentialPrompt prompt;
  vuv::session::SessionOptions options;
  options.worker.kerberos = vuv::app::kerberosChoice();
  auto session = vuv::session::UseCases::open(std::move(options), &prompt);
  if (!session) {
    QMessageBox::critical(nullptr, vuv::app::text::kAppName, QString::fromStdString(describe(session.error())));
    return 1;
  }
  // Every search records what it lists in the user's index of names; without one, it records
  // nothing. Declared before the backend, whose searches write to it until they end.
  std::unique_ptr<vuv::index::IndexWriter> index;
  vuv::app::IndexUse indexUse;
  if (auto path = vuv::index::defaultIndexPath(); path) {
    if (auto opened = vuv::index::IndexWriter::open(*path); opened) {
      index = std::move(*opened);
      indexUse = {*path, index.get()};
    } else {
      std::fprintf(stderr, "vuvuveva: the index is not kept: %s\n", describe(opened.error()).c_str());
    }
  }
  // Declared after the session and before the window: the window goes first, then the
  // backend's work (its stop ends any open password question), then the session with its
  // worker processes, then the prompt.
  vuv::app::SessionBackend backend(**session, {}, std::move(indexUse));
  // Made early: it asks the desktop about smb:// handlers while the window comes up.
  vuv::app::XdgDesktop desktop;
  vuv::app::CMainDlg window(backend);
  prompt.setWindow(&window);
  window.setDesktop(desktop);
  // A bad file is reported in the window's error box once the event loop runs; the window
  // still opens, with an empty tree.
  if (!files.isEmpty()) window.openTreeFile(files.front());
  window.show();
  return QApplication::exec();
}
