// The window with the real session on the test network, offscreen: the share that refuses
// guests reached through the password dialog (and not asked again once remembered), and no
// question for a denied folder in a share open to guests.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <cstdlib>

#include "app/backend/dialog_credential_prompt.h"
#include "app/backend/session_backend.h"
#include "app/ui/password_dlg.h"
#include "session/session.h"
#include "window_rig.h"

namespace vuv::app::test {

namespace {

QString environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) qFatal("%s is not set: run inside the test network (testnet.sh exec)", name);
  return QString::fromLocal8Bit(value);
}

// The window on a real session, with the password dialog; torn down in main.cpp's order.
struct RealWindow {
  DialogCredentialPrompt prompt;
  std::unique_ptr<session::Session> session;
  std::unique_ptr<SessionBackend> backend;
  std::unique_ptr<WindowRig> rig;

  explicit RealWindow(session::SessionOptions options = {}) {
    auto opened = session::Session::open(std::move(options), &prompt);
    if (!opened) qFatal("no session: %s", describe(opened.error()).c_str());
    session = std::move(*opened);
    backend = std::make_unique<SessionBackend>(session->browse(), session->lister(), session->reader(),
                                               session->executor());
    rig = std::make_unique<WindowRig>(backend.get());
    prompt.setWindow(&rig->window);
  }
  ~RealWindow() {
    rig.reset();
    backend.reset();
    session.reset();
  }

  // Searches *.* where the window looks; returns the rows' paths once the finish box came.
  QStringList search() {
    rig->child<QLineEdit>("patternEdit")->setText("*.*");
    rig->child<QPushButton>("searchButton")->click();
    if (!QTest::qWaitFor([&] { return !takeBoxes(&rig->window).empty(); }, 60000)) qFatal("no search finish box");
    QStringList rows;
    for (int row = 0; row < rig->list()->model()->rowCount(); ++row) {
      rows << rig->list()->model()->index(row, 0).data().toString();
    }
    return rows;
  }
};

}  // namespace

class WindowNetworkDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void privateShareThroughThePasswordDialog() {
    QTemporaryDir dir;
    const QString saved = dir.filePath("s2.brk");
    writeFile(saved, "2ALPHA\n1S1\n0Public\n1S2\n0Private\n");
    RealWindow real;
    QStringList asked;
    QObject::connect(&real.prompt, &DialogCredentialPrompt::dialogShown, [&](CPasswordDlg* dialog) {
      asked << dialog->findChild<QLabel*>("passwordMessage")->text();
      QTest::keyClicks(dialog->findChild<QLineEdit*>("userEdit"), environment("VUV_NET_USER"));
      QTest::keyClicks(dialog->findChild<QLineEdit*>("passwordEdit"), environment("VUV_NET_PASSWORD"));
      dialog->findChild<QPushButton*>("passwordOk")->click();
    });
    QVERIFY(real.rig->window.openTreeFile(saved));
    // A folder a guest may not open in a share open to guests is that folder's business: no
    // question, the folder is skipped.
    real.rig->select("Public");
    QVERIFY(real.search().contains("\\\\S1\\Public\\readme.txt"));
    QCOMPARE(asked.size(), 0);

    real.rig->select("Private");
    QStringList rows = real.search();
    QCOMPARE(rows, QStringList{"\\\\S2\\Private\\salaries.xls"});
    QCOMPARE(asked.size(), 1);
    QVERIFY2(asked[0].startsWith("\\\\S2"), qPrintable(asked[0]));

    // Remembered for the session: the next search asks nobody.
    rows = real.search();
    QCOMPARE(rows, QStringList{"\\\\S2\\Private\\salaries.xls"});
    QCOMPARE(asked.size(), 1);
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::WindowNetworkDialogsTest)
#include "window_network_dialogs_test.moc"
