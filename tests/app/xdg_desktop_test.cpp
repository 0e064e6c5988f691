// The real desktop side: stand-in xdg-mime and xdg-open scripts first on PATH record the
// argument lists they are started with, and a file manager on a private session bus records
// ShowItems. Run under dbus-run-session with private_session_bus.conf.
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "fake_backend.h"
#include "app/desktop/xdg_desktop.h"
#include "app/results/result_model.h"
#include "app/ui/command_ids.h"
#include "app/ui/main_dlg.h"

namespace vuv::app::test {

// Answers ShowItems as a desktop's file manager does.
class FileManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

 public:
  QStringList shown;

 public slots:
  void ShowItems(const QStringList& uris, const QString& startupId) {
    Q_UNUSED(startupId);
    shown += uris;
  }
};

class XdgDesktopTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir bin_;
  QString record_;

  // The stand-in `name`: records "name|arg|arg..." as one line, then runs `body`.
  void standIn(const QString& name, const QString& body) {
    QFile script(bin_.filePath(name));
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write(QString("#!/bin/sh\n"
                         "{ printf '%s' \"${0##*/}\"; for a; do printf '|%s' \"$a\"; done; "
                         "echo; } >> '%1'\n%2\n")
                     .arg(record_, body)
                     .toUtf8());
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  }

  QStringList recorded() {
    QFile file(record_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  // The window on the real desktop side with one selected row.
  struct Window {
    explicit Window(const ResultRow& row) : window(backend) {
      window.setDesktop(desktop);
      backend.events().rows({row});
      if (!QTest::qWaitFor([this] { return window.resultModel().rowCount() == 1; })) {
        qFatal("the row never reached the list");
      }
      auto* list = window.findChild<QTreeView*>("resultList");
      list->setCurrentIndex(window.resultModel().index(0, 0));
    }
    XdgDesktop desktop;
    FakeBackend backend;
    CMainDlg window;
  };

  // A name the shell would take apart, were one involved.
  const std::string kItem = "\\\\srv\\share\\dir\\a;b $(touch x)'.txt";
  const QString kItemUrl = "smb://srv/share/dir/a%3Bb%20%24%28touch%20x%29%27.txt";

 private slots:
  void initTestCase() {
    QVERIFY(bin_.isValid());
    record_ = bin_.filePath("record");
    qputenv("PATH", (bin_.path() + ':' + qgetenv("PATH")).toUtf8());
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
    standIn("xdg-open", "exit 0");
  }

  void init() { QFile::remove(record_); }

  void theSmbHandlerIsAskedOnceAndReadFromXdgMime() {
    struct Case {
      const char* body;
      bool handler;
    };
    const Case cases[] = {
        {"echo other.desktop", true},
        {"echo", false},                            // nothing registered
        {"echo other.desktop; exit 3", false},      // failed
        {"exec sleep 30", false},                   // hangs: nothing after a brief wait
    };
    for (const Case& c : cases) {
      QFile::remove(record_);
      standIn("xdg-mime", c.body);
      XdgDesktop desktop;
      QElapsedTimer clock;
      clock.start();
      QCOMPARE(desktop.canOpenSmbUrls(), c.handler);
      QVERIFY(clock.elapsed() < 3000);
      QCOMPARE(desktop.canOpenSmbUrls(), c.handler);
      QCOMPARE(recorded(), QStringList{"xdg-mime|query|default|x-scheme-handler/smb"});
    }
    // Not installed: PATH holds only the stand-ins, and xdg-mime is not among them.
    QFile::remove(bin_.filePath("xdg-mime"));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin_.path().toUtf8());
    XdgDesktop desktop;
    QVERIFY(!desktop.canOpenSmbUrls());
    qputenv("PATH", path);
  }

  // With an smb handler xdg-open gets the URL as one argument; without one, the local copy.
  void openFileStartsXdgOpenWithTheUrlOrTheLocalCopy() {
    standIn("xdg-mime", "echo other.desktop");
    Window withHandler(fileRow(kItem, 1));
    withHandler.window.OnCommand(ID_POPUP_OPEN_FILE);
    QTRY_COMPARE(recorded().size(), 2);
    QCOMPARE(recorded().at(1), "xdg-open|" + kItemUrl);

    standIn("xdg-mime", "echo");
    Window w(fileRow(kItem, 1));
    w.window.OnCommand(ID_POPUP_OPEN_FILE);
    QCOMPARE(w.backend.copies.size(), std::size_t{1});
    const QString copy = QString::fromStdString(w.backend.copies[0].folder) + "/a;b $(touch x)'.txt";
    w.backend.events().copyFinished(CopyOutcome{false, std::nullopt, copy.toStdString()});
    QTRY_COMPARE(recorded().size(), 4);
    QCOMPARE(recorded().at(3), "xdg-open|" + copy);
    QDir(QString::fromStdString(w.backend.copies[0].folder) + "/..").removeRecursively();
  }

  void openFolderAsksTheFileManagerElseOpensTheFolder() {
    standIn("xdg-mime", "echo other.desktop");
    Window w(fileRow(kItem, 1));
    {
      FileManager manager;
      QDBusConnection bus = QDBusConnection::sessionBus();
      QVERIFY(bus.registerService("org.freedesktop.FileManager1"));
      QVERIFY(bus.registerObject("/org/freedesktop/FileManager1", &manager,
                                 QDBusConnection::ExportAllSlots));
      w.window.OnCommand(ID_TB_OPEN_FOLDER);
      QTRY_COMPARE(manager.shown, QStringList{kItemUrl});
      bus.unregisterObject("/org/freedesktop/FileManager1");
      QVERIFY(bus.unregisterService("org.freedesktop.FileManager1"));
    }
    QTest::qWait(200);
    QCOMPARE(recorded().size(), 1);  // the query only: the file manager took it

    w.window.OnCommand(ID_TB_OPEN_FOLDER);
    QTRY_COMPARE(recorded().size(), 2);
    QCOMPARE(recorded().at(1), QString("xdg-open|smb://srv/share/dir"));
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::XdgDesktopTest)
#include "xdg_desktop_test.moc"
