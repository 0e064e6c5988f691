// The real desktop side: stand-in xdg-mime and xdg-open scripts first on PATH record the
// argument lists they are started with, and a file manager on a private session bus records
// ShowItems. Run under dbus-run-session with private_session_bus.conf.
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/desktop/xdg_desktop.h"

namespace vuv::app::test {

// Answers ShowItems as a desktop's file manager does.
class FileManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

 public:
  QStringList shown;

 public slots:
  void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
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
    script.write(QString("#!/bin/sh\n{ printf '%s' \"${0##*/}\"; for a; do printf '|%s' \"$a\"; done; echo; } >> '%1'\n%2\n")
                     .arg(record_, body).toUtf8());
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  }

  // Whole lines only: a stand-in still running may have written half of its line.
  QStringList recorded() {
    QFile file(record_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QString text = QString::fromUtf8(file.readAll());
    return text.left(text.lastIndexOf('\n') + 1).split('\n', Qt::SkipEmptyParts);
  }

  // A name the shell would take apart, were one involved.
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
    const struct {
      const char* body;
      bool handler;
    } cases[] = {
        {"echo other.desktop", true},
        {"echo", false},                        // nothing registered
        {"echo other.desktop; exit 3", false},  // failed
        {"exec sleep 30", false},               // hangs: nothing after a brief wait
    };
    for (const auto& c : cases) {
      QFile::remove(record_);
      standIn("xdg-mime", c.body);
      XdgDesktop desktop;
      QCOMPARE(desktop.canOpenSmbUrls(), c.handler);
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

  // xdg-open gets the URL or the path as one argument, however the shell would take it apart.
  void openStartsXdgOpenWithOneArgument() {
    XdgDesktop desktop;
    QVERIFY(desktop.openUrl(kItemUrl));
    const QString local = bin_.filePath("a;b $(touch x)'.txt");
    QVERIFY(desktop.openLocalFile(local));
    QTRY_COMPARE(recorded().size(), 2);
    QCOMPARE(recorded().at(0), "xdg-open|" + kItemUrl);
    QCOMPARE(recorded().at(1), "xdg-open|" + local);
  }

  // The file manager takes ShowItems; without one on the bus, the fallback runs. Replies come
  // in order: once the second fallback ran, the first call's answer is in.
  void showItemAsksTheFileManagerElseFallsBack() {
    XdgDesktop desktop;
    int fallbacks[2] = {0, 0};
    FileManager manager;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(bus.registerService("org.freedesktop.FileManager1"));
    QVERIFY(bus.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportAllSlots));
    desktop.showItem(kItemUrl, [&] { ++fallbacks[0]; });
    QTRY_COMPARE(manager.shown, QStringList{kItemUrl});
    bus.unregisterObject("/org/freedesktop/FileManager1");
    QVERIFY(bus.unregisterService("org.freedesktop.FileManager1"));
    desktop.showItem(kItemUrl, [&] { ++fallbacks[1]; });
    QTRY_COMPARE(fallbacks[1], 1);
    QCOMPARE(fallbacks[0], 0);
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::XdgDesktopTest)
#include "xdg_desktop_test.moc"
