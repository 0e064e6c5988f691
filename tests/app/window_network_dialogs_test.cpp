// The window with the real session on the test network, offscreen: the share that refuses
// guests reached through the password dialog (and not asked again once remembered), no
// question for a denied folder in a share open to guests, a domain share reached with a
// Kerberos ticket, and a
// discovered tree saved and loaded back through the window's file commands.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <cstdlib>

#include "app/backend/dialog_credential_prompt.h"
#include "app/backend/kerberos_choice.h"
#include "app/backend/session_backend.h"
#include "app/network/network_tree_model.h"
#include "app/results/result_model.h"
#include "app/ui/command_ids.h"
#include "app/ui/file_chooser.h"
#include "app/ui/main_dlg.h"
#include "app/ui/password_dlg.h"
#include "session/session.h"

namespace vuv::app::test {

namespace {

// Presses OK on every message box (never on a password dialog) and keeps their texts.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || box->button(QMessageBox::Ok) == nullptr) return;
      texts << box->text();
      box->button(QMessageBox::Ok)->click();
    });
    timer_.start();
  }
  QStringList texts;

 private:
  QTimer timer_;
};

class OneFileChooser final : public FileChooser {
 public:
  std::optional<QString> choose(QWidget*, const FileRequest&) override { return path; }
  QString path;
};

QByteArray contentsOf(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

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
  std::unique_ptr<CMainDlg> window;
  OneFileChooser chooser;

  explicit RealWindow(session::SessionOptions options = {}) {
    auto opened = session::Session::open(std::move(options), &prompt);
    if (!opened) qFatal("no session: %s", describe(opened.error()).c_str());
    session = std::move(*opened);
    backend = std::make_unique<SessionBackend>(session->browse(), session->lister(), session->reader(),
                                               session->executor());
    window = std::make_unique<CMainDlg>(*backend);
    window->setFileChooser(&chooser);
    prompt.setWindow(window.get());
    window->show();
  }
  ~RealWindow() {
    window.reset();
    backend.reset();
    session.reset();
  }

  void select(const QString& text) {
    auto* tree = window->findChild<QTreeView*>("tree");
    window->treeModel().applyPendingEvents();
    tree->expandAll();
    const QModelIndexList found = window->treeModel().match(window->treeModel().index(0, 0), Qt::DisplayRole, text, 1,
                                                            Qt::MatchExactly | Qt::MatchRecursive);
    if (found.isEmpty()) qFatal("no node %s", qPrintable(text));
    tree->setCurrentIndex(found.front());
  }

  // Searches *.* where the window looks; returns the rows' paths once the finish box came.
  QStringList search(BoxAnswerer& boxes) {
    window->findChild<QLineEdit*>("patternEdit")->setText("*.*");
    const qsizetype before = boxes.texts.size();
    window->findChild<QPushButton*>("searchButton")->click();
    if (!QTest::qWaitFor([&] { return boxes.texts.size() > before; }, 60000)) qFatal("no search finish box");
    QStringList rows;
    for (int row = 0; row < window->resultModel().rowCount(); ++row) {
      rows << QString::fromStdString(window->resultModel().rowAt(row).path);
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
    {
      QFile file(saved);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("2ALPHA\n1S1\n0Public\n1S2\n0Private\n");
    }
    RealWindow real;
    QStringList asked;
    QObject::connect(&real.prompt, &DialogCredentialPrompt::dialogShown, [&](CPasswordDlg* dialog) {
      asked << dialog->findChild<QLabel*>("passwordMessage")->text();
      QTest::keyClicks(dialog->findChild<QLineEdit*>("userEdit"), environment("VUV_NET_USER"));
      QTest::keyClicks(dialog->findChild<QLineEdit*>("passwordEdit"), environment("VUV_NET_PASSWORD"));
      dialog->findChild<QPushButton*>("passwordOk")->click();
    });
    BoxAnswerer boxes;
    QVERIFY(real.window->openTreeFile(saved));
    // A folder a guest may not open in a share open to guests is that folder's business: no
    // question, the folder is skipped.
    real.select("Public");
    QVERIFY(real.search(boxes).contains("\\\\S1\\Public\\readme.txt"));
    QCOMPARE(asked.size(), 0);

    real.select("Private");
    QStringList rows = real.search(boxes);
    QCOMPARE(rows, QStringList{"\\\\S2\\Private\\salaries.xls"});
    QCOMPARE(asked.size(), 1);
    QVERIFY2(asked[0].startsWith("\\\\S2"), qPrintable(asked[0]));

    // Remembered for the session: the next search asks nobody.
    rows = real.search(boxes);
    QCOMPARE(rows, QStringList{"\\\\S2\\Private\\salaries.xls"});
    QCOMPARE(asked.size(), 1);
  }

  // Discover (declining the password for S2), save, load the file back and save again.
  void discoveredTreeSavedAndLoadedBack() {
    QTemporaryDir dir;
    RealWindow real;
    int declined = 0;
    QObject::connect(&real.prompt, &DialogCredentialPrompt::dialogShown, [&](CPasswordDlg* dialog) {
      ++declined;
      dialog->findChild<QPushButton*>("passwordCancel")->click();
    });
    BoxAnswerer boxes;
    real.window->OnCommand(ID_NETWORK_DISCOVER);
    QVERIFY(QTest::qWaitFor([&] { return boxes.texts.contains("Network tree updated"); }, 90000));
    QVERIFY(declined >= 1);

    real.chooser.path = dir.filePath("first.brk");
    real.window->OnCommand(ID_FILE_SAVE_TREE);
    const QByteArray first = contentsOf(real.chooser.path);
    QCOMPARE(first, contentsOf(VUV_EXPECTED_TREE_MODERN));

    real.window->OnCommand(ID_FILE_LOAD_TREE);
    QCOMPARE(real.window->selectedNode(), real.backend->tree().root());
    real.chooser.path = dir.filePath("second.brk");
    real.window->OnCommand(ID_FILE_SAVE_TREE);
    QCOMPARE(contentsOf(real.chooser.path), first);
    QVERIFY2(boxes.texts.size() == 2, qPrintable(boxes.texts.join('|')));  // nothing but Discover's
  }

  // With a ticket the window's workers log on with it: the domain controller, which refuses
  // NTLM, lists its share without a question. Needs the Kerberos domain (testnet.sh kdc-up).
  void kerberosTicketReachesTheDomainShareWithoutAQuestion() {
    if (qEnvironmentVariable("VUV_NET_KDC") != "1") QSKIP("no Kerberos domain (testnet.sh kdc-up)");
    QTemporaryDir dir;
    qputenv("KRB5_CONFIG", environment("VUV_NET_KRB5_CONFIG").toLocal8Bit());
    qputenv("KRB5CCNAME", ("FILE:" + dir.filePath("ccache")).toLocal8Bit());
    QVERIFY(kerberosWorkerArguments().empty());  // no ticket yet
    QProcess kinit;
    kinit.start("kinit", {environment("VUV_NET_KDC_USER") + "@" + environment("VUV_NET_KDC_REALM")});
    kinit.write((environment("VUV_NET_KDC_PASSWORD") + "\n").toLocal8Bit());
    kinit.closeWriteChannel();
    QVERIFY(kinit.waitForFinished(30000) && kinit.exitCode() == 0);

    session::SessionOptions options;
    options.workerArguments = kerberosWorkerArguments();
    QCOMPARE(options.workerArguments, (std::vector<std::string>{"--kerberos", "desired"}));
    const QString saved = dir.filePath("lab.brk");
    {
      QFile file(saved);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(("2LAB\n1" + environment("VUV_NET_KDC_HOST") + "\n0Secure\n").toUtf8());
    }
    RealWindow real(options);
    int asked = 0;
    QObject::connect(&real.prompt, &DialogCredentialPrompt::dialogShown, [&](CPasswordDlg* dialog) {
      ++asked;
      dialog->reject();
    });
    BoxAnswerer boxes;
    QVERIFY(real.window->openTreeFile(saved));
    real.select("Secure");
    const QStringList rows = real.search(boxes);
    const QString share = "\\\\" + environment("VUV_NET_KDC_HOST") + "\\Secure\\";
    QVERIFY2(rows.contains(share + "plan.txt") && rows.contains(share + "reports\\q1.txt"),
             qPrintable(rows.join(' ')));
    QCOMPARE(asked, 0);
    qunsetenv("KRB5CCNAME");
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::WindowNetworkDialogsTest)
#include "window_network_dialogs_test.moc"
